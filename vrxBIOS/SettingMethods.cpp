#include "SettingMethods.h"

#include "SettingLookup.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kPasswordBuffer = 256;
constexpr size_t kLongestEnumerationToken = 99;
constexpr size_t kLongestListToken = 90;
constexpr char kDisabledSuffix[] = " Disabled";
constexpr size_t kDisabledLength = sizeof kDisabledSuffix - 1;

// The library's records for the length of one method, released on every way out.
class RecordsRead {
public:
    explicit RecordsRead(LibraryBinding& library) : library_(library) { library_.ReadFromSystem(nullptr); }
    ~RecordsRead() { library_.Release(); }
    RecordsRead(const RecordsRead&) = delete;
    RecordsRead& operator=(const RecordsRead&) = delete;

private:
    LibraryBinding& library_;
};

// A password buffer, cleared before it is released.
class PasswordBuffer {
public:
    explicit PasswordBuffer(size_t size) : size_(size), bytes_(new unsigned char[size]()) {}
    ~PasswordBuffer() { SecureZeroMemory(bytes_.get(), size_); }
    PasswordBuffer(const PasswordBuffer&) = delete;
    PasswordBuffer& operator=(const PasswordBuffer&) = delete;
    unsigned char* data() { return bytes_.get(); }
    char* text() { return reinterpret_cast<char*>(bytes_.get()); }
    size_t size() const { return size_; }
    size_t Length() const {
        const void* end = std::memchr(bytes_.get(), 0, size_);
        return end != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(end) - bytes_.get()) : size_;
    }

private:
    size_t size_;
    std::unique_ptr<unsigned char[]> bytes_;
};

// The password as the firmware compares it: the scan codes of a tagged password, else the text itself (the
// text "<" alone gives the empty password). False when the text does not fit the buffer.
bool FirmwareForm(LibraryBinding* library, const SecretText& password, PasswordBuffer& buffer) {
    if (password.IsNull()) return true;
    int converted = 0;
    const char* error = nullptr;
    if (library != nullptr &&
        library->ConvertPasswordToken(password.Get(), buffer.data(), static_cast<int>(buffer.size()), &error,
                                      &converted) &&
        converted != 0)
        return true;
    SecureZeroMemory(buffer.data(), buffer.size());
    if (std::strcmp(password.Get(), "<") == 0) return true;
    if (password.Length() >= buffer.size()) return false;
    std::memcpy(buffer.data(), password.Get(), password.Length());
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string Trimmed(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::vector<std::string> Tokens(const char* value) {
    std::vector<std::string> tokens;
    std::string text(value);
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        tokens.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return tokens;
        start = comma + 1;
    }
}

// The u16 entries of a record's value buffer that may be read: at most its element count, never beyond it.
size_t IdentifierCount(const SRI& record) {
    size_t fit = record.value != nullptr ? record.valueSize / 2 : 0;
    return record.elementCount < fit ? record.elementCount : fit;
}
uint16_t IdentifierAt(const SRI& record, size_t index) {
    uint16_t id;
    std::memcpy(&id, static_cast<const char*>(record.value) + 2 * index, 2);
    return id;
}
void SetIdentifierAt(SRI& record, size_t index, uint16_t id) {
    std::memcpy(static_cast<char*>(record.value) + 2 * index, &id, 2);
}

LONG StoreText(SRI& record, const SecretText& value) {
    if (value.IsNull() || record.value == nullptr) return kReturnInvalidParameter;
    if (value.Length() + 1 > record.valueSize) return kReturnInvalidParameter;
    SecureZeroMemory(record.value, record.valueSize);
    std::memcpy(record.value, value.Get(), value.Length());
    return kReturnSuccess;
}

// atol's reading (leading blanks, a sign, the digits up to the first other character, none giving 0), but a
// number beyond 32 bits is refused instead of clipped.
bool IntegerOf(const char* text, uint32_t* number) {
    const char* at = text;
    while (IsBlank(*at)) ++at;
    bool negative = *at == '-';
    if (*at == '-' || *at == '+') ++at;
    uint64_t magnitude = 0;
    for (; *at >= '0' && *at <= '9'; ++at) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(*at - '0');
        if (magnitude > 0xFFFFFFFFull) return false;
    }
    if (negative && magnitude > 0x80000000ull) return false;
    *number = negative ? static_cast<uint32_t>(0x100000000ull - magnitude) : static_cast<uint32_t>(magnitude);
    return true;
}

LONG StoreInteger(SRI& record, const SecretText& value) {
    uint32_t number = 0;
    if (value.IsNull() || !IntegerOf(value.Get(), &number)) return kReturnInvalidParameter;
    if (number < record.lowerBound || number > record.upperBound) return kReturnInvalidParameter;
    if (record.value == nullptr || record.valueSize < sizeof number) return kReturnFailed;
    std::memcpy(record.value, &number, sizeof number);
    return kReturnSuccess;
}

LONG StoreEnumeration(LibraryBinding& library, SRI& record, const SecretText& value) {
    if (value.IsNull()) return kReturnSuccess;
    std::vector<std::string> tokens = Tokens(value.Get());
    size_t count = IdentifierCount(record);
    for (size_t k = 0; k < tokens.size(); ++k) {
        if (k > record.elementCount) return kReturnInvalidParameter;
        if (tokens[k].size() > kLongestEnumerationToken) continue;
        std::string token = Trimmed(tokens[k]);
        bool marked = !token.empty() && token[0] == '*';
        if (marked) token = Trimmed(token.substr(1));
        uint16_t id = 0;
        if (!library.FindIDFromString(&id, token.c_str()) || !(marked || tokens.size() == 1)) continue;
        for (size_t i = 0; i < count; ++i) {
            if (IdentifierAt(record, i) != id) continue;
            record.currentIndex = static_cast<uint16_t>(i);
            return kReturnSuccess;
        }
    }
    return kReturnSuccess;
}

bool EndsDisabled(const std::string& token) {
    if (token.size() <= kDisabledLength) return false;
    for (size_t i = 0; i < kDisabledLength; ++i)
        if (std::tolower(static_cast<unsigned char>(token[token.size() - kDisabledLength + i])) !=
            std::tolower(static_cast<unsigned char>(kDisabledSuffix[i])))
            return false;
    return true;
}

LONG StoreOrderedList(LibraryBinding& library, SRI& record, const SecretText& value) {
    if (value.IsNull()) return kReturnSuccess;
    size_t count = IdentifierCount(record);
    size_t placed = 0;
    for (const std::string& raw : Tokens(value.Get())) {
        if (placed > record.elementCount) return kReturnInvalidParameter;
        if (raw.size() > kLongestListToken) continue;
        std::string token = Trimmed(raw);
        uint16_t spelled = 0, other = 0;
        if (!library.FindIDFromString(&spelled, token.c_str())) continue;
        std::string otherSpelling = EndsDisabled(token) ? token.substr(0, token.size() - kDisabledLength)
                                                        : token + kDisabledSuffix;
        bool hasOther = library.FindIDFromString(&other, otherSpelling.c_str()) != 0;
        for (size_t h = placed; h < count; ++h) {
            uint16_t id = IdentifierAt(record, h);
            if (id != spelled && !(hasOther && id == other)) continue;
            for (size_t i = h; i > placed; --i) SetIdentifierAt(record, i, IdentifierAt(record, i - 1));
            SetIdentifierAt(record, placed, spelled);
            ++placed;
            break;
        }
    }
    return kReturnSuccess;
}

}  // namespace

LONG SettingMethods::StoreValue(LibraryBinding& library, SRI* record, const SecretText& value) {
    if (record == nullptr) return kReturnUnspecifiedError;
    if (record->flags != 0) return kReturnNotSupported;
    switch (record->type) {
    case SRI_TYPE_BINARY:
    case SRI_TYPE_STRING_TABLE: return kReturnNotSupported;
    case SRI_TYPE_TEXT:
    case SRI_TYPE_PASSWORD:
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME: return StoreText(*record, value);
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER: return StoreInteger(*record, value);
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM: return StoreEnumeration(library, *record, value);
    case SRI_TYPE_ORDERED_LIST: return StoreOrderedList(library, *record, value);
    default: return kReturnFailed;
    }
}

bool SettingMethods::SetupPasswordPasses(const SecretText& password) {
    PasswordBuffer buffer(kPasswordBuffer);
    if (!FirmwareForm(Ready() ? library_ : nullptr, password, buffer)) return false;
    size_t length = buffer.Length();
    if (!Ready() || library_->IsAdminPasswordSet() == 0) return length == 0;
    PasswordBuffer working(length + 1 < 4 ? 4 : length + 1);
    std::memcpy(working.data(), buffer.data(), length);
    unsigned char status = 0;
    if (library_->ChangeSysObjLockState(working.text(), static_cast<uint16_t>(length), 0, &status) == 0) return false;
    library_->ChangeSysObjLockState(working.text(), static_cast<uint16_t>(length), 1, &status);
    return true;
}

MethodOutcome SettingMethods::SetBIOSSetting(const SecretText& name, const SecretText& value,
                                             const SecretText& password) {
    if (name.IsEmpty() || name.Lossy() || value.Lossy() || password.Lossy()) return {kReturnInvalidParameter};
    if (!Ready()) return {kReturnUnspecifiedError};
    LibraryBinding& library = *library_;
    RecordsRead read(library);
    SRI* record = FindSettingRecord(library, name.Get());
    if (record == nullptr) return {kReturnUnspecifiedError};

    // A password setting given the same text twice (or none at all) is only checked.
    bool verification = record->type == SRI_TYPE_PASSWORD && value == password;
    if (verification) {
        std::string own = library.FindStringFromID(record->nameId, nullptr);
        if (own.find("Admin") != std::string::npos || own.find("Setup") != std::string::npos)
            return {SetupPasswordPasses(value) ? kReturnSuccess : kReturnFailed};
        if (own.find("Power") != std::string::npos) {
            PasswordBuffer codes(kPasswordBuffer);
            bool right = FirmwareForm(library_, value, codes) &&
                         library.VerifyPowerOnPassword(value.IsNull() ? nullptr : codes.text()) != 0;
            return {right ? kReturnSuccess : kReturnFailed};
        }
    }
    if (!SetupPasswordPasses(password)) return {kReturnAccessDenied, ConfigurationEvent::kSecurity};
    LONG stored = StoreValue(library, record, value);
    if (stored != kReturnSuccess) return {stored};
    if (library.SetItemInfo(record, password.Get()) == 0) return {kReturnFailed};
    return {kReturnSuccess, ConfigurationEvent::kChange};
}

MethodOutcome SettingMethods::SetSystemDefaults(const SecretText& password) {
    if (password.Lossy()) return {kReturnInvalidParameter};
    if (!SetupPasswordPasses(password)) return {kReturnAccessDenied, ConfigurationEvent::kSecurity};
    if (library_ == nullptr || library_->SetSystemDefaults(password.Get()) == 0) return {kReturnNotSupported};
    return {kReturnSuccess, ConfigurationEvent::kReset};
}
