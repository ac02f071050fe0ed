// The firmware access object: the transport to the firmware (the library's driver, or the firmware's own
// instrumentation call gate) and the system identity read through it.
//
// One per process, created by ZmrMCInit; destroying it (when the library unloads) releases held conventional
// memory, closes the driver handle and removes what the driver installation created. Without an open
// transport every call fails the way an unreachable firmware fails: FALSE, status byte 250.
#pragma once

#include "ZmrMC.h"
#include "driver_installation.h"
#include "driver_transport.h"
#include "system_identity.h"

#include <string>

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
    bool DriverOpen() const { return transport_.IsOpen(); }
    DriverTransport& Transport() { return transport_; }

    // A 32-bit INT 15h call and a 16-bit interrupt call; `status` receives the firmware status byte.
    bool CallInt15(ZmrMCRegisterBlock* regs, int size, unsigned char* status);
    bool CallInterrupt(int interrupt, ZmrMCRegisterBlock* regs, int size, unsigned char* status);

    // The one-shot network boot byte (E845h, sub-function 71h).
    bool PxeNextBoot(char* value, bool set);
    bool SecuritySettings(const void* command, int length, unsigned char* status);

    // Setup password state, lock state and system objects (driver requests; the status byte of an object
    // request is not examined).
    bool SetupPasswordSet();
    bool ChangeLockState(const char* password, uint16_t length, bool lock, unsigned char* status);
    bool ObjectListSize(uint32_t* size);
    bool ObjectList(void* list, uint32_t size);
    bool ObjectInfo(uint16_t index, void* info, uint32_t length);
    bool ObjectValue(uint16_t index, void* value, uint32_t length);
    bool SetObjectValue(uint16_t index, const void* value, uint32_t length);

    // The machine's identity as read when the transport opened.
    const SystemIdentity& Identity() const { return identity_; }

private:
    SystemIdentity identity_;
    DriverTransport transport_;
    DriverInstallation installation_;
    // ROM family and SMBIOS BIOS release date (read with the system identity); they decide whether a 16-bit
    // call gets a conventional-memory block.
    std::string rom_family_;
    std::string bios_release_date_;
};

}  // namespace zmrmc
