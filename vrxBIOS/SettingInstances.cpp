#include "SettingInstances.h"

#include "SettingLookup.h"
#include "WMIException.h"
#include "atlbase.h"
#include "rpc.h"
#include "wrl/client.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

namespace {

constexpr uint16_t kEndOfList = 0xFFFF;
constexpr uint16_t kFlagReadOnly = 0x0002;
constexpr uint16_t kFlagWritableOverride = 0x0008;
constexpr size_t kPathEntries = 6;
constexpr size_t kKeyEntries = 4;
constexpr char kHidden[] = "--";
constexpr wchar_t kInterfaceInstanceName[] = L"ACPI\\PNP0C14\\0_0";
// Instances per Indicate: every call to the sink crosses to the instrumentation service and back, so the
// settings of an enumeration travel in batches rather than one by one.
constexpr size_t kIndicateBatch = 64;

// Reads the library's records for one request and releases them on every way out. A read that fails (the
// firmware could not be reached) fails the request: an empty answer would pass for a machine without settings.
// A read while an interrupted request still holds the records answers 0 by the library's rule and gives the
// records that request read (LibraryBinding::HeldReads): that is no failure.
class RecordsRead {
public:
    explicit RecordsRead(LibraryBinding& library) : library_(library) {
        const bool held = LibraryBinding::HeldReads() > 0;
        if (library_.ReadFromSystem(nullptr) != 0 || held) return;
        library_.Release();  // a read takes its reference whether it succeeds or not
        WMI_THROW(WBEM_E_FAILED);
    }
    ~RecordsRead() { library_.Release(); }
    RecordsRead(const RecordsRead&) = delete;
    RecordsRead& operator=(const RecordsRead&) = delete;

private:
    LibraryBinding& library_;
};

std::wstring Widen(const char* text, size_t length) {
    if (length == 0) return {};
    int size = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    if (size <= 0) return {};
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.data(), size);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    if (size <= 0) return {};
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

// The NUL-terminated text at the start of a buffer of `size` bytes (never read beyond it).
std::wstring BufferText(const void* buffer, uint32_t size) {
    if (buffer == nullptr) return {};
    const char* text = static_cast<const char*>(buffer);
    const void* end = std::memchr(text, '\0', size);
    return Widen(text, end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : size);
}

// A SAFEARRAY of BSTRs in a VARIANT, freed with the holder; E_OUTOFMEMORY when it cannot be made.
class TextArray {
public:
    explicit TextArray(size_t count) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(count));
        if (array == nullptr) WMI_THROW(E_OUTOFMEMORY);
        value_.vt = VT_ARRAY | VT_BSTR;
        value_.parray = array;
    }
    TextArray(const TextArray&) = delete;
    TextArray& operator=(const TextArray&) = delete;

    void Set(size_t index, const std::wstring& text) {
        CComBSTR copy(static_cast<int>(text.size()), text.data());
        if (!copy) WMI_THROW(E_OUTOFMEMORY);
        LONG at = static_cast<LONG>(index);
        WMI_THROW_IF_FAILED(SafeArrayPutElement(value_.parray, &at, copy.m_str));
    }
    void PutInto(WMIInstance& instance, LPCWSTR name) { instance.PutRaw(name, &value_); }

private:
    CComVariant value_;
};

void PutTexts(WMIInstance& instance, LPCWSTR name, const std::vector<std::wstring>& texts, size_t count) {
    TextArray array(count);
    for (size_t i = 0; i < texts.size() && i < count; ++i) array.Set(i, texts[i]);
    array.PutInto(instance, name);
}

void PutWide(WMIInstance& instance, LPCWSTR name, const std::wstring& text) {
    BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (value == nullptr) WMI_THROW(E_OUTOFMEMORY);
    instance.PutOwnedText(name, value);
}

void PutUnsigned(WMIInstance& instance, LPCWSTR name, uint32_t value) {
    instance.PutInt(name, static_cast<LONG>(value));
}

// The u16 entries of a record's value buffer that may be read: at most its element count, never beyond the
// buffer.
size_t IdentifierCount(const SRI& record) {
    size_t fit = record.value != nullptr ? record.valueSize / sizeof(uint16_t) : 0;
    return record.elementCount < fit ? record.elementCount : fit;
}

uint16_t IdentifierAt(const SRI& record, size_t index) {
    uint16_t id;
    std::memcpy(&id, static_cast<const char*>(record.value) + index * sizeof id, sizeof id);
    return id;
}

// Fills instances from records during one request. Texts of string identifiers are looked up and widened
// once per request; the password states are asked once per request.
class RecordFiller {
public:
    RecordFiller(LibraryBinding& library, InstanceNameTable& names) : library_(library), names_(names) {}

    // Fills instance from record. A new instance (unnamed) gets a new instance name, entered in the table; an
    // instance of a get keeps the name it was asked for.
    void Fill(WMIInstance* instance, const SRI* record, bool unnamed);

private:
    struct Text {
        bool known = false;
        bool hidden = false;
        std::string narrow;
        std::wstring wide;
    };
    const Text& TextOf(uint16_t id);

    void FillCommon(WMIInstance& instance, const SRI& record, bool unnamed);
    void FillEnumeration(WMIInstance& instance, const SRI& record);
    void FillOrderedList(WMIInstance& instance, const SRI& record);
    void FillString(WMIInstance& instance, const SRI& record);
    void FillInteger(WMIInstance& instance, const SRI& record);
    void FillPassword(WMIInstance& instance, const SRI& record);
    int AdminPasswordSet();
    int PowerOnPasswordSet();

    LibraryBinding& library_;
    InstanceNameTable& names_;
    std::vector<Text> texts_;
    int admin_set_ = -1;
    int power_on_set_ = -1;
};

const RecordFiller::Text& RecordFiller::TextOf(uint16_t id) {
    if (id >= texts_.size()) texts_.resize(static_cast<size_t>(id) + 1);
    Text& text = texts_[id];
    if (!text.known) {
        text.narrow = library_.FindStringFromID(id, nullptr);
        text.wide = Widen(text.narrow.data(), text.narrow.size());
        text.hidden = text.narrow == kHidden;
        text.known = true;
    }
    return text;
}

int RecordFiller::AdminPasswordSet() {
    if (admin_set_ < 0) admin_set_ = library_.IsAdminPasswordSet() != 0 ? 1 : 0;
    return admin_set_;
}

int RecordFiller::PowerOnPasswordSet() {
    if (power_on_set_ < 0) power_on_set_ = library_.IsPowerOnPasswordSet() != 0 ? 1 : 0;
    return power_on_set_;
}

void RecordFiller::Fill(WMIInstance* instance, const SRI* record, bool unnamed) {
    if (instance == nullptr || record == nullptr || instance->Object() == nullptr) WMI_THROW(WBEM_E_PROVIDER_FAILURE);
    FillCommon(*instance, *record, unnamed);
    switch (record->type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM: FillEnumeration(*instance, *record); break;
    case SRI_TYPE_TEXT: FillString(*instance, *record); break;
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER: FillInteger(*instance, *record); break;
    case SRI_TYPE_ORDERED_LIST: FillOrderedList(*instance, *record); break;
    case SRI_TYPE_PASSWORD: FillPassword(*instance, *record); break;
    default: break;
    }
}

void RecordFiller::FillCommon(WMIInstance& instance, const SRI& record, bool unnamed) {
    std::wstring name;
    for (size_t i = 0; i < kKeyEntries; ++i) {
        uint16_t id = record.instanceKey[i];
        if (id == 0 || id == kEndOfList) break;
        name += TextOf(id).wide;
        name += L'\\';
    }
    name += TextOf(record.nameId).wide;
    PutWide(instance, L"Name", name);

    if (unnamed) {
        UUID uuid{};
        UuidCreateSequential(&uuid);
        PutWide(instance, L"InstanceName", InstanceNameTable::Text(uuid));
        names_.Add(uuid, name);
    }

    std::wstring path;
    for (size_t i = 0; i < kPathEntries && record.path[i] != kEndOfList; ++i) {
        path += L'\\';
        path += TextOf(record.path[i]).wide;
    }
    PutWide(instance, L"Path", path);
    PutUnsigned(instance, L"IsReadOnly",
                (record.flags & kFlagWritableOverride) != 0 ? 0 : ((record.flags & kFlagReadOnly) != 0 ? 1 : 0));
    PutUnsigned(instance, L"DisplayInUI", 1);
    PutUnsigned(instance, L"RequiresPhysicalPresence", 0);
    PutUnsigned(instance, L"Sequence", record.objectIndex);

    if (record.prereqCount != 0) {
        std::vector<std::wstring> prerequisites;
        if (record.prereqs != nullptr) {
            const char* at = record.prereqs;
            const char* end = record.prereqs + record.prereqSize;
            while (at < end && *at != '\0') {
                const void* stop = std::memchr(at, '\0', static_cast<size_t>(end - at));
                size_t length = stop != nullptr ? static_cast<size_t>(static_cast<const char*>(stop) - at)
                                                : static_cast<size_t>(end - at);
                prerequisites.push_back(Widen(at, length));
                at += length + 1;
            }
        }
        size_t count = prerequisites.size() > record.prereqCount ? prerequisites.size() : record.prereqCount;
        PutTexts(instance, L"Prerequisites", prerequisites, count);
    }
}

void RecordFiller::FillEnumeration(WMIInstance& instance, const SRI& record) {
    std::wstring value;
    std::vector<std::wstring> visible;
    size_t below_current = 0;
    size_t count = IdentifierCount(record);
    for (size_t r = 0; r < count; ++r) {
        uint16_t id = IdentifierAt(record, r);
        if (id == kEndOfList) break;
        if (r == record.currentIndex) value += L'*';
        const Text& text = TextOf(id);
        if (text.hidden) continue;
        value += text.wide;
        value += L", ";
        visible.push_back(text.wide);
        if (r < record.currentIndex) ++below_current;
    }
    // A current value that is hidden leaves a "*" that marks nothing; it goes with the final separator.
    if (!value.empty() && value.back() == L'*') value.pop_back();
    if (value.size() >= 2 && value.compare(value.size() - 2, 2, L", ") == 0) value.resize(value.size() - 2);
    size_t selection = below_current < visible.size() ? below_current : 0;
    if (!visible.empty()) {
        PutTexts(instance, L"PossibleValues", visible, visible.size());
        PutUnsigned(instance, L"SelectionIndex", static_cast<uint32_t>(selection));
        PutUnsigned(instance, L"Size", static_cast<uint32_t>(visible.size()));
        PutWide(instance, L"CurrentValue", visible[selection]);
    }
    PutWide(instance, L"Value", value);
}

void RecordFiller::FillOrderedList(WMIInstance& instance, const SRI& record) {
    std::wstring value;
    std::vector<std::wstring> visible;
    size_t count = IdentifierCount(record);
    for (size_t r = 0; r < count; ++r) {
        uint16_t id = IdentifierAt(record, r);
        if (id == kEndOfList) break;
        const Text& text = TextOf(id);
        if (text.hidden) continue;
        if (!visible.empty()) value += L", ";
        value += text.wide;
        visible.push_back(text.wide);
    }
    if (!visible.empty()) {
        PutUnsigned(instance, L"Size", static_cast<uint32_t>(visible.size()));
        PutTexts(instance, L"Elements", visible, visible.size());
    }
    PutWide(instance, L"Value", value);
}

void RecordFiller::FillString(WMIInstance& instance, const SRI& record) {
    PutWide(instance, L"Value", BufferText(record.value, record.valueSize));
    PutUnsigned(instance, L"MinLength", record.lowerBound);
    PutUnsigned(instance, L"MaxLength", record.upperBound);
}

void RecordFiller::FillInteger(WMIInstance& instance, const SRI& record) {
    uint32_t number = 0;
    if (record.value != nullptr && record.valueSize >= sizeof number) std::memcpy(&number, record.value, sizeof number);
    PutUnsigned(instance, L"LowerBound", record.lowerBound);
    PutUnsigned(instance, L"UpperBound", record.upperBound);
    PutUnsigned(instance, L"IntValue", number);
    wchar_t text[16];
    std::swprintf(text, sizeof text / sizeof text[0], L"%d", static_cast<int32_t>(number));
    PutWide(instance, L"Value", text);
}

void RecordFiller::FillPassword(WMIInstance& instance, const SRI& record) {
    PutUnsigned(instance, L"MinLength", record.lowerBound);
    PutUnsigned(instance, L"MaxLength", record.upperBound);
    PutTexts(instance, L"SupportedEncoding", {L"kbd", L""}, 2);
    const std::string& own = TextOf(record.nameId).narrow;
    if (own.find("Admin") != std::string::npos || own.find("Setup") != std::string::npos)
        PutUnsigned(instance, L"IsSet", static_cast<uint32_t>(AdminPasswordSet()));
    else if (own.find("Power") != std::string::npos)
        PutUnsigned(instance, L"IsSet", static_cast<uint32_t>(PowerOnPasswordSet()));
}

// Spawns the instances of one class from one class object, fetched once per request.
class InstanceSpawner {
public:
    InstanceSpawner(const WMIRequest& request, LPCWSTR className) {
        IWbemServices* services = request.Services();
        if (services == nullptr) WMI_THROW(E_POINTER);
        CComBSTR name(className);
        if (!name) WMI_THROW(E_OUTOFMEMORY);
        WMI_THROW_IF_FAILED(services->GetObject(name, 0, request.Context(), class_.GetAddressOf(), nullptr));
        if (!class_) WMI_THROW(E_POINTER);
    }

    // A new instance of the class; the caller owns it.
    std::unique_ptr<WMIInstance> Spawn() {
        Microsoft::WRL::ComPtr<IWbemClassObject> instance;
        WMI_THROW_IF_FAILED(class_->SpawnInstance(0, instance.GetAddressOf()));
        auto wrapper = std::make_unique<WMIInstance>();
        wrapper->Attach(instance.Get());
        return wrapper;
    }

private:
    Microsoft::WRL::ComPtr<IWbemClassObject> class_;
};

}  // namespace

bool SettingClassOfType(uint16_t type, SettingClass* settingClass) {
    SettingClass found;
    switch (type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM: found = SettingClass::kEnumeration; break;
    case SRI_TYPE_TEXT: found = SettingClass::kString; break;
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER: found = SettingClass::kInteger; break;
    case SRI_TYPE_PASSWORD: found = SettingClass::kPassword; break;
    case SRI_TYPE_ORDERED_LIST: found = SettingClass::kOrderedList; break;
    default: return false;
    }
    if (settingClass != nullptr) *settingClass = found;
    return true;
}

LPCWSTR SettingClassName(SettingClass settingClass) {
    switch (settingClass) {
    case SettingClass::kString: return L"QVPROV_BIOSString";
    case SettingClass::kInteger: return L"QVPROV_BIOSInteger";
    case SettingClass::kEnumeration: return L"QVPROV_BIOSEnumeration";
    case SettingClass::kOrderedList: return L"QVPROV_BIOSOrderedList";
    case SettingClass::kPassword: return L"QVPROV_BIOSPassword";
    }
    return L"";
}

void SettingInstances::Enumerate(SettingClass settingClass, WMIInstanceList& list, WMIRequest& request) {
    if (!Ready()) return;
    LibraryBinding& library = *library_;
    RecordsRead read(library);
    std::unique_ptr<InstanceSpawner> spawner;
    RecordFiller filler(library, names_);
    list.SetBatchSize(kIndicateBatch);
    int count = library.EnumCount();
    for (int i = 0; i < count; ++i) {
        const SRI* record = library.EnumGetAt(i);
        SettingClass found;
        if (record == nullptr || !SettingClassOfType(record->type, &found) || found != settingClass) continue;
        if (!spawner) spawner = std::make_unique<InstanceSpawner>(request, SettingClassName(settingClass));
        std::unique_ptr<WMIInstance> instance = spawner->Spawn();
        filler.Fill(instance.get(), record, true);
        list.Add(instance.release());
    }
    list.Flush();
}

void SettingInstances::Get(WMIInstance& instance) {
    if (!Ready()) WMI_THROW(WBEM_E_NOT_FOUND);
    LibraryBinding& library = *library_;
    CComVariant key = instance.Get(L"InstanceName");
    std::wstring instanceName = key.vt == VT_BSTR && key.bstrVal != nullptr ? key.bstrVal : L"";
    // Only names handed out are in the table, and none of them is empty: the object keeps its name.
    const std::wstring* settingName = names_.Find(instanceName);
    if (settingName == nullptr) WMI_THROW(WBEM_E_NOT_FOUND);
    RecordsRead read(library);
    const SRI* record = FindSettingRecord(library, Narrow(*settingName).c_str());
    if (record == nullptr) WMI_THROW(WBEM_E_NOT_FOUND);
    RecordFiller(library, names_).Fill(&instance, record, false);
}

void SettingInstances::EnumerateInterface(WMIInstanceList& list, WMIRequest& request) {
    if (!Ready()) return;
    auto instance = InstanceSpawner(request, L"QVPROV_BIOSSettingInterface").Spawn();
    instance->PutText(L"InstanceName", kInterfaceInstanceName);
    GetInterface(*instance);
    list.Add(instance.release());
}

void SettingInstances::GetInterface(WMIInstance& instance) {
    if (instance.Object() == nullptr) WMI_THROW(WBEM_E_NOT_FOUND);
    if (!Ready()) return;
    if (identity_.name) PutWide(instance, L"Name", *identity_.name);
    if (identity_.version) PutWide(instance, L"Version", *identity_.version);
    if (identity_.build) PutWide(instance, L"Build", *identity_.build);
}
