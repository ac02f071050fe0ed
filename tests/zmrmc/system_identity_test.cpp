#include "system_detection.h"
#include "system_identity.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using zmrmc::SystemIdFromSmbiosNames;

// The identifier comes from the base-board product only for the maker's manufacturers and only when what is
// left after trimming, upper-casing and dropping a final "H" is hexadecimal.
TEST(SystemIdentifier, FromTheBaseBoardProduct) {
    struct Case {
        const char* manufacturer;
        const char* product;
        std::optional<uint16_t> id;
    } cases[] = {
        {"Brevik", "1A2BH", 0x1A2B},         {"  brevik\t", " 0890h ", 0x0890},
        {"TORNELL-VOSKARD", "2a10", 0x2A10}, {"Brevik", "1G2BH", std::nullopt},  // not hexadecimal: the driver is asked
        {"Brevik", "KBC-L", std::nullopt},   {"Brevik", "H", std::nullopt},      // nothing left
        {"Brevik", "", std::nullopt},        {"Brevik", "12345H", std::nullopt},  // wider than the 16-bit identifier
        {"Brevik", "1A2BHH", std::nullopt},                                       // only one final H is dropped
        {"Generic", "1A2BH", std::nullopt},  {"Brevik Inc", "1A2BH", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SystemIdFromSmbiosNames(c.manufacturer, c.product), c.id) << c.manufacturer << " / " << c.product;
}

TEST(RomFamily, DesktopsAndOlderNotebooksAreX86Families) {
    EXPECT_EQ(zmrmc::RomFamilyText(7, 'D', ' ', false, 0x0890), "786D");
    EXPECT_EQ(zmrmc::RomFamilyText(7, 'D', 1, false, 0x0890), "786D1");
    EXPECT_EQ(zmrmc::RomFamilyText(7, 'D', 'B', false, 0x2800), "786DB");  // above 9: the character
    EXPECT_EQ(zmrmc::RomFamilyText('M', 'U', 2, true, 2007), "7786U2");    // portable below 2008
    EXPECT_EQ(zmrmc::RomFamilyText('M', 'U', 2, true, 2008), "68MU2");
    EXPECT_EQ(zmrmc::RomFamilyText('M', 'U', 2, true, 2032), "7786U2");
    EXPECT_EQ(zmrmc::RomFamilyText('M', 'U', ' ', true, 2033), "68MU");
}

TEST(SystemInformationTable, RecordsAndDamagedTables) {
    std::vector<uint8_t> sit = {'!', 'S', 'I', 'T', 7, 4, 0, 0, 0xC2, 0, 16, 5, 'N', 'o', 't', 'e', 0, 0, 0};
    zmrmc::SystemInformation info = zmrmc::ParseSystemInformation(sit);
    EXPECT_EQ(info.machine_class, 2);  // low 6 bits
    EXPECT_EQ(info.product_name, "Note");

    // A class record of 3 data bytes carries no class; a record running past the bytes ends the walk.
    info = zmrmc::ParseSystemInformation({'!', 'S', 'I', 'T', 7, 3, 0, 0, 2, 16, 200, 'X'});
    EXPECT_FALSE(info.machine_class.has_value());
    EXPECT_FALSE(info.product_name.has_value());
    EXPECT_FALSE(zmrmc::ParseSystemInformation({'!', 'S', 'I', 'X', 7, 4, 0, 0, 2, 0}).machine_class.has_value());
    EXPECT_FALSE(zmrmc::ParseSystemInformation({}).machine_class.has_value());
}

TEST(FoundDevices, EisaIdentifiersAndPciRecords) {
    const uint8_t serial[4] = {0x41, 0xD0, 0x05, 0x01};
    EXPECT_EQ(zmrmc::EisaIdText(serial), "PNP0501");
    const uint8_t ti[4] = {0x10, 0x4C, 0xAC, 0x8A};
    EXPECT_EQ(zmrmc::EisaIdText(ti), "TI AC8A");

    zmrmc::FoundDevice d = zmrmc::PciDevice(0x24CA8086, 0x0007, 0x01018A01, 0x3009103C);
    EXPECT_EQ(d.state, 0u);
    EXPECT_EQ(d.class_bit, 1u << 1);
    EXPECT_EQ(d.class_detail, 0x018A);
    EXPECT_EQ(d.revision, 0x8A01);
    EXPECT_EQ(d.subsystem, 0x3009103Cu);
    EXPECT_EQ(zmrmc::PciDevice(1, 0x0004, 0x03000000, 0).state, 1u);  // bus mastering alone decodes nothing
    EXPECT_EQ(zmrmc::PciDevice(1, 0x0002, 0x03000000, 0).state, 2u);
    EXPECT_EQ(zmrmc::PciDevice(1, 0x0001, 0x40000000, 0).class_bit, 1u);  // base class 64 wraps modulo 32
}

}  // namespace
