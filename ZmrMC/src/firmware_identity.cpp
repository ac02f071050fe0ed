// The firmware access object's identity: read once when the transport opens, from fixed ROM bytes, the ROM's
// system information table, the SMBIOS table and the driver; and the identity texts read on request.
#include "firmware_access.h"

#include "text_case.h"

#include <algorithm>
#include <cstring>

namespace zmrmc {
namespace {

constexpr uint32_t kMakerTag = 0xFFFEA;
constexpr uint32_t kRomVersion = 0xFFFF5;
constexpr uint32_t kFamilyLetter = 0xFFFE4;
constexpr uint32_t kFamilyDigit = 0xFFFE6;
constexpr uint32_t kFamilyRevision = 0xFFFE7;
constexpr uint32_t kSystemInformationLimit = 1024;  // the table is read up to this many bytes
constexpr uint32_t kCarry = 1;

// A 58-byte 32-bit INT 15h block: the registers and an 18-byte data area.
struct Int15Block {
    alignas(4) uint8_t raw[58] = {};
    Int15Block() {
        regs().dataLength = 18;
        regs().dataLength2 = 18;
    }
    ZmrMCRegisterBlock& regs() { return *reinterpret_cast<ZmrMCRegisterBlock*>(raw); }
    uint8_t* data() { return raw + 40; }
    // The data area's text: a length byte, then the text.
    std::string LengthPrefixedText() {
        return std::string(reinterpret_cast<char*>(data() + 1), std::min<size_t>(data()[0], 17));
    }
};

}  // namespace

std::string FirmwareAccess::RomText(uint32_t address, uint32_t length) {
    uint8_t bytes[16] = {};
    if (length > sizeof bytes || transport_.ReadPhysical(address, bytes, length) != length) return "";
    return FieldText(bytes, length);
}

void FirmwareAccess::ReadIdentity() {
    identity_ = SystemIdentity{};
    if (!transport_.SmbiosEntryPoint(driver_entry_)) std::memset(driver_entry_, 0, sizeof driver_entry_);
    identity_.smbios = smbios_.Available();

    identity_.maker_rom = EqualsIgnoringCase(RomText(kMakerTag, 6).c_str(), "brevik");
    identity_.rom_version = RomText(kRomVersion, 8);

    SystemInformation sit;
    if (uint32_t address = transport_.SystemInformationAddress(); address != 0) {
        std::vector<uint8_t> bytes(kSystemInformationLimit);
        bytes.resize(transport_.ReadPhysical(address, bytes.data(), kSystemInformationLimit));
        sit = ParseSystemInformation(bytes);
    }

    std::optional<uint16_t> id;
    SmbiosUse use(smbios_);
    if (identity_.smbios && use.Acquire() && smbios_.VersionAtLeast(2, 0)) {
        const SmbiosNames& names = Names();
        identity_.product_name = names.product;
        SmbiosStore::Structure chassis;
        identity_.portable = smbios_.Find(3, 0, &chassis) && PortableChassis(smbios_.Byte(chassis, 5));
        id = SystemIdFromSmbiosNames(names.manufacturer, names.board_product);
    } else {
        identity_.product_name = sit.product_name.value_or("");
        identity_.portable = sit.machine_class == 2;
    }
    use.Release();

    std::string upper = identity_.product_name;
    for (char& c : upper) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
    identity_.workstation = identity_.maker_rom && upper.find("workstation") != std::string::npos;

    uint16_t driverId = 0;
    if (!id && transport_.SystemId(&driverId)) id = driverId;
    identity_.system_id = id.value_or(0);

    if (identity_.maker_rom) {
        uint8_t digit = 0, letter = 0, revision = 0;
        if (transport_.ReadPhysical(kFamilyDigit, &digit, 1) == 1 &&
            transport_.ReadPhysical(kFamilyLetter, &letter, 1) == 1 &&
            transport_.ReadPhysical(kFamilyRevision, &revision, 1) == 1)
            identity_.rom_family = RomFamilyText(digit, letter, revision, identity_.portable, identity_.system_id);
    }
    ReadBiosStrings();
}

void FirmwareAccess::ReadBiosStrings() {
    SmbiosUse use(smbios_);
    if (!use.Acquire() || !smbios_.VersionAtLeast(2, 0)) return;
    SmbiosStore::Structure bios;
    if (!smbios_.Find(0, 0, &bios)) return;
    bios_version_ = smbios_.StringAt(bios, 5);
    bios_release_date_ = smbios_.StringAt(bios, 8);
}

const std::string& FirmwareAccess::SmbiosBiosVersion() {
    ReadBiosStrings();
    return bios_version_;
}

const std::string& FirmwareAccess::SmbiosBiosReleaseDate() {
    ReadBiosStrings();
    return bios_release_date_;
}

const FirmwareAccess::SmbiosNames& FirmwareAccess::Names() {
    if (names_read_) return names_;
    SmbiosUse use(smbios_);
    if (!use.Acquire() || !smbios_.VersionAtLeast(2, 0)) return names_;
    SmbiosStore::Structure system, board;
    if (smbios_.Find(1, 0, &system)) {
        names_.manufacturer = smbios_.StringAt(system, 4);
        names_.product = smbios_.StringAt(system, 5);
        names_.version = smbios_.StringAt(system, 6);
        names_.serial = smbios_.StringAt(system, 7);
    }
    if (smbios_.Find(2, 0, &board)) {
        names_.board_manufacturer = smbios_.StringAt(board, 4);
        names_.board_product = smbios_.StringAt(board, 5);
        names_.board_version = smbios_.StringAt(board, 6);
    }
    names_read_ = true;
    return names_;
}

const std::string& FirmwareAccess::SerialNumber() {
    if (!serial_.empty()) return serial_;
    serial_ = Names().serial;
    if (!serial_.empty()) return serial_;
    Int15Block block;
    block.regs().eax = 0xE819;
    unsigned char status = 0;
    if (transport_.CallInt15(&block.regs(), sizeof block.raw, &status) && (block.regs().eflags & kCarry) == 0)
        serial_ = Trimmed(block.LengthPrefixedText());
    return serial_;
}

const std::string& FirmwareAccess::AssetTag() {
    Int15Block block;
    block.regs().eax = 0xE845;
    block.regs().ecx = 0x25;
    unsigned char status = 0;
    if (transport_.CallInt15(&block.regs(), sizeof block.raw, &status) && (block.regs().eflags & kCarry) == 0) {
        asset_tag_ = block.LengthPrefixedText();
        return asset_tag_;
    }
    {
        SmbiosUse use(smbios_);
        SmbiosStore::Structure chassis;
        if (use.Acquire() && smbios_.VersionAtLeast(2, 1) && smbios_.Find(3, 0, &chassis)) {
            asset_tag_ = smbios_.StringAt(chassis, 8);
            return asset_tag_;
        }
    }
    if (identity_.portable && identity_.maker_rom) {
        // The 16-bit call with the data in an 18-byte conventional-memory block.
        alignas(4) uint8_t raw[40 + 18] = {};
        auto& regs = *reinterpret_cast<ZmrMCRegisterBlock*>(raw);
        regs.eax = 0xE845;
        regs.ecx = 0x25;
        if (transport_.CallInterrupt(0x15, &regs, sizeof raw, &status, false) && (regs.eflags & kCarry) == 0)
            asset_tag_ = std::string(reinterpret_cast<char*>(raw + 41), std::min<size_t>(raw[40], 17));
    }
    return asset_tag_;
}

bool FirmwareAccess::SetAssetTag(const char* tag) {
    if (tag == nullptr) return false;
    Int15Block block;
    size_t length = std::min<size_t>(std::strlen(tag), 16);
    block.regs().eax = 0xE845;
    block.regs().ebx = 1;
    block.regs().ecx = 0x25;
    block.data()[0] = static_cast<uint8_t>(length);
    std::memcpy(block.data() + 1, tag, length);
    unsigned char status = 0;
    if (!transport_.CallInt15(&block.regs(), sizeof block.raw, &status, kIoctlInt15Strings) ||
        (block.regs().eflags & kCarry) != 0)
        return false;
    asset_tag_.assign(tag, length);
    return true;
}

const std::string& FirmwareAccess::OwnershipString() {
    alignas(4) uint8_t raw[40 + 80] = {};
    auto& regs = *reinterpret_cast<ZmrMCRegisterBlock*>(raw);
    regs.eax = 0xE845;
    regs.ecx = 0x13;
    unsigned char status = 0;
    if (transport_.CallInterrupt(0x15, &regs, sizeof raw, &status, false) && (regs.eflags & kCarry) == 0)
        ownership_ = FieldText(raw + 40, 80);
    return ownership_;
}

bool FirmwareAccess::SmbiosTableSize(int* structureCount, int* tableLength) const {
    if (structureCount != nullptr) *structureCount = 0;
    if (tableLength != nullptr) *tableLength = 0;
    // SMBIOS known only from the instrumentation (no driver, as under WOW64) leaves no entry point to size or
    // read the table by: that is no table here, not an empty one.
    if (!identity_.smbios || std::memcmp(driver_entry_, "_SM_", 4) != 0) return false;
    if (structureCount != nullptr) *structureCount = driver_entry_[0x1C] | (driver_entry_[0x1D] << 8);
    if (tableLength != nullptr) *tableLength = driver_entry_[0x16] | (driver_entry_[0x17] << 8);
    return true;
}

bool FirmwareAccess::ReadSmbiosTable(void* buffer, int length) {
    if (buffer == nullptr || length <= 0) return false;
    uint32_t address = static_cast<uint32_t>(driver_entry_[0x18]) | (static_cast<uint32_t>(driver_entry_[0x19]) << 8) |
                       (static_cast<uint32_t>(driver_entry_[0x1A]) << 16) |
                       (static_cast<uint32_t>(driver_entry_[0x1B]) << 24);
    uint32_t want = static_cast<uint32_t>(length);
    return transport_.ReadPhysical(address, buffer, want) == want;
}

}  // namespace zmrmc
