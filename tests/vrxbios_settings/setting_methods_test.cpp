// The methods over a scripted library: the value store of every type, the setup-password check, the order of
// SetBIOSSetting's steps and what each outcome raises, SetSystemDefaults, and the answer a method gives when
// its body throws. (The methods on the real road are in settings_methods_road_test.cpp.)
#include "BIOSInterface.h"
#include "SettingMethods.h"
#include "debug_capture.h"
#include "qv_temp_root.h"
#include "wmi_fakes.h"
#include "wrl/implements.h"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

struct Script {
    std::vector<std::string> strings = {"English"};
    std::deque<SRI> records;
    std::deque<std::vector<uint8_t>> buffers;
    int reads = 0, releases = 0;
    std::string setup;  // scan codes of the setup password; empty: none
    std::vector<std::string> calls;
    int commit_result = 1, defaults_result = 1, verify_result = 1;
};
Script* script = nullptr;

std::string Hex(const char* bytes, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        hex += std::string{digits[b >> 4], digits[b & 15]};
    }
    return hex;
}

int ReadFromSystem(const char*) { return ++script->reads, 1; }
int Release() { return ++script->releases, 0; }
const char* FindStringFromID(uint16_t id, SRI*) {
    return id < script->strings.size() ? script->strings[id].c_str() : "";
}
int FindIDFromString(uint16_t* id, const char* text) {
    for (size_t i = 0; i < script->strings.size(); ++i)
        if (strcasecmp(script->strings[i].c_str(), text) == 0) return *id = static_cast<uint16_t>(i), 1;
    return 0;
}
SRI* FindSRI(uint16_t nameId, const uint16_t*) {
    for (SRI& r : script->records)
        if (r.nameId == nameId) return &r;
    return nullptr;
}
int AdminSet() { return script->setup.empty() ? 0 : 1; }
int LockState(const char* password, uint16_t length, int lock, unsigned char*) {
    script->calls.push_back(std::string(lock ? "lock:" : "unlock:") + Hex(password, length));
    return lock != 0 || (length > 0 && std::string(password, length) == script->setup);
}
// "<kbd/>" and hexadecimal digits only; anything else is not tagged.
int Convert(const char* text, unsigned char* codes, int capacity, const char**) {
    if (std::strncmp(text, "<kbd/>", 6) != 0) return 0;
    std::string hex(text + 6);
    if (hex.size() % 2 != 0 || static_cast<int>(hex.size() / 2) >= capacity) return 0;
    for (size_t i = 0; i < hex.size(); i += 2)
        codes[i / 2] = static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16));
    codes[hex.size() / 2] = 0;
    return 1;
}
int Commit(SRI* record, const char* password) {
    script->calls.push_back("commit:" + script->strings[record->nameId] + ":" + (password ? password : "(null)"));
    return script->commit_result;
}
int Defaults(const char* password) {
    script->calls.push_back(std::string("defaults:") + (password ? password : "(null)"));
    return script->defaults_result;
}
int Verify(const char* password) {
    script->calls.push_back("verify:" + Hex(password ? password : "", password ? std::strlen(password) : 0));
    return script->verify_result;
}

class MethodsTest : public ::testing::Test {
protected:
    void SetUp() override {
        script = &script_;
        using E = LibraryBinding;
        auto set = [&](E::Export which, auto* function) {
            binding_.SetExportForTesting(which, reinterpret_cast<void*>(function));
        };
        set(E::kBiosSettingsReadFromSystem, &ReadFromSystem);
        set(E::kBiosSRIRelease, &Release);
        set(E::kBiosSettingsFindStringFromID, &FindStringFromID);
        set(E::kBiosSettingsFindIDFromString, &FindIDFromString);
        set(E::kBiosSettingsFindSRI, &FindSRI);
        set(E::kZmrMCGetIsAPwdSet, &AdminSet);
        set(E::kZmrMCChangeSysObjLockState, &LockState);
        set(E::kConvertPasswordTokenToScanCode, &Convert);
        set(E::kBiosSettingsSetItemInfo, &Commit);
        set(E::kBiosSetSystemDefaults, &Defaults);
        set(E::kZmrMCVerifyPowerOnPassword, &Verify);
        binding_.SetReadyForTesting(1);
    }
    void TearDown() override {
        EXPECT_EQ(script_.reads, script_.releases);  // every read of the records given back
        script = nullptr;
    }
    uint16_t Id(const std::string& text) {
        for (size_t i = 0; i < script_.strings.size(); ++i)
            if (script_.strings[i] == text) return static_cast<uint16_t>(i);
        script_.strings.push_back(text);
        return static_cast<uint16_t>(script_.strings.size() - 1);
    }
    SRI& Record(uint16_t type, const std::string& name, size_t bytes, uint16_t flags = 0) {
        script_.buffers.emplace_back(bytes, 0);
        SRI r{};
        r.type = type;
        r.flags = flags;
        r.nameId = Id(name);
        r.value = script_.buffers.back().data();
        r.valueSize = static_cast<uint32_t>(bytes);
        r.elementCount = 1;
        script_.records.push_back(r);
        return script_.records.back();
    }
    SRI& List(uint16_t type, const std::string& name, const std::vector<std::string>& items, uint16_t current = 0) {
        SRI& r = Record(type, name, 2 * (items.size() + 1));
        for (size_t i = 0; i < items.size(); ++i) {
            uint16_t id = Id(items[i]);
            std::memcpy(static_cast<uint8_t*>(r.value) + 2 * i, &id, 2);
        }
        uint16_t end = 0xFFFF;
        std::memcpy(static_cast<uint8_t*>(r.value) + 2 * items.size(), &end, 2);
        r.elementCount = static_cast<uint16_t>(items.size() + 1);
        r.currentIndex = current;
        return r;
    }
    std::vector<std::string> Items(const SRI& r) {
        std::vector<std::string> items;
        for (size_t i = 0; i + 1 < r.elementCount; ++i) {
            uint16_t id;
            std::memcpy(&id, static_cast<const uint8_t*>(r.value) + 2 * i, 2);
            items.push_back(script_.strings[id]);
        }
        return items;
    }
    LONG Store(SRI& r, const char* value) { return SettingMethods::StoreValue(binding_, &r, SecretText(value)); }
    MethodOutcome Set(const char* name, const char* value, const char* password) {
        return methods_.SetBIOSSetting(SecretText(name), SecretText(value), SecretText(password));
    }

    Script script_;
    LibraryBinding binding_;
    LibraryBinding* library_ = &binding_;
    LONG ready_ = 1;
    SettingMethods methods_{library_, ready_};
};

TEST_F(MethodsTest, EnumerationsTakeASingleValueOrTheStarredOne) {
    SRI& mode = List(SRI_TYPE_ENUM, "Mode", {"Off", "On", "Auto"});
    const std::string longFirst = std::string(100, 'x') + ",*On";  // a token too long to name a value
    struct Case {
        const char* value;
        LONG result;
        uint16_t index;
    } cases[] = {
        {"On", 0, 1},
        {" *Auto ", 0, 2},
        {"Off, *On, Auto", 0, 1},  // the whole Value text
        {"Off, Auto", 0, 1},       // several values without a star: no change
        {"Sideways", 0, 1},        // unknown: no change
        {nullptr, 0, 1},           // null: no change
        {"*off", 0, 0},            // texts match as the library matches them
        {"a,b,c,d,e,f", 5, 0},     // more values than the setting has
        {longFirst.c_str(), 0, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Store(mode, c.value), c.result) << (c.value ? c.value : "(null)");
        EXPECT_EQ(mode.currentIndex, c.index) << (c.value ? c.value : "(null)");
    }
}

TEST_F(MethodsTest, OrderedListsPutTheNamedElementsFirstInTheirSpelling) {
    Id("Net Disabled");
    Id("Disk Disabled");
    struct Case {
        const char* value;
        std::vector<std::string> items;
    } cases[] = {
        {"Net, Disk", {"Net", "Disk", "CD", "Floppy"}},
        {"Floppy", {"Floppy", "Net", "Disk", "CD"}},
        {"net disabled,  Unknown , CD", {"Net Disabled", "CD", "Floppy", "Disk"}},
        {"Net", {"Net", "CD", "Floppy", "Disk"}},  // back to its enabled spelling
        {"Disk disabled", {"Disk Disabled", "Net", "CD", "Floppy"}},
        {nullptr, {"Disk Disabled", "Net", "CD", "Floppy"}},
    };
    SRI& order = List(SRI_TYPE_ORDERED_LIST, "Order", {"CD", "Floppy", "Disk", "Net"});
    for (const Case& c : cases) {
        EXPECT_EQ(Store(order, c.value), 0);
        EXPECT_EQ(Items(order), c.items) << (c.value ? c.value : "(null)");
    }
}

TEST_F(MethodsTest, IntegersAndTextsAreCheckedBeforeTheyAreStored) {
    SRI& limit = Record(SRI_TYPE_INTEGER, "Limit", 4);
    limit.lowerBound = 5;
    limit.upperBound = 60;
    SRI& big = Record(SRI_TYPE_KEYED_INTEGER, "Big", 4);
    big.upperBound = 0xFFFFFFFF;
    SRI& owner = Record(SRI_TYPE_TEXT, "Owner", 11);
    auto number = [](const SRI& r) {
        uint32_t n;
        std::memcpy(&n, r.value, 4);
        return n;
    };
    struct Case {
        SRI* record;
        const char* value;
        LONG result;
        uint32_t stored;
    } cases[] = {
        {&limit, "30", 0, 30},
        {&limit, " +7xyz", 0, 7},
        {&limit, "4", 5, 7},
        {&limit, "61", 5, 7},
        {&limit, "-1", 5, 7},
        {&limit, nullptr, 5, 7},
        {&limit, "", 5, 7},
        {&big, "-1", 0, 0xFFFFFFFF},
        {&big, "4294967295", 0, 0xFFFFFFFF},
        {&big, "3000000000", 0, 3000000000u},
        {&big, "4294967296", 5, 3000000000u},
        {&big, "-2147483649", 5, 3000000000u},
        {&big, "-2147483648", 0, 0x80000000u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Store(*c.record, c.value), c.result) << (c.value ? c.value : "(null)");
        EXPECT_EQ(number(*c.record), c.stored) << (c.value ? c.value : "(null)");
    }
    EXPECT_EQ(Store(owner, "ten chars!"), 0);
    EXPECT_STREQ(static_cast<char*>(owner.value), "ten chars!");
    EXPECT_EQ(Store(owner, "eleven char"), 5);  // the text and its terminator must fit
    EXPECT_EQ(Store(owner, nullptr), 5);
    EXPECT_STREQ(static_cast<char*>(owner.value), "ten chars!");
    EXPECT_EQ(Store(owner, ""), 0);
    EXPECT_STREQ(static_cast<char*>(owner.value), "");
}

TEST_F(MethodsTest, RecordsThatCannotBeStored) {
    EXPECT_EQ(Store(Record(SRI_TYPE_ENUM, "Fixed", 4, SRI_FLAG_READ_ONLY), "On"), 1);
    EXPECT_EQ(Store(Record(SRI_TYPE_ENUM, "Flagged", 4, 0x0008), "On"), 1);
    EXPECT_EQ(Store(Record(SRI_TYPE_BINARY, "Blob", 4), "00"), 1);
    EXPECT_EQ(Store(Record(SRI_TYPE_STRING_TABLE, "Table", 4), "x"), 1);
    EXPECT_EQ(Store(Record(11, "Future", 4), "x"), 4);
    EXPECT_EQ(SettingMethods::StoreValue(binding_, nullptr, SecretText("x")), 2);
}

TEST_F(MethodsTest, SetBIOSSettingChecksThePasswordBeforeItStoresAndCommits) {
    List(SRI_TYPE_ENUM, "Mode", {"Off", "On"});
    script_.setup = "\x1E\x30";
    struct Case {
        const char* name;
        const char* value;
        const char* password;
        LONG result;
        ConfigurationEvent event;
        std::vector<std::string> calls;
    } cases[] = {
        {nullptr, "On", nullptr, 5, ConfigurationEvent::kNone, {}},
        {"", "On", nullptr, 5, ConfigurationEvent::kNone, {}},
        {"Nothing", "On", nullptr, 2, ConfigurationEvent::kNone, {}},
        {"Mode", "On", nullptr, 6, ConfigurationEvent::kSecurity, {"unlock:"}},
        {"Mode", "On", "<kbd/>1E31", 6, ConfigurationEvent::kSecurity, {"unlock:1E31"}},
        {"Mode",
         "On",
         "<kbd/>1E30",
         0,
         ConfigurationEvent::kChange,
         {"unlock:1E30", "lock:1E30", "commit:Mode:<kbd/>1E30"}},  // the commit gets the text, not the codes
        {"Mode",
         "Sideways",
         "\x1E\x30",
         0,
         ConfigurationEvent::kChange,
         {"unlock:1E30", "lock:1E30", "commit:Mode:\x1E\x30"}},
    };
    for (const Case& c : cases) {
        script_.calls.clear();
        MethodOutcome outcome = Set(c.name, c.value, c.password);
        EXPECT_EQ(outcome.result, c.result) << (c.name ? c.name : "(null)") << " " << (c.password ? c.password : "");
        EXPECT_EQ(outcome.event, c.event);
        EXPECT_EQ(script_.calls, c.calls);
    }
    script_.commit_result = 0;  // the library could not write it
    MethodOutcome failed = Set("Mode", "Off", "<kbd/>1E30");
    EXPECT_EQ(failed.result, 4);
    EXPECT_EQ(failed.event, ConfigurationEvent::kNone);
}

TEST_F(MethodsTest, PasswordSettingsGivenTheSameTextTwiceAreOnlyVerified) {
    Record(SRI_TYPE_PASSWORD, "Setup Password", 128);
    Record(SRI_TYPE_PASSWORD, "Power-On Password", 128);
    Record(SRI_TYPE_PASSWORD, "Hard Disk Password", 128);
    script_.setup = "\x1E\x30";
    struct Case {
        const char* name;
        const char* value;
        const char* password;
        int verified;
        LONG result;
        std::vector<std::string> calls;
    } cases[] = {
        {"Setup Password", "<kbd/>1E30", "<kbd/>1E30", 1, 0, {"unlock:1E30", "lock:1E30"}},
        {"Setup Password", "<kbd/>1E31", "<kbd/>1E31", 1, 4, {"unlock:1E31"}},
        {"Setup Password", nullptr, nullptr, 1, 4, {"unlock:"}},
        {"Power-On Password", "<kbd/>2E20", "<kbd/>2E20", 1, 0, {"verify:2E20"}},  // its scan codes
        {"Power-On Password", nullptr, nullptr, 0, 4, {"verify:"}},
    };
    for (const Case& c : cases) {
        script_.calls.clear();
        script_.verify_result = c.verified;
        MethodOutcome outcome = Set(c.name, c.value, c.password);
        EXPECT_EQ(outcome.result, c.result) << c.name << " " << (c.value ? c.value : "(null)");
        EXPECT_EQ(outcome.event, ConfigurationEvent::kNone);
        EXPECT_EQ(script_.calls, c.calls);
    }
    // Not a verification: a new value needs the setup password; a null one is refused once the check passed.
    script_.calls.clear();
    EXPECT_EQ(Set("Setup Password", "<kbd/>2E20", "<kbd/>1E30").result, 0);
    EXPECT_EQ(script_.calls.back(), "commit:Setup Password:<kbd/>1E30");
    EXPECT_EQ(Set("Setup Password", nullptr, "<kbd/>1E30").result, 5);
    // A password setting that is neither: verification does not apply, the change goes on.
    EXPECT_EQ(Set("Hard Disk Password", "<kbd/>1E30", "<kbd/>1E30").result, 0);
}

TEST_F(MethodsTest, TheSetupPasswordCheck) {
    struct Case {
        std::string setup;
        const char* password;
        bool passes;
    } cases[] = {
        {"", nullptr, true},
        {"", "", true},
        {"", "<", true},  // "<" alone is the empty password
        {"", "x", false},
        {"\x1E\x30", "<kbd/>1E30", true},
        {"\x1E\x30", "\x1E\x30", true},
        {"\x1E\x30", "", false},
        {"\x1E\x30", nullptr, false},
    };
    for (const Case& c : cases) {
        script_.setup = c.setup;
        EXPECT_EQ(methods_.SetupPasswordPasses(SecretText(c.password)), c.passes)
            << Hex(c.setup.data(), c.setup.size()) << " " << (c.password ? c.password : "(null)");
    }
    // A password too long for the check's buffer is never cut to fit: it fails.
    script_.setup = "";
    EXPECT_FALSE(methods_.SetupPasswordPasses(SecretText(std::string(256, 'p').c_str())));
    EXPECT_FALSE(methods_.SetupPasswordPasses(SecretText(std::string(255, 'p').c_str())));  // none is set
}

TEST_F(MethodsTest, SetSystemDefaultsChecksThePasswordAndRestores) {
    script_.setup = "\x1E\x30";
    MethodOutcome wrong = methods_.SetSystemDefaults(SecretText("<kbd/>1E31"));
    EXPECT_EQ(wrong.result, 6);
    EXPECT_EQ(wrong.event, ConfigurationEvent::kSecurity);
    script_.calls.clear();
    MethodOutcome right = methods_.SetSystemDefaults(SecretText("<kbd/>1E30"));
    EXPECT_EQ(right.result, 0);
    EXPECT_EQ(right.event, ConfigurationEvent::kReset);
    EXPECT_EQ(script_.calls.back(), "defaults:<kbd/>1E30");  // the text as given
    script_.defaults_result = 0;
    MethodOutcome refused = methods_.SetSystemDefaults(SecretText("<kbd/>1E30"));
    EXPECT_EQ(refused.result, 1);
    EXPECT_EQ(refused.event, ConfigurationEvent::kNone);
}

// A provider object that never became ready still answers its methods, also when a body throws.
class MethodAnswerTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        services_ = Make<FakeServices>();
        FakeObject* cls = services_->AddClass(L"QVPROV_BIOSSettingInterface");
        cls->AddMethod(L"SetBIOSSetting", new FakeObject(L"__PARAMETERS"));
        cls->AddMethod(L"SetSystemDefaults", new FakeObject(L"__PARAMETERS"));
        provider_.Attach(BIOSInterface::Create());  // no library resource in a test program: never ready
        ComPtr<IWbemProviderInit> init;
        ASSERT_EQ(provider_.As(&init), S_OK);
        init->Initialize(nullptr, 0, nullptr, nullptr, services_.Get(), nullptr, Make<FakeInitSink>().Get());
        sink_ = Make<FakeSink>();
    }
    void TearDown() override {
        sink_.Reset();
        provider_.Reset();
        services_.Reset();
        TempRootTest::TearDown();
    }
    // Calls a method with these in-parameters (a name without a value: left out); the Return it answered.
    LONG Call(const wchar_t* method, std::vector<std::pair<std::wstring, const wchar_t*>> parameters) {
        ComPtr<FakeObject> in = Make<FakeObject>(L"__PARAMETERS", false);
        for (const auto& [name, value] : parameters) {
            CComVariant v;
            if (value != nullptr)
                v = value;
            else
                v.vt = VT_NULL;
            in->Set(name, v);
        }
        size_t before = sink_->objects.size();
        EXPECT_EQ(
            provider_->ExecMethodAsync(CComBSTR(L"QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\""),
                                       CComBSTR(method), 0, nullptr, in.Get(), sink_.Get()),
            WBEM_S_NO_ERROR);
        EXPECT_EQ(sink_->statuses.back(), WBEM_S_NO_ERROR);  // the method call itself succeeds
        return sink_->objects.size() > before ? sink_->Object(before)->Number(L"Return") : -1;
    }

    ComPtr<FakeServices> services_;
    ComPtr<IWbemServices> provider_;
    ComPtr<FakeSink> sink_;
};

TEST_F(MethodAnswerTest, ABodyThatThrowsAnswersUnspecifiedError) {
    DebugCapture debug;
    EXPECT_EQ(Call(L"SetBIOSSetting", {{L"Value", L"On"}, {L"Password", nullptr}}), 2);  // no Name parameter
    EXPECT_TRUE(debug.Contains("Caught HRESULT exception BIOSInterface.cpp:")) << debug.Text();
    EXPECT_TRUE(debug.Contains("(0x80041002)")) << debug.Text();
    EXPECT_EQ(Call(L"SetSystemDefaults", {}), 2);
}

TEST_F(MethodAnswerTest, AProviderThatIsNotReadyAnswersToo) {
    EXPECT_EQ(Call(L"SetBIOSSetting", {{L"Name", L""}, {L"Value", L"On"}, {L"Password", nullptr}}), 5);
    EXPECT_EQ(Call(L"SetBIOSSetting", {{L"Name", L"Mode"}, {L"Value", L"On"}, {L"Password", nullptr}}), 2);
    EXPECT_EQ(Call(L"SetSystemDefaults", {{L"Password", nullptr}}), 1);
    EXPECT_EQ(Call(L"SetSystemDefaults", {{L"Password", L"x"}}), 6);
    // A character without an ANSI form would reach the library as "?": refused, never passed on changed.
    EXPECT_EQ(Call(L"SetBIOSSetting", {{L"Name", L"Mode"}, {L"Value", L"\u4E2D"}, {L"Password", nullptr}}), 5);
    EXPECT_EQ(Call(L"SetSystemDefaults", {{L"Password", L"\u4E2D"}}), 5);
    EXPECT_EQ(Call(L"SetSystemDefaults", {{L"Password", L"\u00E9"}}), 6);  // in Windows-1252: only wrong
}

}  // namespace
