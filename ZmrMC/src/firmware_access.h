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
#include "firmware_call_gate.h"
#include "smbios_store.h"
#include "system_identity.h"

#include <string>

namespace zmrmc {

class FirmwareAccess {
public:
    // `instrumentation` is the SMBIOS store's first source (the operating system's raw SMBIOS class); the
    // physical-memory source reads through the driver.
    explicit FirmwareAccess(SmbiosInstrumentationSource instrumentation = {});
    ~FirmwareAccess();
    FirmwareAccess(const FirmwareAccess&) = delete;
    FirmwareAccess& operator=(const FirmwareAccess&) = delete;

    // Opens the transport: an already running driver of a recent enough version when `open_existing`,
    // else (when `install_driver`) the driver written from the library's resources. Then reads the system
    // identity once.
    void Open(bool open_existing, bool install_driver);

    // The firmware can be reached: a driver is open, or the SMBIOS table is available.
    bool Reachable() const;
    bool SmbiosAvailable() const { return identity_.smbios; }
    bool DriverOpen() const { return transport_.IsOpen(); }
    DriverTransport& Transport() { return transport_; }

    // A 32-bit INT 15h call and a 16-bit interrupt call; `status` receives the firmware status byte.
    bool CallInt15(ZmrMCRegisterBlock* regs, int size, unsigned char* status);
    bool CallInterrupt(int interrupt, ZmrMCRegisterBlock* regs, int size, unsigned char* status);

    // The one-shot network boot byte (E845h, sub-function 71h).
    bool PxeNextBoot(char* value, bool set);
    bool SecuritySettings(const void* command, int length, unsigned char* status);

    // Setup password state: the firmware's call gate is asked first, the driver when the gate cannot answer.
    bool SetupPasswordSet();
    // Lock state and system objects (driver requests; the status byte of an object request is not examined).
    bool ChangeLockState(const char* password, uint16_t length, bool lock, unsigned char* status);
    bool ObjectListSize(uint32_t* size);
    bool ObjectList(void* list, uint32_t size);
    bool ObjectInfo(uint16_t index, void* info, uint32_t length);
    bool ObjectValue(uint16_t index, void* value, uint32_t length);
    bool SetObjectValue(uint16_t index, const void* value, uint32_t length);

    // The machine's identity as read when the transport opened.
    const SystemIdentity& Identity() const { return identity_; }

    // Identity texts. The returned references stay valid (and may change content) while this object lives.
    // SMBIOS BIOS texts are re-read from the table copy on every request; the system and base-board strings
    // once; the serial number when first asked for; asset tag and ownership on every request.
    const std::string& SmbiosBiosVersion();
    const std::string& SmbiosBiosReleaseDate();
    struct SmbiosNames {
        std::string manufacturer, product, version, serial;            // system (type 1)
        std::string board_manufacturer, board_product, board_version;  // base board (type 2)
    };
    const SmbiosNames& Names();
    const std::string& SerialNumber();
    const std::string& AssetTag();
    const std::string& OwnershipString();
    bool SetAssetTag(const char* tag);

    // The SMBIOS entry point the driver handed over at opening: structure count and table length, and the
    // table read from its address through the driver. False without SMBIOS (or that entry point).
    bool SmbiosTableSize(int* structureCount, int* tableLength) const;
    bool ReadSmbiosTable(void* buffer, int length);

    SmbiosStore& Smbios() { return smbios_; }
    FirmwareCallGate& Gate() { return gate_; }

private:
    void ReadIdentity();
    void ReadBiosStrings();
    std::string RomText(uint32_t address, uint32_t length);

    SystemIdentity identity_;
    FirmwareCallGate gate_;
    DriverTransport transport_;
    DriverInstallation installation_;
    SmbiosStore smbios_;
    uint8_t driver_entry_[kSmbiosEntryPointCopy] = {};  // as the driver handed it over; zero when it did not
    std::string bios_version_;
    std::string bios_release_date_;  // also decides whether a 16-bit call gets a conventional-memory block
    SmbiosNames names_;
    bool names_read_ = false;
    std::string serial_;
    std::string asset_tag_;
    std::string ownership_;
};

}  // namespace zmrmc
