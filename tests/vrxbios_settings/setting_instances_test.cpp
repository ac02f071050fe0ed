// Setting instances from scripted library records: the fill rules of every class, the instance-name table,
// the not-ready behaviour, and that every read of the records is released again.
#include "SettingInstances.h"
#include "SettingLookup.h"
#include "wmi_fakes.h"

#include <cstring>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

// The scripted library: a string table, records, and counters of reads and releases.
struct ScriptedLibrary {
    std::vector<std::string> strings;
    // Deques: what the records point to stays where it is while more is added.
    std::deque<SRI> records;
    std::deque<std::vector<uint16_t>> ids;  // value buffers of enumerations and ordered lists
    std::deque<uint32_t> numbers;           // value buffers of integers
    std::deque<std::string> texts;          // value buffers of strings and prerequisite buffers
    int reads = 0;
    int releases = 0;
    bool read_fails = false;
    int admin_set = 0;
    int power_on_set = 0;
};
ScriptedLibrary* script = nullptr;

int ReadFromSystem(const char*) { return ++script->reads, script->read_fails ? 0 : 1; }
int Release() { return ++script->releases, 0; }
int EnumCount() { return static_cast<int>(script->records.size()); }
SRI* EnumGetAt(int i) { return i >= 0 && i < EnumCount() ? &script->records[static_cast<size_t>(i)] : nullptr; }
const char* FindStringFromID(uint16_t id, SRI*) {
    return id < script->strings.size() ? script->strings[id].c_str() : "";
}
int FindIDFromString(uint16_t* id, const char* text) {
    for (size_t i = 0; i < script->strings.size(); ++i)
        if (strcasecmp(script->strings[i].c_str(), text) == 0) return *id = static_cast<uint16_t>(i), 1;
    return 0;
}
SRI* FindSRI(uint16_t nameId, const uint16_t* key) {
    for (SRI& r : script->records) {
        if (r.nameId != nameId) continue;
        if (key != nullptr && (r.type == 9 || r.type == 10) && std::memcmp(key, r.instanceKey, 8) != 0) continue;
        return &r;
    }
    return nullptr;
}
int AdminSet() { return script->admin_set; }
int PowerOnSet() { return script->power_on_set; }

class SettingInstancesTest : public ::testing::Test {
protected:
    void SetUp() override {
        script = &library_script_;
        using E = LibraryBinding;
        binding_.SetExportForTesting(E::kBiosSettingsReadFromSystem, reinterpret_cast<void*>(&ReadFromSystem));
        binding_.SetExportForTesting(E::kBiosSRIRelease, reinterpret_cast<void*>(&Release));
        binding_.SetExportForTesting(E::kBiosSettingsSRIEnumCount, reinterpret_cast<void*>(&EnumCount));
        binding_.SetExportForTesting(E::kBiosSettingsSRIEnumGetAt, reinterpret_cast<void*>(&EnumGetAt));
        binding_.SetExportForTesting(E::kBiosSettingsFindStringFromID, reinterpret_cast<void*>(&FindStringFromID));
        binding_.SetExportForTesting(E::kBiosSettingsFindIDFromString, reinterpret_cast<void*>(&FindIDFromString));
        binding_.SetExportForTesting(E::kBiosSettingsFindSRI, reinterpret_cast<void*>(&FindSRI));
        binding_.SetExportForTesting(E::kZmrMCGetIsAPwdSet, reinterpret_cast<void*>(&AdminSet));
        binding_.SetExportForTesting(E::kZmrMCGetIsPowerOnPwdSet, reinterpret_cast<void*>(&PowerOnSet));
        binding_.SetReadyForTesting(1);
        for (const wchar_t* name : {L"QVPROV_BIOSString", L"QVPROV_BIOSInteger", L"QVPROV_BIOSEnumeration",
                                    L"QVPROV_BIOSOrderedList", L"QVPROV_BIOSPassword", L"QVPROV_BIOSSettingInterface"})
            services_->AddClass(name);
        identity_.name = L"Provider";
        identity_.version = L"2.1";
        identity_.build = L"2.1.7";
    }
    void TearDown() override {
        // Every read of the records was given back, whatever happened.
        EXPECT_EQ(library_script_.reads, library_script_.releases);
        script = nullptr;
    }

    uint16_t Id(const std::string& text) {
        for (size_t i = 0; i < library_script_.strings.size(); ++i)
            if (library_script_.strings[i] == text) return static_cast<uint16_t>(i);
        library_script_.strings.push_back(text);
        return static_cast<uint16_t>(library_script_.strings.size() - 1);
    }
    // Adds a record; its buffers are set up by the helpers below.
    SRI& Record(uint16_t type, const std::string& name, std::vector<std::string> path = {}, uint16_t flags = 0) {
        SRI r{};
        r.size = sizeof(SRI);
        r.objectIndex = static_cast<uint16_t>(library_script_.records.size() + 40);
        r.type = type;
        r.flags = flags;
        for (auto& p : r.path) p = 0xFFFF;
        for (size_t i = 0; i < path.size(); ++i) r.path[i] = Id(path[i]);
        r.nameId = Id(name);
        for (auto& k : r.instanceKey) k = 0xFFFF;
        library_script_.records.push_back(r);
        return library_script_.records.back();
    }
    SRI& Choices(SRI& r, const std::vector<std::string>& choices, uint16_t current, size_t extraEnd = 1) {
        std::vector<uint16_t> ids;
        for (const auto& c : choices) ids.push_back(Id(c));
        for (size_t i = 0; i < extraEnd; ++i) ids.push_back(0xFFFF);
        library_script_.ids.push_back(ids);
        r.currentIndex = current;
        r.elementCount = static_cast<uint16_t>(ids.size());
        r.valueSize = static_cast<uint32_t>(ids.size() * 2);
        r.value = library_script_.ids.back().data();
        return r;
    }
    void Text(SRI& r, const std::string& text, uint32_t upper) {
        library_script_.texts.push_back(text);
        library_script_.texts.back().resize(upper + 1, '\0');
        r.value = library_script_.texts.back().data();
        r.valueSize = upper + 1;
        r.upperBound = upper;
        r.elementCount = 1;
    }
    void Number(SRI& r, uint32_t value, uint32_t low, uint32_t high) {
        library_script_.numbers.push_back(value);
        r.value = &library_script_.numbers.back();
        r.valueSize = 4;
        r.elementCount = 1;
        r.lowerBound = low;
        r.upperBound = high;
    }
    void Prerequisites(SRI& r, const std::string& nulSeparated, uint16_t count) {
        library_script_.texts.push_back(nulSeparated + std::string(2, '\0'));
        r.prereqs = library_script_.texts.back().data();
        r.prereqSize = static_cast<uint32_t>(library_script_.texts.back().size());
        r.prereqCount = count;
    }

    // The instances an enumeration of the class indicated; the call's status must be success.
    std::vector<FakeObject*> Enumerate(SettingClass settingClass) {
        size_t before = sink_->objects.size();
        WMIRequest request(SettingClassName(settingClass), services_.Get(), nullptr, sink_.Get());
        {
            WMIInstanceList list(sink_.Get());
            instances_.Enumerate(settingClass, list, request);
        }
        std::vector<FakeObject*> found;
        for (size_t i = before; i < sink_->objects.size(); ++i) found.push_back(sink_->Object(i));
        return found;
    }
    // Get object of the class with the given InstanceName: the filled object, or the thrown code.
    HRESULT Get(SettingClass settingClass, const std::wstring& instanceName, ComPtr<FakeObject>* filled) {
        WMIRequest request(SettingClassName(settingClass), services_.Get(), nullptr, sink_.Get());
        WMIInstance instance(request);
        instance.PutText(L"InstanceName", instanceName.c_str());
        try {
            instances_.Get(instance);
        } catch (HRESULT hr) {
            return hr;
        }
        if (filled != nullptr) *filled = static_cast<FakeObject*>(instance.Object());
        return S_OK;
    }

    static std::vector<std::wstring> Texts(const FakeObject* o, const std::wstring& name) {
        std::vector<std::wstring> texts;
        if (!o->Has(name)) return {L"<none>"};
        const VARIANT& v = o->Value(name);
        if (v.vt != (VT_ARRAY | VT_BSTR)) return {L"<not an array of texts>"};
        BSTR* data = nullptr;
        SafeArrayAccessData(v.parray, reinterpret_cast<void**>(&data));
        for (ULONG i = 0; i < v.parray->rgsabound[0].cElements; ++i)
            texts.push_back(data[i] != nullptr ? data[i] : L"");
        SafeArrayUnaccessData(v.parray);
        return texts;
    }

    ScriptedLibrary library_script_;
    LibraryBinding binding_;
    LibraryBinding* library_ = &binding_;
    LONG ready_ = 1;
    ProviderIdentity identity_;
    SettingInstances instances_{library_, ready_, identity_};
    ComPtr<FakeServices> services_ = Make<FakeServices>();
    ComPtr<FakeSink> sink_ = Make<FakeSink>();
};

TEST_F(SettingInstancesTest, EnumerationValuesSkipHiddenChoicesAndMarkTheCurrentOne) {
    // Current value preceded by hidden values; two visible values, the second current; all hidden (the
    // current one too); a current index beyond the choices.
    Choices(Record(0, "Boot Mode", {"Advanced", "Boot Options"}), {"--", "Legacy", "--", "UEFI"}, 3);
    Choices(Record(9, "Port"), {"Disable", "Enable"}, 1);
    Choices(Record(0, "Secret"), {"--", "--"}, 1);
    Choices(Record(0, "Drifted"), {"Off", "On"}, 7);
    Choices(Record(0, "Hidden Current"), {"Off", "--", "On"}, 1);
    auto found = Enumerate(SettingClass::kEnumeration);
    ASSERT_EQ(found.size(), 5u);

    EXPECT_EQ(found[0]->Text(L"Value"), L"Legacy, *UEFI");
    EXPECT_EQ(Texts(found[0], L"PossibleValues"), (std::vector<std::wstring>{L"Legacy", L"UEFI"}));
    EXPECT_EQ(found[0]->Number(L"SelectionIndex"), 1);
    EXPECT_EQ(found[0]->Number(L"Size"), 2);
    EXPECT_EQ(found[0]->Text(L"CurrentValue"), L"UEFI");
    EXPECT_EQ(found[0]->Text(L"Path"), L"\\Advanced\\Boot Options");

    EXPECT_EQ(found[1]->Text(L"Value"), L"Disable, *Enable");
    EXPECT_EQ(found[1]->Text(L"CurrentValue"), L"Enable");

    EXPECT_EQ(found[2]->Text(L"Value"), L"");
    for (const wchar_t* absent : {L"PossibleValues", L"SelectionIndex", L"Size", L"CurrentValue"})
        EXPECT_FALSE(found[2]->Has(absent)) << absent;

    EXPECT_EQ(found[3]->Text(L"Value"), L"Off, On");
    EXPECT_EQ(found[3]->Number(L"SelectionIndex"), 0) << "a selection beyond the visible values becomes 0";
    EXPECT_EQ(found[3]->Text(L"CurrentValue"), L"Off");

    EXPECT_EQ(found[4]->Text(L"Value"), L"Off, *On");
    EXPECT_EQ(found[4]->Number(L"SelectionIndex"), 1);
    EXPECT_EQ(found[4]->Text(L"CurrentValue"), L"On");
}

TEST_F(SettingInstancesTest, CommonPropertiesNamesAndPrerequisites) {
    SRI& keyed = Record(10, "Fan Speed", {"Power", "Thermal"}, 0x0002);
    Number(keyed, 30, 0, 100);
    keyed.instanceKey[0] = Id("CPU");
    keyed.instanceKey[1] = Id("Fan 1");
    SRI& writable = Record(3, "Delay", {}, 0x000A);  // read-only bit, overridden by 0x0008
    Number(writable, 300, 0, 0xFFFFFFFF);
    Prerequisites(writable, std::string("first") + '\0' + "second", 1);
    SRI& negative = Record(3, "Offset", {"A", "B", "C", "D", "E", "F"});
    Number(negative, 0xFFFFFFFB, 0xFFFFFFF0, 0x10);
    Prerequisites(negative, "only", 3);
    auto found = Enumerate(SettingClass::kInteger);
    ASSERT_EQ(found.size(), 3u);

    EXPECT_EQ(found[0]->Text(L"Name"), L"CPU\\Fan 1\\Fan Speed");
    EXPECT_EQ(found[0]->Text(L"Path"), L"\\Power\\Thermal");
    EXPECT_EQ(found[0]->Number(L"IsReadOnly"), 1);
    EXPECT_EQ(found[0]->Number(L"DisplayInUI"), 1);
    EXPECT_EQ(found[0]->Number(L"RequiresPhysicalPresence"), 0);
    EXPECT_EQ(found[0]->Number(L"Sequence"), 40);
    EXPECT_EQ(found[0]->Number(L"IntValue"), 30);
    EXPECT_EQ(found[0]->Number(L"LowerBound"), 0);
    EXPECT_EQ(found[0]->Number(L"UpperBound"), 100);
    EXPECT_FALSE(found[0]->Has(L"Prerequisites"));

    EXPECT_EQ(found[1]->Text(L"Name"), L"Delay");
    EXPECT_EQ(found[1]->Text(L"Path"), L"");
    EXPECT_EQ(found[1]->Number(L"IsReadOnly"), 0);
    EXPECT_EQ(found[1]->Number(L"IntValue"), 300);
    EXPECT_EQ(found[1]->Text(L"Value"), L"300");
    EXPECT_EQ(found[1]->Number(L"UpperBound"), -1) << "uint32 travels as VT_I4";
    EXPECT_EQ(Texts(found[1], L"Prerequisites"), (std::vector<std::wstring>{L"first", L"second"}))
        << "the list grows beyond the count";

    EXPECT_EQ(found[2]->Text(L"Value"), L"-5");
    EXPECT_EQ(found[2]->Text(L"Path"), L"\\A\\B\\C\\D\\E\\F");
    EXPECT_EQ(Texts(found[2], L"Prerequisites"), (std::vector<std::wstring>{L"only", L"", L""}))
        << "at least the count's number of elements";

    // Instance names: 36 lower-case characters, all different.
    std::set<std::wstring> names;
    for (auto* o : found) {
        std::wstring name = o->Text(L"InstanceName");
        EXPECT_EQ(name.size(), 36u);
        EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef-"), std::wstring::npos) << name;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 3u);
}

TEST_F(SettingInstancesTest, StringsOrderedListsAndPasswords) {
    Text(Record(1, "Asset Tag"), "QV-1", 16);
    Text(Record(6, "Date"), "01/01/2006", 10);  // dates, times, byte blocks and tables are not published
    Record(2, "Legacy Devices");
    Choices(Record(8, "Boot Order"), {"CD", "--", "Disk"}, 0);
    Choices(Record(8, "Nothing Visible"), {"--"}, 0);
    Text(Record(4, "Setup Password"), "", 128);
    Text(Record(4, "Power-On Password"), "", 128);
    Text(Record(4, "Admin Key"), "", 128);
    Text(Record(4, "Drive Lock"), "", 128);
    library_script_.admin_set = 1;

    auto strings = Enumerate(SettingClass::kString);
    ASSERT_EQ(strings.size(), 1u);
    EXPECT_EQ(strings[0]->Text(L"Value"), L"QV-1");
    EXPECT_EQ(strings[0]->Number(L"MinLength"), 0);
    EXPECT_EQ(strings[0]->Number(L"MaxLength"), 16);

    auto lists = Enumerate(SettingClass::kOrderedList);
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[0]->Text(L"Value"), L"CD, Disk");
    EXPECT_EQ(Texts(lists[0], L"Elements"), (std::vector<std::wstring>{L"CD", L"Disk"}));
    EXPECT_EQ(lists[0]->Number(L"Size"), 2);
    EXPECT_EQ(lists[1]->Text(L"Value"), L"");
    EXPECT_FALSE(lists[1]->Has(L"Elements"));
    EXPECT_FALSE(lists[1]->Has(L"Size"));

    auto passwords = Enumerate(SettingClass::kPassword);
    ASSERT_EQ(passwords.size(), 4u);
    EXPECT_EQ(passwords[0]->Number(L"IsSet"), 1);
    EXPECT_EQ(passwords[1]->Number(L"IsSet"), 0);
    EXPECT_EQ(passwords[2]->Number(L"IsSet"), 1) << "\"Admin\" asks the setup password's state";
    EXPECT_FALSE(passwords[3]->Has(L"IsSet"));
    for (auto* p : passwords) {
        EXPECT_FALSE(p->Has(L"Value"));
        EXPECT_EQ(Texts(p, L"SupportedEncoding"), (std::vector<std::wstring>{L"kbd", L""}));
        EXPECT_EQ(p->Number(L"MaxLength"), 128);
    }
    EXPECT_EQ(Enumerate(SettingClass::kInteger).size(), 0u);
    EXPECT_EQ(Enumerate(SettingClass::kEnumeration).size(), 0u);
}

TEST_F(SettingInstancesTest, GetObjectFindsEveryNameHandedOutAndNothingElse) {
    Choices(Record(9, "Port", {"Storage"}), {"Disable", "Enable"}, 1).instanceKey[0] = Id("SATA 0");
    Choices(Record(9, "Port", {"Storage"}), {"Disable", "Enable"}, 0).instanceKey[0] = Id("SATA 1");
    Number(Record(3, "Delay"), 5, 0, 10);

    ComPtr<FakeObject> got;
    EXPECT_EQ(Get(SettingClass::kEnumeration, L"7680ef38-f42f-11f1-9a21-3fc9b198ca80", nullptr), WBEM_E_NOT_FOUND)
        << "never handed out";
    auto first = Enumerate(SettingClass::kEnumeration);
    auto second = Enumerate(SettingClass::kEnumeration);
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_NE(first[1]->Text(L"InstanceName"), second[1]->Text(L"InstanceName"));
    for (auto* from : {first[1], second[1]}) {
        ASSERT_EQ(Get(SettingClass::kEnumeration, from->Text(L"InstanceName"), &got), S_OK);
        EXPECT_EQ(got->Text(L"Name"), L"SATA 1\\Port");
        EXPECT_EQ(got->Text(L"InstanceName"), from->Text(L"InstanceName")) << "the key is kept";
        EXPECT_EQ(got->Text(L"Value"), L"*Disable, Enable");
    }
    EXPECT_EQ(instances_.NamesHandedOut(), 4u);

    // The record's own type fills the object, whatever class the path named.
    std::wstring delay = Enumerate(SettingClass::kInteger)[0]->Text(L"InstanceName");
    ASSERT_EQ(Get(SettingClass::kString, delay, &got), S_OK);
    EXPECT_EQ(got->Number(L"IntValue"), 5);

    // A setting that is gone by the time of the get.
    library_script_.records.pop_back();
    EXPECT_EQ(Get(SettingClass::kInteger, delay, nullptr), WBEM_E_NOT_FOUND);
    EXPECT_EQ(Get(SettingClass::kInteger, L"", nullptr), WBEM_E_NOT_FOUND);
}

TEST_F(SettingInstancesTest, RecordsAreFoundByTheirFullName) {
    SRI& sata0 = Record(9, "Port");
    sata0.instanceKey[0] = Id("SATA 0");
    SRI& sata1 = Record(9, "Port");
    sata1.instanceKey[0] = Id("SATA 1");
    SRI& deep = Record(9, "Deep");
    for (int i = 0; i < 4; ++i) deep.instanceKey[i] = Id("K" + std::to_string(i));
    Record(3, "Delay");
    Id(std::string(100, 'x'));
    struct Case {
        std::string name;
        int record;  // index of the record found, -1 none
    };
    const Case cases[] = {
        {"Delay", 3},
        {"delay", 3},  // the library matches texts without regard to case
        {"SATA 1\\Port", 1},
        {"SATA 0\\Port", 0},
        {"Port", -1},          // a keyed setting needs its key
        {"SATA 2\\Port", -1},  // no such text
        {"K0\\K1\\K2\\K3\\Deep", 2},
        {"K0\\K1\\K2\\K3\\K3\\Deep", -1},  // five key parts
        {std::string(100, 'x'), -1},       // a part longer than 99 bytes
        {"\\Delay", -1},                   // an empty key part has no identifier
        {"", -1},
    };
    for (const Case& c : cases) {
        const SRI* found = FindSettingRecord(binding_, c.name.c_str());
        const SRI* wanted = c.record < 0 ? nullptr : &library_script_.records[static_cast<size_t>(c.record)];
        EXPECT_EQ(found, wanted) << c.name;
    }
    EXPECT_EQ(FindSettingRecord(binding_, nullptr), nullptr);
}

TEST_F(SettingInstancesTest, AFailingFillStillReleasesTheRecords) {
    Number(Record(3, "Delay"), 5, 0, 10);
    Number(Record(3, "Timeout"), 5, 0, 10);
    WMIRequest request(L"QVPROV_BIOSInteger", services_.Get(), nullptr, sink_.Get());
    ComPtr<IWbemClassObject> cls;
    services_->GetObject(request.ClassName(), 0, nullptr, cls.GetAddressOf(), nullptr);
    static_cast<FakeObject*>(cls.Get())->spawn_null = true;
    WMIInstanceList list(sink_.Get());
    HRESULT thrown = S_OK;
    try {
        instances_.Enumerate(SettingClass::kInteger, list, request);
    } catch (HRESULT hr) {
        thrown = hr;
    }
    EXPECT_EQ(thrown, E_POINTER);
    EXPECT_EQ(library_script_.reads, 1);
    EXPECT_EQ(library_script_.releases, 1);
}

// A read the library could not do fails the request instead of answering as if there were no settings.
TEST_F(SettingInstancesTest, AFailedReadFailsTheRequest) {
    Number(Record(3, "Delay"), 5, 0, 10);
    auto named = Enumerate(SettingClass::kInteger);
    ASSERT_EQ(named.size(), 1u);
    library_script_.read_fails = true;
    size_t indicated = sink_->objects.size();
    WMIRequest request(L"QVPROV_BIOSInteger", services_.Get(), nullptr, sink_.Get());
    HRESULT thrown = S_OK;
    try {
        WMIInstanceList list(sink_.Get());
        instances_.Enumerate(SettingClass::kInteger, list, request);
    } catch (HRESULT hr) {
        thrown = hr;
    }
    EXPECT_EQ(thrown, WBEM_E_FAILED);
    EXPECT_EQ(sink_->objects.size(), indicated);
    EXPECT_EQ(Get(SettingClass::kInteger, named[0]->Text(L"InstanceName"), nullptr), WBEM_E_FAILED);
    library_script_.read_fails = false;
    EXPECT_EQ(Enumerate(SettingClass::kInteger).size(), 1u);
}

// A request served while another one holds the records (the provider's thread takes the next call while it
// waits for the service) gets 0 from its read, by the library's reference-count rule, and answers from the
// records still held.
TEST_F(SettingInstancesTest, AReadWhileAnotherRequestHoldsTheRecordsUsesThem) {
    Number(Record(3, "Delay"), 5, 0, 10);
    auto named = Enumerate(SettingClass::kInteger);
    ASSERT_EQ(named.size(), 1u);
    binding_.ReadFromSystem(nullptr);   // the interrupted request
    library_script_.read_fails = true;  // what the library answers to a read while a reference is held
    EXPECT_EQ(Enumerate(SettingClass::kInteger).size(), 1u);
    EXPECT_EQ(Get(SettingClass::kInteger, named[0]->Text(L"InstanceName"), nullptr), S_OK);
    binding_.Release();
    EXPECT_EQ(LibraryBinding::HeldReads(), 0);
    EXPECT_EQ(Get(SettingClass::kInteger, named[0]->Text(L"InstanceName"), nullptr), WBEM_E_FAILED)
        << "with nothing held, a read that answers 0 failed";
    library_script_.read_fails = false;
}

TEST_F(SettingInstancesTest, OneClassObjectPerEnumeration) {
    for (int i = 0; i < 100; ++i) Number(Record(3, "Setting " + std::to_string(i)), 1, 0, 10);
    services_->get_object_calls = 0;
    EXPECT_EQ(Enumerate(SettingClass::kInteger).size(), 100u);
    EXPECT_EQ(services_->get_object_calls, 1);
    EXPECT_EQ(Enumerate(SettingClass::kString).size(), 0u);
    EXPECT_EQ(services_->get_object_calls, 1) << "no settings of the class, no class object needed";
}

TEST_F(SettingInstancesTest, SettingsInterfaceInstance) {
    WMIRequest request(L"QVPROV_BIOSSettingInterface", services_.Get(), nullptr, sink_.Get());
    {
        WMIInstanceList list(sink_.Get());
        instances_.EnumerateInterface(list, request);
    }
    ASSERT_EQ(sink_->objects.size(), 1u);
    EXPECT_EQ(sink_->Object(0)->Text(L"InstanceName"), L"ACPI\\PNP0C14\\0_0");
    EXPECT_EQ(sink_->Object(0)->Text(L"Name"), L"Provider");
    EXPECT_EQ(sink_->Object(0)->Text(L"Version"), L"2.1");
    EXPECT_EQ(sink_->Object(0)->Text(L"Build"), L"2.1.7");

    identity_.name.reset();
    WMIInstance given(request);
    given.PutText(L"InstanceName", L"anything");
    instances_.GetInterface(given);
    auto* filled = static_cast<FakeObject*>(given.Object());
    EXPECT_EQ(filled->Text(L"InstanceName"), L"anything") << "the key is not read";
    EXPECT_FALSE(filled->Has(L"Name")) << "an absent string stays unset";
    EXPECT_EQ(filled->Text(L"Build"), L"2.1.7");

    WMIInstance empty;
    HRESULT thrown = S_OK;
    try {
        instances_.GetInterface(empty);
    } catch (HRESULT hr) {
        thrown = hr;
    }
    EXPECT_EQ(thrown, WBEM_E_NOT_FOUND);
}

TEST_F(SettingInstancesTest, NotReadyPublishesNothing) {
    Number(Record(3, "Delay"), 5, 0, 10);
    auto named = Enumerate(SettingClass::kInteger);
    ASSERT_EQ(named.size(), 1u);
    ready_ = 0;
    int reads = library_script_.reads;
    EXPECT_EQ(Enumerate(SettingClass::kInteger).size(), 0u);
    EXPECT_EQ(Get(SettingClass::kInteger, named[0]->Text(L"InstanceName"), nullptr), WBEM_E_NOT_FOUND);
    EXPECT_EQ(library_script_.reads, reads) << "the library is not entered";
    WMIRequest request(L"QVPROV_BIOSSettingInterface", services_.Get(), nullptr, sink_.Get());
    {
        WMIInstanceList list(sink_.Get());
        instances_.EnumerateInterface(list, request);
    }
    WMIInstance given(request);
    given.PutText(L"InstanceName", L"ACPI\\PNP0C14\\0_0");
    instances_.GetInterface(given);
    EXPECT_FALSE(static_cast<FakeObject*>(given.Object())->Has(L"Name")) << "only the key";
    EXPECT_EQ(sink_->objects.size(), 1u) << "no interface instance either";
}

}  // namespace

namespace {

TEST(InstanceNameTableTest, NamesAreUuidTextsFoundInEitherCase) {
    InstanceNameTable table;
    UUID first{}, second{};
    UuidCreateSequential(&first);
    UuidCreateSequential(&second);
    RPC_WSTR text = nullptr;
    ASSERT_EQ(UuidToStringW(&first, &text), RPC_S_OK);
    EXPECT_EQ(InstanceNameTable::Text(first), std::wstring(text)) << "the RPC run time's text form";
    RpcStringFreeW(&text);

    table.Add(first, L"SATA 0\\SATA Port");
    table.Add(second, L"SATA 0\\SATA Port");
    EXPECT_EQ(table.Size(), 2u);
    std::wstring name = InstanceNameTable::Text(second);
    ASSERT_NE(table.Find(name), nullptr);
    EXPECT_EQ(*table.Find(name), L"SATA 0\\SATA Port");
    std::wstring upper = name;
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(static_cast<wint_t>(c)));
    EXPECT_NE(table.Find(upper), nullptr);
    for (const std::wstring& bad :
         {std::wstring(), name.substr(1), L"{" + name.substr(1, 34) + L"}", name.substr(0, 8) + L"x" + name.substr(9),
          name.substr(0, 35) + L"g", std::wstring(36, L'-')})
        EXPECT_EQ(table.Find(bad), nullptr) << bad;
    UUID other = first;
    other.Data4[7] ^= 1;
    EXPECT_EQ(table.Find(InstanceNameTable::Text(other)), nullptr);
    table.Clear();
    EXPECT_EQ(table.Find(name), nullptr);
}

}  // namespace
