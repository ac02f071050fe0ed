// The commit's change report, fragment by fragment, over scripted native objects: what every kind of change
// reports, when a report is replaced, and the records a commit refuses. (The commit on real firmware, through
// the driver, is tested in tests/zmrmc_write.)

#include "setting_commit.h"
#include "settings_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using zmrmc::FirmwareCalls;

void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// Native objects: a string table, then one object of each kind the report covers.
class ScriptedObjects : public FirmwareCalls {
public:
    enum class Writes { kStore, kIgnore, kReverse };
    struct Object {
        uint16_t type;
        uint16_t flags;
        std::vector<uint8_t> value;
    };
    std::vector<Object> objects;
    Writes writes = Writes::kStore;
    bool password_set = false, unlock_works = true;
    std::vector<std::string> lock_calls;

    ScriptedObjects() {
        std::vector<uint8_t> table = {0, 0};
        for (const char* text :
             {"English", "Mode", "Off", "On", "Owner", "Limit", "Order", "First", "Second", "Third", "Key", "ESCD"}) {
            table.insert(table.end(), text, text + std::strlen(text) + 1);
        }
        Put16(table, 0xFFFF);
        objects.push_back({SRI_TYPE_STRING_TABLE, 2, table});
        std::vector<uint8_t> mode;  // Mode: Off, On
        for (uint16_t x : {1, 0, 2, 3, 0xFFFF}) Put16(mode, x);
        objects.push_back({SRI_TYPE_ENUM, 0, mode});
        std::vector<uint8_t> owner = {4, 0, 'o', 'l', 'd'};  // Owner: 10 characters
        owner.resize(13, 0);
        objects.push_back({SRI_TYPE_TEXT, 0, owner});
        std::vector<uint8_t> limit;  // Limit: 0..100, 7
        for (uint32_t x : {0u, 100u, 7u}) Put32(limit, x);
        limit.insert(limit.begin(), {5, 0});
        objects.push_back({SRI_TYPE_INTEGER, 0, limit});
        std::vector<uint8_t> order;  // Order: First, Second, Third
        for (uint16_t x : {6, 7, 8, 9, 0xFFFF}) Put16(order, x);
        objects.push_back({SRI_TYPE_ORDERED_LIST, 0, order});
        std::vector<uint8_t> keyed = limit;  // Limit, keyed by "Key"
        for (uint16_t x : {10, 0xFFFF, 0xFFFF, 0xFFFF}) Put16(keyed, x);
        objects.push_back({SRI_TYPE_KEYED_INTEGER, 0, keyed});
        std::vector<uint8_t> escd;  // ESCD: Off, On
        for (uint16_t x : {11, 0, 2, 3, 0xFFFF}) Put16(escd, x);
        objects.push_back({SRI_TYPE_ENUM, 0, escd});
        std::vector<uint8_t> fixed = mode;  // a read-only Mode
        objects.push_back({SRI_TYPE_ENUM, 2, fixed});
    }

    bool ObjectListSize(uint32_t* size) override {
        *size = static_cast<uint32_t>(4 + 8 * objects.size());
        return true;
    }
    bool ObjectList(void* list, uint32_t size) override {
        std::vector<uint8_t> out;
        Put16(out, static_cast<uint16_t>(objects.size()));
        Put16(out, 0);
        for (size_t i = 0; i < objects.size(); ++i) {
            Put16(out, static_cast<uint16_t>(i));
            Put16(out, objects[i].type);
            Put16(out, static_cast<uint16_t>(objects[i].value.size()));
            Put16(out, 0);
        }
        std::memcpy(list, out.data(), std::min<size_t>(size, out.size()));
        return true;
    }
    bool ObjectInfo(uint16_t index, void* info, uint32_t length) override {
        if (index >= objects.size() || length < 20) return false;
        std::vector<uint8_t> out;
        Put16(out, objects[index].type);
        Put16(out, objects[index].flags);
        Put32(out, static_cast<uint32_t>(objects[index].value.size()));
        for (int i = 0; i < 6; ++i) Put16(out, 0xFFFF);
        std::memcpy(info, out.data(), 20);
        return true;
    }
    bool ObjectValue(uint16_t index, void* value, uint32_t length) override {
        if (index >= objects.size() || length < objects[index].value.size()) return false;
        std::memset(value, 0, length);
        std::memcpy(value, objects[index].value.data(), objects[index].value.size());
        return true;
    }
    bool SetObjectValue(uint16_t index, const void* value, uint32_t length) override {
        if (index >= objects.size()) return false;
        std::vector<uint8_t>& stored = objects[index].value;
        if (writes == Writes::kIgnore) return true;
        stored.assign(static_cast<const uint8_t*>(value),
                      static_cast<const uint8_t*>(value) + std::min<size_t>(length, stored.size()));
        if (writes == Writes::kReverse && objects[index].type == SRI_TYPE_ORDERED_LIST) std::swap(stored[2], stored[6]);
        return true;
    }
    bool SetupPasswordSet() override { return password_set; }
    bool ChangeLockState(const char* password, uint16_t, bool lock) override {
        lock_calls.push_back(std::string(lock ? "lock:" : "unlock:") + (password ? password : ""));
        return lock || unlock_works;
    }
    uint16_t MachineId() override { return 0; }
    bool Interrupt15(ZmrMCRegisterBlock*, int) override { return false; }
    bool Int15(ZmrMCRegisterBlock*, int) override { return false; }
    ZmrMCStatus ChangeAdminPassword(const char*, const char*) override { return ZMRMC_E_FAIL; }
    ZmrMCStatus ChangePowerOnPassword(const char*, const char*) override { return ZMRMC_E_FAIL; }
    bool SecuritySettings(const void*, int) override { return false; }
    std::string IdentityText(Text) override { return {}; }
    bool IplDeviceInfo(ZmrMCIplInfo*, int*, int*, int*) override { return false; }
    bool IplTable(unsigned char*, int, int, int) override { return false; }
    bool SetIplPriority(const unsigned char*, int) override { return false; }
    uint32_t ReadPhysical(uint32_t, void*, uint32_t) override { return 0; }
};

class ChangeReportTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(zmrmc::ReadSettingsFromSystem(model_, firmware_, nullptr)); }
    SRI* At(int index) { return model_.At(index); }  // 0 is the first object after the string table
    bool Commit(SRI* record, const char* password = nullptr) {
        testing::internal::CaptureStdout();
        bool committed = zmrmc::CommitSetting(model_, firmware_, record, password);
        printed_ = testing::internal::GetCapturedStdout();
        return committed;
    }
    void SetIds(SRI* record, std::initializer_list<uint16_t> ids) {
        size_t i = 0;
        for (uint16_t id : ids) std::memcpy(static_cast<uint8_t*>(record->value) + 2 * i++, &id, 2);
    }

    ScriptedObjects firmware_;
    zmrmc::SettingsModel model_;
    std::string printed_;
};

enum { kMode = 1, kOwner, kLimit, kOrder, kKeyedLimit, kEscd, kFixedMode };

TEST_F(ChangeReportTest, EachKindOfChangeReportsItsFragment) {
    SRI* mode = At(kMode);
    mode->currentIndex = 1;
    EXPECT_TRUE(Commit(mode));
    const std::string changed =
        "<SETTING changeStatus=\"pass\" name=\"Mode\">\n\t<OLDVALUE>Off</OLDVALUE>\n\t<NEWVALUE>On</NEWVALUE>\n"
        "</SETTING>\n";
    EXPECT_EQ(model_.ChangeReport(), changed);
    EXPECT_EQ(printed_, changed);

    SRI* owner = At(kOwner);
    std::strcpy(static_cast<char*>(owner->value), " new ");
    EXPECT_TRUE(Commit(owner));
    EXPECT_EQ(model_.ChangeReport(), "<li>&nbsp;Changed the setting of 'Owner' from 'old' to 'new'.</li>\n");
    // Written untrimmed over blanks (the firmware's field is blank-padded), NUL-terminated in its last byte.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(firmware_.objects[kOwner].value.data()) + 2),
              " new " + std::string(5, ' '));

    SRI* limit = At(kLimit);
    limit->upperBound = 200;  // only the upper bound differs: the others show equal numbers
    EXPECT_TRUE(Commit(limit));
    EXPECT_EQ(
        model_.ChangeReport(),
        "<li>&nbsp;Changed 'Limit' Integer Setting:Max From 100 To 200,Min From 0 To 0,Value From 7 To 7.</li>\n");

    SRI* keyed = At(kKeyedLimit);
    uint32_t number = 0xFFFFFFFF;
    std::memcpy(keyed->value, &number, 4);
    EXPECT_TRUE(Commit(keyed));
    EXPECT_EQ(model_.ChangeReport(),
              "<li>&nbsp;Changed 'Limit\\Key' Integer Setting:Max From 100 To 100,Min From 0 To 0,Value From 7 To "
              "-1.</li>\n");

    SRI* order = At(kOrder);
    SetIds(order, {8, 7, 9});
    EXPECT_TRUE(Commit(order));
    EXPECT_EQ(model_.ChangeReport(),
              "<li>&nbsp;Changed 'Order' List Setting from:</li>\n<UL><li>&nbsp;First</li><li>&nbsp;Second</li>"
              "<li>&nbsp;Third</li></UL><p>To:</p><UL><li>&nbsp;Second</li><li>&nbsp;First</li><li>&nbsp;Third</li>"
              "</UL>");
}

TEST_F(ChangeReportTest, WhatTheFirmwareDidNotTakeIsReportedAndFails) {
    firmware_.writes = ScriptedObjects::Writes::kIgnore;
    SRI* mode = At(kMode);
    mode->currentIndex = 1;
    EXPECT_FALSE(Commit(mode));
    EXPECT_EQ(model_.ChangeReport(),
              "<SETTING changeStatus=\"fail\" name=\"Mode\">\n\t<OLDVALUE>Off</OLDVALUE>\n\t<NEWVALUE>On</NEWVALUE>\n"
              "</SETTING>\n");

    // The firmware takes another order than the one asked for: the not-as-requested report replaces the other.
    firmware_.writes = ScriptedObjects::Writes::kReverse;
    SRI* order = At(kOrder);
    SetIds(order, {8, 7, 9});
    EXPECT_FALSE(Commit(order));
    EXPECT_EQ(model_.ChangeReport(),
              "<li>&nbsp;System did not change 'Order' as requested.  Requested order was:</li>\n<UL><li>&nbsp;Second"
              "</li><li>&nbsp;First</li><li>&nbsp;Third</li></UL><p>After writing, the system reports:</p><UL>"
              "<li>&nbsp;Third</li><li>&nbsp;First</li><li>&nbsp;Second</li></UL>");
}

TEST_F(ChangeReportTest, ARefusedUnlockIsReportedUnlessALaterFragmentReplacesIt) {
    firmware_.password_set = true;
    firmware_.unlock_works = false;
    EXPECT_TRUE(Commit(At(kLimit), "wrong"));  // nothing differs: no fragment of its own
    const std::string refused =
        "<li>&nbsp;Can't update the replicated setup settings.  The Setup password does not match.</li>\n";
    EXPECT_EQ(model_.ChangeReport(), refused);
    EXPECT_EQ(firmware_.lock_calls, std::vector<std::string>{"unlock:wrong"});  // not unlocked: no lock

    firmware_.unlock_works = true;
    std::strcpy(static_cast<char*>(At(kOwner)->value), "new");
    EXPECT_TRUE(Commit(At(kOwner), "<kbd/>1E30"));
    EXPECT_EQ(firmware_.lock_calls.back(), "lock:\x1E\x30");  // the scan codes unlock and lock
    EXPECT_NE(model_.ChangeReport(), refused);

    // A password too long for the commit's buffer is never cut to fit: nothing is tried.
    firmware_.lock_calls.clear();
    EXPECT_FALSE(Commit(At(kOwner), std::string(256, 'p').c_str()));
    EXPECT_EQ(model_.ChangeReport(), refused);
    EXPECT_TRUE(firmware_.lock_calls.empty());
}

TEST_F(ChangeReportTest, RecordsTheCommitRefuses) {
    SRI* fixed = At(kFixedMode);
    ASSERT_NE(fixed->flags & SRI_FLAG_READ_ONLY, 0);
    fixed->currentIndex = 1;
    EXPECT_FALSE(Commit(fixed));
    SRI* escd = At(kEscd);
    escd->currentIndex = 1;
    EXPECT_FALSE(Commit(escd));
    SRI stranger = *At(kMode);  // a copy: not one of the model's records
    stranger.currentIndex = 1;
    EXPECT_FALSE(Commit(&stranger));
    EXPECT_FALSE(Commit(nullptr));
    EXPECT_EQ(model_.ChangeReport(), "");
    EXPECT_EQ(firmware_.objects[kMode].value[2], 0);
}

}  // namespace
