// Writing every changed record (BiosSettingsWriteToSystem) and restoring the factory defaults
// (BiosSetSystemDefaults) through the library, its driver and the machine.
#include "write_fixture.h"

namespace {

using Json = nlohmann::json;

class WriterTest : public WriteTest {
protected:
    // Never-firing rules count the object writes and the E841h calls.
    enum Rule : size_t { kObjectWrites, kDefaultsCalls };
    void Start(const std::function<void(Json&)>& edit = {}) {
        ASSERT_NO_FATAL_FAILURE(Load(Profile("desktop", [&](Json& p) {
            p["faults"] = Json::array({{{"call", "object.set"}, {"nth", kArmed}, {"action", "fail"}},
                                       {{"call", "int15.E841"}, {"nth", kArmed}, {"action", "fail"}}});
            if (edit) edit(p);
        })));
    }
    std::string ShownOf(const std::string& name, const std::vector<std::string>& key = {}) {
        Read();
        SRI* record = Record(name, key);
        return record != nullptr ? Shown(record) : std::string();
    }
    void ChangeSomeSettings() {
        Read();
        SetChoice(Record("Num Lock State at Power-On"), "On");
        ASSERT_TRUE(x_.BiosSettingsSetItemInfo(Record("Num Lock State at Power-On"), nullptr));
        SetNumber(Record("Fan Idle Speed", {"Chassis Fan"}), 77);
        ASSERT_TRUE(x_.BiosSettingsSetItemInfo(Record("Fan Idle Speed", {"Chassis Fan"}), nullptr));
        SetText(Record("Asset Tracking Number"), "MINE");
        ASSERT_TRUE(x_.BiosSettingsSetItemInfo(Record("Asset Tracking Number"), nullptr));
    }
    void ExpectDefaults() {
        EXPECT_EQ(ShownOf("Num Lock State at Power-On"), "Off");
        EXPECT_EQ(ShownOf("Fan Idle Speed", {"Chassis Fan"}), "20");
        EXPECT_EQ(ShownOf("Asset Tracking Number"), "MINE");  // a tag the owner gave is no setup setting
    }
};

TEST_F(WriterTest, WriteToSystemCommitsTheRecordsMarkedChanged) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_FALSE(x_.BiosSettingsWriteToSystem(nullptr));  // nothing read yet
    Read();
    EXPECT_TRUE(x_.BiosSettingsWriteToSystem(nullptr));  // nothing marked: no firmware write
    EXPECT_EQ(Calls(kObjectWrites), 0u);

    SRI* numLock = Record("Num Lock State at Power-On");
    SRI* delay = Record("POST Delay (in seconds)");
    SRI* serial = Record("Serial Port A");
    SetChoice(numLock, "On");
    SetNumber(delay, 99);  // out of the firmware's bounds: its commit fails, the flag goes all the same
    SetChoice(serial, "Device hidden");
    SRI_SET(numLock, changed, 1u);
    SRI_SET(delay, changed, 1u);
    EXPECT_TRUE(x_.BiosSettingsWriteToSystem(nullptr));
    EXPECT_EQ(SRI_GET(numLock, changed), 0u);
    EXPECT_EQ(SRI_GET(delay, changed), 0u);
    EXPECT_EQ(Calls(kObjectWrites), 2u);
    EXPECT_EQ(ShownOf("Num Lock State at Power-On"), "On");
    EXPECT_EQ(ShownOf("POST Delay (in seconds)"), "0");
    EXPECT_EQ(ShownOf("Serial Port A"), "Device available");  // edited but not marked: not written
}

TEST_F(WriterTest, DefaultsRestoreTheProfilesValues) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(ChangeSomeSettings());
    EXPECT_TRUE(x_.BiosSetSystemDefaults(nullptr));
    EXPECT_EQ(Calls(kDefaultsCalls), 2u);  // the 32-bit call, announce and restore
    ExpectDefaults();
}

TEST_F(WriterTest, DefaultsFallBackToThe16BitCall) {
    ASSERT_NO_FATAL_FAILURE(Start([](Json& p) { p["int15"]["e841_32bit"] = false; }));
    ASSERT_NO_FATAL_FAILURE(ChangeSomeSettings());
    EXPECT_TRUE(x_.BiosSetSystemDefaults(nullptr));
    EXPECT_EQ(Calls(kDefaultsCalls), 3u);  // the refused 32-bit announce, then both 16-bit calls
    ExpectDefaults();
}

TEST_F(WriterTest, DefaultsNeedTheSetupPassword) {
    ASSERT_NO_FATAL_FAILURE(Start([](Json& p) { p["passwords"]["setup"] = "1E30"; }));
    Read("\x1E\x30");
    SetChoice(Record("Num Lock State at Power-On"), "On");
    ASSERT_TRUE(x_.BiosSettingsSetItemInfo(Record("Num Lock State at Power-On"), "<kbd/>1E30"));
    EXPECT_FALSE(x_.BiosSetSystemDefaults("<kbd/>1E31"));
    EXPECT_FALSE(x_.BiosSetSystemDefaults(nullptr));
    EXPECT_EQ(Calls(kDefaultsCalls), 0u);  // a refused unlock stops before any firmware call
    EXPECT_EQ(ShownOf("Num Lock State at Power-On"), "On");
    EXPECT_TRUE(x_.BiosSetSystemDefaults("<kbd/>1E30"));  // tagged: its scan codes unlock
    EXPECT_EQ(ShownOf("Num Lock State at Power-On"), "Off");
    EXPECT_TRUE(x_.BiosSetSystemDefaults("\x1E\x30"));  // the scan codes themselves too
    EXPECT_FALSE(State()["unlocked"].get<bool>());
}

TEST_F(WriterTest, WithoutDefaultsTheFirmwareRefuses) {
    ASSERT_NO_FATAL_FAILURE(Start([](Json& p) { p["int15"]["e841"] = false; }));
    EXPECT_FALSE(x_.BiosSetSystemDefaults(nullptr));
}

}  // namespace
