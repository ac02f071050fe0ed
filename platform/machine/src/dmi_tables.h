// The SMBIOS tables of a real PC, as the kernel publishes them (/sys/firmware/dmi/tables: smbios_entry_point
// and DMI) or as `dmidecode --dump-bin` saves them (the entry point at offset 0, its table address rewritten
// to the table's offset in the file). Read at the moment they are asked for.
#pragma once

#include "qv_firmware.h"

#include <filesystem>
#include <optional>

namespace qv::machine {

struct DmiTables {
    uint8_t major = 0, minor = 0;  // the SMBIOS version the entry point announces
    Bytes table;                   // the structure table
};

// The tables at `source` (a folder of the kernel's layout or a dump file); nothing when they cannot be read or
// are not SMBIOS tables.
std::optional<DmiTables> ReadDmiTables(const std::filesystem::path& source);

// A 32-bit "_SM_" entry point (31 bytes, both checksums right) for `tables` placed at `address`: the version,
// the structure count and the largest structure come from the table itself. Nothing when the table is longer
// than the entry point's 16-bit length can say.
std::optional<Bytes> EntryPointFor(const DmiTables& tables, uint32_t address);

}  // namespace qv::machine
