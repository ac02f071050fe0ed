// The firmware access object: the transport to the firmware (the library's driver, or the firmware's own
// instrumentation call gate) and the system identity read through it.
//
// One per process, created by ZmrMCInit. Until a transport is open every call fails the way an unreachable
// firmware fails: FALSE, status byte 250, status code 0x80004005.
#pragma once

#include "ZmrMC.h"

namespace zmrmc {

class FirmwareAccess {
public:
    FirmwareAccess();
    ~FirmwareAccess();
    FirmwareAccess(const FirmwareAccess&) = delete;
    FirmwareAccess& operator=(const FirmwareAccess&) = delete;

    // Opens the transport: an already running driver of a recent enough version when `open_existing`,
    // else (when `install_driver`) the driver written from the library's resources.
    void Open(bool open_existing, bool install_driver);

    // The firmware can be reached: a driver is open, or the SMBIOS table is available.
    bool Reachable() const;

    // A 32-bit INT 15h call and a 16-bit interrupt call; `status` receives the firmware status byte.
    bool CallInt15(ZmrMCRegisterBlock* regs, int size, unsigned char* status);
    bool CallInterrupt(int interrupt, ZmrMCRegisterBlock* regs, int size, unsigned char* status);

private:
    bool driver_open_ = false;
};

}  // namespace zmrmc
