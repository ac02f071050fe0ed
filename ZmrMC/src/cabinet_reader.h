// Reads named entries out of a Microsoft Cabinet held in memory (libmspack, with an I/O layer of its own that
// serves the cabinet from memory and extracts into memory: nothing is written to disk).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zmrmc {

// The largest entry that is extracted; a longer one counts as unreadable.
constexpr uint32_t kLargestCabinetEntry = 64u << 20;

struct CabinetEntries {
    // The entries found, by the name asked for; an entry asked for but absent has no key.
    std::map<std::string, std::vector<uint8_t>> found;
};

// Extracts the entries whose names equal one of `names` ignoring ASCII case; every other entry is skipped.
// Nothing when the bytes are not a readable cabinet, when an entry asked for cannot be extracted whole
// (damaged data, failed checksum, longer than kLargestCabinetEntry), or when two entries match one name.
std::optional<CabinetEntries> ExtractCabinetEntries(const std::vector<uint8_t>& cabinet,
                                                    const std::vector<std::string>& names);

}  // namespace zmrmc
