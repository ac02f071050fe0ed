// Reading SMBIOS tables from the kernel's files or from a dmidecode dump.

#include "dmi_tables.h"

#include "machine_store.h"
#include "smbios_entry_point.h"

#include <algorithm>
#include <cstring>

namespace fs = std::filesystem;

namespace qv::machine {
namespace {

uint32_t U32(const Bytes& b, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
uint64_t U64(const Bytes& b, size_t at) {
    uint64_t v = 0;
    std::memcpy(&v, b.data() + at, 8);
    return v;
}
uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

std::optional<Bytes> ReadBytes(const fs::path& file) {
    try {
        std::string text = ReadWholeFile(file);
        return Bytes(text.begin(), text.end());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool Starts(const Bytes& b, const char* tag) {
    size_t n = std::strlen(tag);
    return b.size() >= n && std::memcmp(b.data(), tag, n) == 0;
}

// Version, table length and table address of an entry point; false for anything else.
bool ParseEntryPoint(const Bytes& ep, DmiTables& out, uint64_t& address, uint32_t& length) {
    if (Starts(ep, "_SM_") && ep.size() >= 0x1F) {
        out.major = ep[6];
        out.minor = ep[7];
        length = U16(ep, 0x16);
        address = U32(ep, 0x18);
        return true;
    }
    if (Starts(ep, "_SM3_") && ep.size() >= 0x18) {
        out.major = ep[7];
        out.minor = ep[8];
        length = U32(ep, 0x0C);  // the table's largest size
        address = U64(ep, 0x10);
        return true;
    }
    if (Starts(ep, "_DMI_") && ep.size() >= 0x0F) {  // legacy DMI entry point
        out.major = static_cast<uint8_t>(ep[0x0E] >> 4);
        out.minor = static_cast<uint8_t>(ep[0x0E] & 15);
        length = U16(ep, 6);
        address = U32(ep, 8);
        return true;
    }
    return false;
}

// The structures up to and including the end-of-table structure (type 127), or up to the last whole one.
size_t WholeStructures(const Bytes& t, uint16_t* count, uint16_t* largest) {
    size_t at = 0;
    *count = 0;
    *largest = 0;
    while (at + 4 <= t.size()) {
        size_t start = at;
        uint8_t formatted = t[at + 1];
        if (formatted < 4 || at + formatted > t.size()) break;
        size_t end = at + formatted;
        while (end + 1 < t.size() && !(t[end] == 0 && t[end + 1] == 0)) ++end;
        if (end + 1 >= t.size()) break;
        at = end + 2;
        ++*count;
        *largest = static_cast<uint16_t>(std::min<size_t>(0xFFFF, std::max<size_t>(*largest, at - start)));
        if (t[start] == 127) break;
    }
    return at;
}

}  // namespace

std::optional<DmiTables> ReadDmiTables(const fs::path& source) {
    DmiTables tables;
    uint64_t address = 0;
    uint32_t length = 0;
    std::error_code ec;
    if (fs::is_directory(source, ec)) {
        std::optional<Bytes> ep = ReadBytes(source / "smbios_entry_point");
        std::optional<Bytes> dmi = ReadBytes(source / "DMI");
        if (!ep || !dmi || !ParseEntryPoint(*ep, tables, address, length)) return std::nullopt;
        tables.table = std::move(*dmi);
    } else {
        std::optional<Bytes> dump = ReadBytes(source);
        if (!dump || !ParseEntryPoint(*dump, tables, address, length) || address > dump->size()) return std::nullopt;
        size_t end = std::min<uint64_t>(dump->size(), address + length);
        tables.table.assign(dump->begin() + static_cast<ptrdiff_t>(address),
                            dump->begin() + static_cast<ptrdiff_t>(end));
    }
    uint16_t count = 0, largest = 0;
    tables.table.resize(WholeStructures(tables.table, &count, &largest));
    if (count == 0) return std::nullopt;
    return tables;
}

std::optional<Bytes> EntryPointFor(const DmiTables& tables, uint32_t address) {
    if (tables.table.size() > 0xFFFF) return std::nullopt;
    SmbiosTableShape shape;
    WholeStructures(tables.table, &shape.count, &shape.largest);
    shape.length = static_cast<uint16_t>(tables.table.size());
    shape.address = address;
    shape.major = tables.major;
    shape.minor = tables.minor;
    return SmbiosEntryPoint(shape);
}

}  // namespace qv::machine
