#include "settings_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(Bytes& b, uint32_t v) {
    PutU16(b, static_cast<uint16_t>(v));
    PutU16(b, static_cast<uint16_t>(v >> 16));
}
void PutText(Bytes& b, const std::string& text) {
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0);
}

// A string table object: name ID, the texts, then the 0xFFFF end mark.
Bytes StringTable(uint16_t name, const std::vector<std::string>& texts) {
    Bytes b;
    PutU16(b, name);
    for (const auto& t : texts) PutText(b, t);
    PutU16(b, 0xFFFF);
    return b;
}

zmrmc::ObjectInfo Info(uint16_t type, size_t size, uint16_t flags = 0, std::vector<uint16_t> path = {}) {
    zmrmc::ObjectInfo info;
    info.type = type;
    info.flags = flags;
    info.size = static_cast<uint32_t>(size);
    for (size_t i = 0; i < path.size() && i < 6; ++i) info.path[i] = path[i];
    return info;
}

// Names used by the fixture's language table.
enum : uint16_t {
    kLanguage = 0,
    kTable = 1,
    kBootMode = 2,
    kEnabled = 3,
    kDisabled = 4,
    kAsset = 5,
    kLegacy = 6,
    kVolume = 7,
    kSetupPwd = 8,
    kOrder = 9,
    kPort = 10,
    kPortA = 11,
    kPortB = 12,
    kHidden = 13,
    kMenu = 14,
    kFan = 15,
};
const std::vector<std::string> kEnglish = {
    "English",        "Language",   "Boot Mode", "Enable", "Disable", "Asset Tag", "Legacy Devices", "Volume",
    "Setup Password", "Boot Order", "Port Mode", "Port A", "Port B",  "--",        "Main",           "Fan"};

class SettingsModelTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(model_.BeginRead()); }

    bool Add(const zmrmc::ObjectInfo& info, const Bytes& value) {
        return model_.AddObject(next_index_++, info, value.data(), value.size());
    }
    void AddEnglishTable() {
        Bytes table = StringTable(kTable, kEnglish);
        ASSERT_TRUE(Add(Info(SRI_TYPE_STRING_TABLE, table.size()), table));
    }

    zmrmc::SettingsModel model_;
    uint16_t next_index_ = 1;
};

TEST_F(SettingsModelTest, EnumerationRecord) {
    AddEnglishTable();
    Bytes v;
    PutU16(v, kBootMode);
    PutU16(v, 1);
    PutU16(v, kEnabled);
    PutU16(v, kDisabled);
    PutU16(v, 0xFFFF);
    ASSERT_TRUE(Add(Info(SRI_TYPE_ENUM, v.size(), 0x10, {kMenu, kBootMode}), v));
    SRI* sri = model_.Find(kBootMode, nullptr);
    ASSERT_NE(sri, nullptr);
    EXPECT_EQ(sri->size, sizeof(SRI));
    EXPECT_EQ(sri->objectIndex, 2);
    EXPECT_EQ(sri->flags, 0x10);
    EXPECT_EQ(sri->pathDepth, 2);
    EXPECT_EQ(sri->path[1], kBootMode);
    EXPECT_EQ(sri->path[2], 0xFFFF);
    EXPECT_EQ(sri->currentIndex, 1);
    EXPECT_EQ(sri->elementCount, 3);  // the list may end early at 0xFFFF
    EXPECT_EQ(+sri->valueSize, 6u);
    const auto* choices = static_cast<const uint16_t*>(sri->value);
    EXPECT_EQ(choices[0], kEnabled);
    EXPECT_EQ(choices[1], kDisabled);
    for (uint16_t key : sri->instanceKey) EXPECT_EQ(key, 0xFFFF);
    EXPECT_EQ(sri->prereqCount, 0);
    EXPECT_EQ(static_cast<const char*>(sri->prereqs), nullptr);
}

TEST_F(SettingsModelTest, TextIntegerAndOrderedListRecords) {
    AddEnglishTable();
    Bytes text;
    PutU16(text, kAsset);
    PutText(text, "ABCDEFGH");  // 9 bytes of text area, cut to 8 characters and terminated
    ASSERT_TRUE(Add(Info(SRI_TYPE_TEXT, 2 + 8), text));
    SRI* asset = model_.Find(kAsset, nullptr);
    EXPECT_EQ(asset->upperBound, 8u);
    EXPECT_EQ(+asset->valueSize, 8u);
    EXPECT_EQ(asset->elementCount, 1);
    EXPECT_STREQ(static_cast<const char*>(asset->value), "ABCDEFG");

    Bytes integer;
    PutU16(integer, kVolume);
    PutU32(integer, 1);
    PutU32(integer, 10);
    PutU32(integer, 7);
    ASSERT_TRUE(Add(Info(SRI_TYPE_INTEGER, 14), integer));
    SRI* volume = model_.Find(kVolume, nullptr);
    EXPECT_EQ(volume->lowerBound, 1u);
    EXPECT_EQ(volume->upperBound, 10u);
    EXPECT_EQ(*static_cast<const uint32_t*>(volume->value), 7u);

    Bytes order;
    PutU16(order, kOrder);
    PutU16(order, kPortB);
    PutU16(order, kPortA);
    ASSERT_TRUE(Add(Info(SRI_TYPE_ORDERED_LIST, order.size()), order));
    EXPECT_EQ(model_.Find(kOrder, nullptr)->elementCount, 2);
}

TEST_F(SettingsModelTest, PasswordRecords) {
    AddEnglishTable();
    Bytes sha;
    PutU16(sha, kSetupPwd);
    std::string digest(40, 'f');
    sha.insert(sha.end(), digest.begin(), digest.end());
    sha.push_back(0);
    ASSERT_TRUE(Add(Info(SRI_TYPE_PASSWORD, 43), sha));  // 43 bytes: a SHA1 digest in text form
    SRI* framed = model_.Find(kSetupPwd, nullptr);
    EXPECT_EQ(framed->upperBound, 128u);
    EXPECT_EQ(+framed->valueSize, 128u);
    EXPECT_EQ(std::string(static_cast<const char*>(framed->value)), "<SHA1>" + digest + "</SHA1>");

    Bytes plain;
    PutU16(plain, kSetupPwd);
    PutText(plain, "1E30");
    ASSERT_TRUE(Add(Info(SRI_TYPE_PASSWORD, plain.size()), plain));
    EXPECT_STREQ(static_cast<const char*>(model_.At(2)->value), "1E30");
}

TEST_F(SettingsModelTest, LongPasswordValueStaysTerminated) {
    AddEnglishTable();
    Bytes big;
    PutU16(big, kSetupPwd);
    big.insert(big.end(), 200, 'x');  // fills the whole value: no terminator from the firmware
    ASSERT_TRUE(Add(Info(SRI_TYPE_PASSWORD, big.size()), big));
    SRI* sri = model_.Find(kSetupPwd, nullptr);
    EXPECT_EQ(+sri->valueSize, 200u);
    EXPECT_EQ(std::strlen(static_cast<const char*>(sri->value)), 199u);
}

TEST_F(SettingsModelTest, KeyedRecordsAndFindWithKey) {
    AddEnglishTable();
    auto keyed_enum = [&](uint16_t key0, uint16_t current) {
        Bytes v;
        PutU16(v, kPort);
        PutU16(v, current);
        for (uint16_t k : {key0, uint16_t{0xFFFF}, uint16_t{0xFFFF}, uint16_t{0xFFFF}}) PutU16(v, k);
        PutU16(v, kEnabled);
        PutU16(v, kDisabled);
        ASSERT_TRUE(Add(Info(SRI_TYPE_KEYED_ENUM, v.size()), v));
    };
    keyed_enum(kPortA, 0);
    keyed_enum(kPortB, 1);
    const uint16_t key_b[4] = {kPortB, 0xFFFF, 0xFFFF, 0xFFFF};
    SRI* b = model_.Find(kPort, key_b);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->currentIndex, 1);
    EXPECT_EQ(b->elementCount, 2);
    EXPECT_EQ(model_.Find(kPort, nullptr)->instanceKey[0], kPortA);  // no key: the first of the name
    const uint16_t key_none[4] = {kVolume, 0xFFFF, 0xFFFF, 0xFFFF};
    EXPECT_EQ(model_.Find(kPort, key_none), nullptr);

    Bytes v;
    PutU16(v, kFan);
    PutU32(v, 0);
    PutU32(v, 5);
    PutU32(v, 3);
    for (uint16_t k : {uint16_t{kPortA}, uint16_t{kPortB}, uint16_t{0xFFFF}, uint16_t{0xFFFF}}) PutU16(v, k);
    ASSERT_TRUE(Add(Info(SRI_TYPE_KEYED_INTEGER, v.size()), v));
    SRI* fan = model_.Find(kFan, nullptr);
    EXPECT_EQ(fan->instanceKey[1], kPortB);
    EXPECT_EQ(*static_cast<const uint32_t*>(fan->value), 3u);
    // The key is ignored for records that have none.
    EXPECT_EQ(model_.Find(kTable, key_none)->type, SRI_TYPE_STRING_TABLE);
}

TEST_F(SettingsModelTest, ByteBlocksNamedLegacyDevicesAreReadOnly) {
    AddEnglishTable();
    Bytes v;
    PutU16(v, kLegacy);
    v.insert(v.end(), {1, 2, 3});
    ASSERT_TRUE(Add(Info(SRI_TYPE_BINARY, v.size()), v));
    SRI* sri = model_.Find(kLegacy, nullptr);
    EXPECT_EQ(sri->flags & SRI_FLAG_READ_ONLY, SRI_FLAG_READ_ONLY);
    EXPECT_EQ(sri->elementCount, 3);
    EXPECT_EQ(+sri->valueSize, 3u);
}

TEST_F(SettingsModelTest, StringTableTextsAndLookups) {
    Bytes german = StringTable(kTable, {"Deutsch", "", "Startmodus"});
    ASSERT_TRUE(Add(Info(SRI_TYPE_STRING_TABLE, german.size()), german));
    EXPECT_STREQ(model_.FindString(0, nullptr), "Deutsch");  // the first table is the language table...
    EXPECT_STREQ(model_.FindString(1, nullptr), "-");        // an empty text reads back as "-"
    SRI* german_sri = model_.At(0);
    AddEnglishTable();
    EXPECT_STREQ(model_.FindString(0, nullptr), "English");  // ...until an English one comes
    EXPECT_STREQ(model_.FindString(2, german_sri), "Startmodus");
    EXPECT_STREQ(model_.FindString(3, german_sri), "");
    EXPECT_STREQ(model_.FindString(500, nullptr), "");
    EXPECT_EQ(german_sri->elementCount, 3);

    uint16_t id = 0;
    EXPECT_TRUE(model_.FindId("boot MODE", &id));
    EXPECT_EQ(id, kBootMode);
    EXPECT_TRUE(model_.FindId("english", &id));
    EXPECT_EQ(id, 0);
    EXPECT_FALSE(model_.FindId("Nothing like it", &id));
    // A type-5 record passed as a table must be one; other records hold no texts.
    Bytes v;
    PutU16(v, kVolume);
    PutU32(v, 0);
    PutU32(v, 1);
    PutU32(v, 0);
    ASSERT_TRUE(Add(Info(SRI_TYPE_INTEGER, 14), v));
    EXPECT_STREQ(model_.FindString(0, model_.Find(kVolume, nullptr)), "");
}

TEST_F(SettingsModelTest, HiddenShortAndUnknownObjectsYieldNoListedRecord) {
    AddEnglishTable();
    Bytes hidden;
    PutU16(hidden, kHidden);
    PutU16(hidden, 0);
    PutU16(hidden, kEnabled);
    EXPECT_TRUE(Add(Info(SRI_TYPE_ENUM, hidden.size()), hidden));  // built, but named "--": not listed
    Bytes shortint;
    PutU16(shortint, kVolume);
    PutU32(shortint, 1);
    EXPECT_FALSE(Add(Info(SRI_TYPE_INTEGER, 14), shortint));  // the firmware gave fewer bytes than it needs
    EXPECT_FALSE(Add(Info(SRI_TYPE_INTEGER, shortint.size()), shortint));
    Bytes unknown;
    PutU16(unknown, kVolume);
    PutU16(unknown, 0);
    EXPECT_FALSE(Add(Info(11, unknown.size()), unknown));
    EXPECT_EQ(model_.Count(), 1);
    EXPECT_EQ(model_.Find(kHidden, nullptr), nullptr);
}

TEST_F(SettingsModelTest, ReferenceCountGuardsRecords) {
    AddEnglishTable();
    model_.EndRead();
    EXPECT_TRUE(model_.ReadCompleted());
    SRI* table = model_.At(0);
    // BeginRead in SetUp took the first reference; a second read while it is held changes nothing.
    EXPECT_FALSE(model_.BeginRead());
    EXPECT_EQ(model_.At(0), table);
    EXPECT_EQ(table->type, SRI_TYPE_STRING_TABLE);
    EXPECT_EQ(model_.Release(), 1);
    EXPECT_EQ(model_.AddRef(), 2);
    EXPECT_EQ(model_.Release(), 1);
    EXPECT_EQ(model_.Release(), 0);
    EXPECT_EQ(model_.Release(), 0);  // never below 0
    EXPECT_TRUE(model_.BeginRead());
    EXPECT_EQ(model_.Count(), 0);
    EXPECT_FALSE(model_.ReadCompleted());
    EXPECT_EQ(model_.At(0), nullptr);
    EXPECT_EQ(model_.At(-1), nullptr);
}

TEST(SettingsModelConcurrency, CountChangesAreSerialised) {
    zmrmc::SettingsModel model;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                model.AddRef();
                model.AddRef();
                model.Release();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(model.AddRef(), 40001);
}

TEST(SettingRecordPrerequisites, ItemsAreSeparatedAndDoublyTerminated) {
    zmrmc::SettingRecord record;
    record.SetPrerequisites("first|second");
    EXPECT_EQ(record.sri.prereqCount, 2);
    EXPECT_EQ(record.sri.prereqSize, 14u);
    EXPECT_EQ(std::string(record.sri.prereqs, 14), std::string("first\0second\0\0", 14));
}

}  // namespace
