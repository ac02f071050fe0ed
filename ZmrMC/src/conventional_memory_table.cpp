#include "conventional_memory_table.h"

#include <cstdlib>
#include <strings.h>

namespace zmrmc {
namespace {

struct CutOff {
    const char* family;
    const char* date;
};

// Older desktop ROM families whose real-mode data pointer handling changed from a given BIOS release on.
const CutOff kWithoutBlock[] = {
    {"686T", "08/07/2000"},
    {"786K", "06/01/2000"},
};

struct Date {
    long year = 0, month = 0, day = 0;
};

Date Parse(const std::string& text) {
    Date d;
    d.month = std::strtol(text.substr(0, 2).c_str(), nullptr, 10);
    if (text.size() > 3) d.day = std::strtol(text.substr(3, 2).c_str(), nullptr, 10);
    if (text.size() > 6) d.year = std::strtol(text.substr(6, 4).c_str(), nullptr, 10);
    return d;
}

}  // namespace

int CompareFirmwareDates(const std::string& a, const std::string& b) {
    Date x = Parse(a), y = Parse(b);
    if (x.year != y.year) return x.year < y.year ? -1 : 1;
    if (x.month != y.month) return x.month < y.month ? -1 : 1;
    if (x.day != y.day) return x.day < y.day ? -1 : 1;
    return 0;
}

bool CallWithoutConventionalMemory(const std::string& romFamily, const std::string& biosReleaseDate) {
    for (const auto& entry : kWithoutBlock)
        if (strcasecmp(romFamily.c_str(), entry.family) == 0 && CompareFirmwareDates(biosReleaseDate, entry.date) >= 0)
            return true;
    return false;
}

}  // namespace zmrmc
