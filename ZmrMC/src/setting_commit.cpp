// Committing one setting record, by its type:
//   0, 9   enumeration: the requested index is written when it differs, then read back; the report is an XML
//          SETTING element (also written to standard output) telling whether the firmware took it.
//   1      text: written blank-padded when the trimmed texts differ; the asset tag is read back and, when the
//          firmware did not take it, sent again as the asset tag packet of the security settings command.
//   2      byte block: always written, no report.
//   3, 10  integer: written when bounds or value differ.
//   4      password: changed through the password functions ("Setup Password", "Power-On Password"), from a
//          tagged new password only; a record still holding the firmware's "<SHA1>" digest is left alone.
//   6, 7   date and time: always written, blank-padded when the trimmed texts differ.
//   8      ordered list: written when it differs, read back, reported as changed and, when the firmware's
//          order is not the one requested, as not changed as requested.
// With a setup password set the system objects are unlocked around the commit (and locked again on every
// path); a refused unlock is reported and the commit goes on, the firmware then refusing what it refuses.

#include "setting_commit.h"

#include "change_report.h"
#include "scan_codes.h"
#include "text_case.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace zmrmc {
namespace {

constexpr size_t kPasswordBuffer = 256;
constexpr size_t kInfoSize = 20;
constexpr uint32_t kSmallestBuffer = 20;
constexpr uint32_t kReadOnlyMinimum = 21;
constexpr uint32_t kAssetTagMinimum = 19;
constexpr uint32_t kLargestValue = 0x10000;  // what the driver carries in one set-value request
constexpr uint16_t kNoIndex = 0xFFFF;
constexpr uint16_t kEndOfList = 0xFFFF;
constexpr const char* kAssetTag = "Asset Tracking Number";
constexpr size_t kAssetPacketBuffer = 100, kAssetTagCharacters = 16;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Text of at most `limit` bytes, up to its first NUL.
std::string Bounded(const void* from, size_t limit) {
    if (from == nullptr) return {};
    const char* text = static_cast<const char*>(from);
    const void* end = std::memchr(text, 0, limit);
    return std::string(text, end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : limit);
}

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\n\v\f\r";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Locks the system objects again on every way out of a commit that unlocked them.
class CommitUnlock {
public:
    CommitUnlock(FirmwareCalls& firmware, const SecretBytes& password)
        : firmware_(firmware), password_(password), length_(static_cast<uint16_t>(password.Length())) {
        if (!firmware_.SetupPasswordSet()) return;
        unlocked_ = firmware_.ChangeLockState(password_.text(), length_, false);
        refused_ = !unlocked_;
    }
    ~CommitUnlock() {
        if (unlocked_) firmware_.ChangeLockState(password_.text(), length_, true);
    }
    CommitUnlock(const CommitUnlock&) = delete;
    CommitUnlock& operator=(const CommitUnlock&) = delete;
    bool Refused() const { return refused_; }

private:
    FirmwareCalls& firmware_;
    const SecretBytes& password_;
    uint16_t length_;
    bool unlocked_ = false;
    bool refused_ = false;
};

class Commit {
public:
    Commit(SettingsModel& model, FirmwareCalls& firmware, SettingRecord& record, const SecretBytes& password)
        : model_(model),
          firmware_(firmware),
          objects_(model.Objects(firmware)),
          sri_(record.sri),
          password_(password),
          password_length_(static_cast<uint16_t>(password.Length())) {}

    // Reads the object's information and value; false when either read fails.
    bool ReadFirmware();
    bool ByType();

private:
    bool Enumeration();
    bool Text();
    bool ByteBlock();
    bool Integer();
    bool Password();
    bool TimeText();
    bool OrderedList();
    bool AssetTagPacket(const std::string& tag);

    std::string TextOf(uint16_t id) { return model_.FindString(id, nullptr); }
    std::string Name(bool withKey);
    bool IsNamed(const char* name) { return EqualsIgnoringCase(TextOf(sri_.nameId).c_str(), name); }
    // The record's own text (types 1, 4, 6, 7), never read beyond its buffer.
    std::string RecordText() const { return Bounded(sri_.value, sri_.valueSize); }
    std::string ChoiceText(uint16_t index);
    std::vector<std::string> ListTexts(const uint8_t* ids, size_t count);
    void Report(const std::string& fragment) { model_.SetChangeReport(fragment); }
    bool Write(uint16_t passwordLength) {
        return objects_.SetValue(sri_.objectIndex, value_.data(), size_, password_.text(), passwordLength);
    }
    bool ReadBack() {
        std::fill(value_.begin(), value_.end(), 0);
        return objects_.Value(sri_.objectIndex, value_.data(), size_);
    }
    // Blanks over the value after the name ID, a NUL in the last byte, the name ID first.
    void BlankText() {
        std::fill(value_.begin() + 2, value_.begin() + size_, ' ');
        value_[size_ - 1] = 0;
        Put16(value_.data(), sri_.nameId);
    }

    SettingsModel& model_;
    FirmwareCalls& firmware_;
    SysObjList& objects_;
    SRI& sri_;
    const SecretBytes& password_;
    uint16_t password_length_;
    std::vector<uint8_t> value_;  // the object's value as the firmware gives it, at least 20 bytes
    uint32_t size_ = 0;           // the value size the commit reads and writes
};

std::string Commit::Name(bool withKey) {
    std::string name = TextOf(sri_.nameId);
    if (withKey && (sri_.type == SRI_TYPE_KEYED_ENUM || sri_.type == SRI_TYPE_KEYED_INTEGER))
        for (uint16_t id : sri_.instanceKey)
            if (id != kEndOfList && id != 0) name += "\\" + TextOf(id);
    return name;
}

std::string Commit::ChoiceText(uint16_t index) {
    size_t fit = sri_.value != nullptr ? sri_.valueSize / 2 : 0;
    if (index >= sri_.elementCount || index >= fit) return {};
    return TextOf(U16(static_cast<const uint8_t*>(sri_.value) + 2 * index));
}

std::vector<std::string> Commit::ListTexts(const uint8_t* ids, size_t count) {
    std::vector<std::string> texts;
    for (size_t i = 0; i < count && U16(ids + 2 * i) != kEndOfList; ++i) texts.push_back(TextOf(U16(ids + 2 * i)));
    return texts;
}

bool Commit::ReadFirmware() {
    uint8_t wire[kInfoSize] = {};
    ObjectInfo info;
    if (!objects_.Info(sri_.objectIndex, wire, kInfoSize) || !ObjectInfo::Decode(wire, kInfoSize, &info)) return false;
    size_ = info.size;
    if ((info.flags & SRI_FLAG_READ_ONLY) != 0) size_ = std::max(size_, kReadOnlyMinimum);
    if (IsNamed(kAssetTag)) size_ = std::max(size_, kAssetTagMinimum);
    if (size_ < 2 || size_ > kLargestValue) return false;
    value_.assign(std::max(size_, kSmallestBuffer), 0);
    return objects_.Value(sri_.objectIndex, value_.data(), size_);
}

bool Commit::ByType() {
    switch (sri_.type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM: return Enumeration();
    case SRI_TYPE_TEXT: return Text();
    case SRI_TYPE_BINARY: return ByteBlock();
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER: return Integer();
    case SRI_TYPE_PASSWORD: return Password();
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME: return TimeText();
    case SRI_TYPE_ORDERED_LIST: return OrderedList();
    default: return false;  // the string table and unknown types are not written
    }
}

bool Commit::Enumeration() {
    if (size_ < 4) return false;
    uint16_t old = U16(value_.data() + 2);
    uint16_t requested = sri_.currentIndex;
    if (requested == kNoIndex || requested == old) return true;
    Put16(value_.data(), sri_.nameId);
    Put16(value_.data() + 2, requested);
    bool written = Write(password_length_);
    bool read = ReadBack();
    uint16_t now = read ? U16(value_.data() + 2) : old;
    std::string fragment = report::Enumeration(now != old, Name(true), ChoiceText(old), ChoiceText(requested));
    Report(fragment);
    std::fputs(fragment.c_str(), stdout);
    std::fflush(stdout);
    return written && read && now == requested;
}

bool Commit::Text() {
    if (size_ < 3) return false;
    std::string old = Trimmed(Bounded(value_.data() + 2, size_ - 2));
    std::string mine = RecordText();
    if (old == Trimmed(mine)) return true;
    if (mine.size() > size_ - 3) return false;  // the text and its terminator must fit: never cut
    Report(report::TextChanged(TextOf(sri_.nameId), old, Trimmed(mine)));
    BlankText();
    std::memcpy(value_.data() + 2, mine.data(), mine.size());
    bool written = Write(password_length_);
    if (!IsNamed(kAssetTag)) return written;
    // The asset tag: what the firmware did not take goes again through the security settings command.
    if (ReadBack() && Trimmed(Bounded(value_.data() + 2, size_ - 2)) == Trimmed(mine)) return written;
    return AssetTagPacket(Trimmed(mine));
}

// FCh 00h L password NUL, 0Dh 00h 11h length text[16], CFh 00h, built in a 100-byte buffer.
bool Commit::AssetTagPacket(const std::string& tag) {
    size_t withTerminator = static_cast<size_t>(password_length_) + 1;
    size_t length = 3 + withTerminator + 4 + kAssetTagCharacters + 2;
    if (tag.size() > kAssetTagCharacters || length > kAssetPacketBuffer) return false;
    SecretBytes packet(kAssetPacketBuffer);
    uint8_t* p = packet.data();
    p[0] = 0xFC;
    p[1] = 0x00;
    p[2] = static_cast<uint8_t>(withTerminator);
    std::memcpy(p + 3, password_.data(), password_length_);
    size_t at = 3 + withTerminator;
    p[at] = 13;
    p[at + 1] = 0x00;
    p[at + 2] = 17;
    p[at + 3] = static_cast<uint8_t>(tag.size());
    std::memcpy(p + at + 4, tag.data(), tag.size());
    at += 4 + kAssetTagCharacters;
    p[at] = 0xCF;
    p[at + 1] = 0x00;
    return firmware_.SecuritySettings(p, static_cast<int>(length));
}

bool Commit::ByteBlock() {
    if (sri_.value == nullptr && sri_.valueSize != 0) return false;
    if (sri_.valueSize > size_ - 2) return false;
    std::fill(value_.begin(), value_.end(), 0);
    Put16(value_.data(), sri_.nameId);
    if (sri_.valueSize > 0) std::memcpy(value_.data() + 2, sri_.value, sri_.valueSize);
    return Write(password_length_);
}

bool Commit::Integer() {
    if (size_ < 14 || sri_.value == nullptr || sri_.valueSize < 4) return false;
    uint8_t* v = value_.data();
    uint32_t lower = U32(v + 2), upper = U32(v + 6), number = U32(v + 10);
    uint32_t mine = U32(static_cast<const uint8_t*>(sri_.value));
    if (lower == sri_.lowerBound && upper == sri_.upperBound && number == mine) return true;
    Report(report::IntegerChanged(Name(true), static_cast<int>(upper), static_cast<int>(sri_.upperBound),
                                  static_cast<int>(lower), static_cast<int>(sri_.lowerBound), static_cast<int>(number),
                                  static_cast<int>(mine)));
    Put16(v, sri_.nameId);
    Put32(v + 2, sri_.lowerBound);
    Put32(v + 6, sri_.upperBound);
    Put32(v + 10, mine);
    return Write(password_length_);
}

bool Commit::Password() {
    std::string current = Bounded(value_.data() + 2, size_ - 2);
    bool digest = sri_.value != nullptr && sri_.valueSize >= 6 && std::memcmp(sri_.value, "<SHA1>", 6) == 0;
    if (digest && current.size() == 40) return false;  // still the firmware's digest: unchanged
    SecretBytes fresh(sri_.valueSize + 1);
    if (sri_.value != nullptr) {
        std::memcpy(fresh.data(), sri_.value, sri_.valueSize);
        SecureZeroMemory(sri_.value, sri_.valueSize);  // the new password leaves the record, however this ends
    }
    SecretBytes codes(std::max<size_t>(sri_.valueSize, current.size() + 1));
    if (!TaggedPasswordToScanCodes(fresh.text(), codes.data(), static_cast<int>(codes.size()), nullptr)) return false;
    if (IsNamed("Setup Password")) return firmware_.ChangeAdminPassword(password_.text(), codes.text()) == ZMRMC_S_OK;
    if (IsNamed("Power-On Password"))
        return firmware_.ChangePowerOnPassword(password_.text(), codes.text()) == ZMRMC_S_OK;
    return false;
}

bool Commit::TimeText() {
    if (size_ < 3) return false;
    std::string old = Trimmed(Bounded(value_.data() + 2, size_ - 2));
    std::string mine = RecordText();
    if (mine.size() > size_ - 3) return false;  // it must fit before the last byte: never cut
    if (old != Trimmed(mine)) {
        Report(report::TextChanged(TextOf(sri_.nameId), old, Trimmed(mine)));
        BlankText();
    }
    std::memcpy(value_.data() + 2, mine.data(), mine.size());
    return Write(static_cast<uint16_t>(password_length_ + 1));
}

bool Commit::OrderedList() {
    size_t count = sri_.elementCount;
    if (sri_.value == nullptr || 2 * count > sri_.valueSize || 2 + 2 * count > size_) return false;
    std::vector<uint8_t> old(value_.begin(), value_.begin() + size_);
    std::vector<uint8_t> requested = old;
    std::memcpy(requested.data() + 2, sri_.value, 2 * count);
    if (std::memcmp(requested.data() + 2, old.data() + 2, 2 * count) == 0) return true;
    std::copy(requested.begin(), requested.end(), value_.begin());
    bool written = Write(password_length_);
    if (!ReadBack()) return false;
    const uint8_t* now = value_.data() + 2;
    size_t room = (size_ - 2) / 2;
    bool changed = std::memcmp(now, old.data() + 2, 2 * count) != 0;
    bool asRequested = std::memcmp(now, requested.data() + 2, 2 * count) == 0;
    std::string name = TextOf(sri_.nameId);
    if (changed) Report(report::ListChanged(name, ListTexts(old.data() + 2, room), ListTexts(now, room)));
    if (!asRequested)
        Report(report::ListNotAsRequested(name, ListTexts(requested.data() + 2, count), ListTexts(now, room)));
    return written && asRequested;
}

}  // namespace

SecretBytes FirmwarePassword(const char* password, bool* fits) {
    SecretBytes buffer(kPasswordBuffer);
    *fits = true;
    if (password == nullptr) return buffer;
    if (TaggedPasswordToScanCodes(password, buffer.data(), static_cast<int>(buffer.size()), nullptr)) return buffer;
    buffer.Clear();
    size_t length = std::strlen(password);
    if (length >= kPasswordBuffer) {
        *fits = false;
        return buffer;
    }
    std::memcpy(buffer.data(), password, length);
    return buffer;
}

bool CommitSetting(SettingsModel& model, FirmwareCalls& firmware, SRI* record, const char* password) {
    CriticalSectionLock hold(model.Lock());
    SettingRecord* owned = model.Owner(record);
    if (owned == nullptr || (owned->sri.flags & SRI_FLAG_READ_ONLY) != 0 ||
        EqualsIgnoringCase(model.FindString(owned->sri.nameId, nullptr), "ESCD"))
        return false;
    bool fits = false;
    SecretBytes secret = FirmwarePassword(password, &fits);
    if (!fits) {
        model.SetChangeReport(report::UnlockRefused());
        return false;
    }
    CommitUnlock unlock(firmware, secret);
    if (unlock.Refused()) model.SetChangeReport(report::UnlockRefused());
    Commit commit(model, firmware, *owned, secret);
    return commit.ReadFirmware() && commit.ByType();
}

}  // namespace zmrmc
