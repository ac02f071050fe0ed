// The operating-system codes and the conventional-memory cut-off table.

#include "conventional_memory_table.h"
#include "os_identity.h"

#include <gtest/gtest.h>

#include <map>

using zmrmc::ComputeOsCodes;
using zmrmc::OsFacts;

namespace {

OsFacts Facts(uint32_t platform, uint32_t major, uint32_t minor, const char* sp, bool wow64 = false,
              std::optional<uint16_t> native = 0) {
    OsFacts f;
    f.version = {platform, major, minor, sp};
    f.wow64 = wow64;
    f.nativeArchitecture = native;
    f.language = 0x0409;
    return f;
}

}  // namespace

TEST(OsCodes, TableOfWindowsDescriptions) {
    struct Case {
        OsFacts facts;
        const char* os;
        const char* release;
    } cases[] = {
        {Facts(2, 4, 0, "Service Pack 6a"), "NT40", "SP6"},
        {Facts(2, 3, 51, "Service Pack 5"), "NT351", "SP5"},
        {Facts(2, 5, 0, "Service Pack 4"), "WIN2000", "SP4"},
        {Facts(2, 5, 1, "Service Pack 2"), "WINXP32P", "SP2"},
        {Facts(2, 5, 1, ""), "WINXP32P", "SP"},
        {Facts(2, 5, 1, "Service Pack 12 build 7"), "WINXP32P", "SP12"},
        {Facts(2, 5, 1, "Service Pack 2", true, 0), "WINXP32P", "SP2"},
        {Facts(2, 5, 2, "Service Pack 1", true, 6), "WINXP64I", "SP1"},
        {Facts(2, 5, 2, "Service Pack 2", true, 9), "WINXP64X", "SP2"},
        {Facts(2, 5, 2, "", true, 5), "UNKNOWN_WIN32", "SP"},
        {Facts(2, 5, 2, "", true, std::nullopt), "", "SP"},
        {Facts(2, 6, 0, "Service Pack 1"), "UNKNOWN_WIN32", "SP1"},
        {Facts(1, 4, 90, " A "), "WINME", "OEM"},
        {Facts(1, 4, 10, " A "), "WIN98", "OEM"},
        {Facts(1, 4, 0, ""), "WIN95", "OEM"},  // no registry key
        {Facts(3, 5, 1, "Service Pack 2"), "", ""},
    };
    for (const auto& c : cases) {
        auto codes = ComputeOsCodes(c.facts);
        EXPECT_EQ(codes.os, c.os) << c.facts.version.major << "." << c.facts.version.minor;
        EXPECT_EQ(codes.serviceRelease, c.release) << c.facts.version.major << "." << c.facts.version.minor;
        EXPECT_EQ(codes.language, "US");
    }
}

TEST(OsCodes, Windows95ReleaseFromTheRegistry) {
    struct Case {
        std::map<std::string, std::string> values;
        const char* release;
    } cases[] = {
        {{{"SubVersionNumber", " A "}}, "OSR1"},
        {{{"SubVersionNumber", "C"}}, "OSR25"},
        {{{"SubVersionNumber", "B"}, {"VersionNumber", "4.00.1111"}}, "OSR2"},
        {{{"SubVersionNumber", "B"}, {"VersionNumber", "4.00.950"}}, "OSR21"},
        {{{"SubVersionNumber", "D"}}, "OEM"},
        {{}, "OEM"},
    };
    for (const auto& c : cases) {
        OsFacts f = Facts(1, 4, 0, "");
        f.readCurrentVersion = [&](const char* name) -> std::optional<std::string> {
            auto it = c.values.find(name);
            return it == c.values.end() ? std::string() : it->second;
        };
        EXPECT_EQ(ComputeOsCodes(f).serviceRelease, c.release);
    }
}

TEST(OsCodes, LanguageTable) {
    const std::pair<uint16_t, const char*> cases[] = {{0x0C0C, "FC"}, {0x040F, "US"}, {0x1234, "US"}, {0x0000, "US"},
                                                      {0x0416, "BR"}, {0x0804, "CH"}, {0x0407, "GR"}, {0x400A, "SP"},
                                                      {0x041F, "TR"}, {0x0411, "JP"}};
    for (const auto& [id, code] : cases) EXPECT_STREQ(zmrmc::LanguageCode(id), code) << std::hex << id;
}

TEST(ConventionalMemoryTable, FamilyAndCutOffDate) {
    struct Case {
        const char* family;
        const char* date;
        bool without;
    } cases[] = {
        {"686T", "08/07/2000", true},  {"686t", "12/31/2003", true},
        {"686T", "08/06/2000", false}, {"786K", "06/01/2000", true},
        {"786K", "05/31/2000", false}, {"786K", "01/01/1999", false},
        {"786D", "06/01/2005", false}, {"", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(zmrmc::CallWithoutConventionalMemory(c.family, c.date), c.without) << c.family << " " << c.date;
    EXPECT_LT(zmrmc::CompareFirmwareDates("12/31/1999", "01/01/2000"), 0);
    EXPECT_GT(zmrmc::CompareFirmwareDates("02/01/2000", "01/31/2000"), 0);
}
