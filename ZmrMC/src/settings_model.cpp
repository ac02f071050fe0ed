#include "settings_model.h"

#include "text_case.h"

#include <cstring>

namespace zmrmc {

SettingsModel::SettingsModel() { InitializeCriticalSection(&lock_); }

SettingsModel::~SettingsModel() { DeleteCriticalSection(&lock_); }

int SettingsModel::AddRef() {
    CriticalSectionLock hold(&lock_);
    return ++references_;
}

int SettingsModel::Release() {
    CriticalSectionLock hold(&lock_);
    if (references_ > 0) --references_;
    return references_;
}

int SettingsModel::Count() {
    CriticalSectionLock hold(&lock_);
    return static_cast<int>(listed_.size());
}

SRI* SettingsModel::At(int index) {
    CriticalSectionLock hold(&lock_);
    if (index < 0 || static_cast<size_t>(index) >= listed_.size()) return nullptr;
    return &listed_[static_cast<size_t>(index)]->sri;
}

SettingRecord* SettingsModel::RecordOf(const SRI* sri) const {
    auto found = by_sri_.find(sri);
    return found != by_sri_.end() ? found->second : nullptr;
}

const char* SettingsModel::FindStringLocked(uint16_t id, const SRI* table) const {
    const SettingRecord* record = table == nullptr ? language_ : RecordOf(table);
    if (record == nullptr || record->sri.type != SRI_TYPE_STRING_TABLE || id >= record->texts.size()) return "";
    return reinterpret_cast<const char*>(record->value.data()) + record->texts[id];
}

const char* SettingsModel::FindString(uint16_t id, const SRI* table) {
    CriticalSectionLock hold(&lock_);
    return FindStringLocked(id, table);
}

bool SettingsModel::FindId(const char* text, uint16_t* id) {
    CriticalSectionLock hold(&lock_);
    if (language_ == nullptr || text == nullptr || id == nullptr) return false;
    for (size_t i = 0; i < language_->texts.size(); ++i) {
        if (EqualsIgnoringCase(reinterpret_cast<const char*>(language_->value.data()) + language_->texts[i], text)) {
            *id = static_cast<uint16_t>(i);
            return true;
        }
    }
    return false;
}

SRI* SettingsModel::Find(uint16_t name_id, const uint16_t* key) {
    CriticalSectionLock hold(&lock_);
    for (SettingRecord* record : listed_) {
        SRI& sri = record->sri;
        if (sri.nameId != name_id) continue;
        bool keyed = sri.type == SRI_TYPE_KEYED_ENUM || sri.type == SRI_TYPE_KEYED_INTEGER;
        if (key != nullptr && keyed && std::memcmp(key, sri.instanceKey, sizeof sri.instanceKey) != 0) continue;
        return &sri;
    }
    return nullptr;
}

SRI* SettingsModel::Language() {
    CriticalSectionLock hold(&lock_);
    return language_ != nullptr ? &language_->sri : nullptr;
}

bool SettingsModel::SetText(SRI* sri, std::string_view text) {
    CriticalSectionLock hold(&lock_);
    SettingRecord* record = RecordOf(sri);
    if (record == nullptr) return false;
    record->SetText(text);
    return true;
}

bool SettingsModel::BeginRead() {
    CriticalSectionLock hold(&lock_);
    if (references_ > 0) {
        ++references_;
        return false;
    }
    listed_.clear();
    by_sri_.clear();
    owned_.clear();
    language_ = nullptr;
    read_completed_ = false;
    references_ = 1;
    return true;
}

bool SettingsModel::AddObject(uint16_t index, const ObjectInfo& info, const uint8_t* value, size_t value_length) {
    CriticalSectionLock hold(&lock_);
    auto lookup = [](uint16_t id, const void* model) {
        return static_cast<const SettingsModel*>(model)->FindStringLocked(id, nullptr);
    };
    std::unique_ptr<SettingRecord> record = BuildSettingRecord(index, info, value, value_length, lookup, this);
    if (record == nullptr) return false;
    SettingRecord* built = record.get();
    by_sri_.emplace(&built->sri, built);
    owned_.push_back(std::move(record));
    if (built->sri.type == SRI_TYPE_STRING_TABLE &&
        (language_ == nullptr ||
         (!built->texts.empty() && EqualsIgnoringCase(reinterpret_cast<const char*>(built->value.data()), "English"))))
        language_ = built;
    if (std::strcmp(FindStringLocked(built->sri.nameId, nullptr), "--") != 0) listed_.push_back(built);
    return true;
}

bool SettingsModel::AttachPrerequisites(const char* name, const char* text) {
    CriticalSectionLock hold(&lock_);
    uint16_t id = 0;
    if (!FindId(name, &id)) return false;
    SRI* sri = Find(id, nullptr);
    if (sri == nullptr) return false;
    for (const auto& record : owned_) {
        if (&record->sri != sri) continue;
        record->SetPrerequisites(text);
        return true;
    }
    return false;
}

SettingRecord* SettingsModel::Owner(const SRI* sri) {
    CriticalSectionLock hold(&lock_);
    if (sri == nullptr) return nullptr;
    for (const auto& record : owned_)
        if (&record->sri == sri) return record.get();
    return nullptr;
}

std::string SettingsModel::ChangeReport() {
    CriticalSectionLock hold(&lock_);
    return change_report_;
}

void SettingsModel::SetChangeReport(std::string text) {
    CriticalSectionLock hold(&lock_);
    change_report_ = std::move(text);
}

SysObjList& SettingsModel::Objects(FirmwareCalls& firmware) {
    CriticalSectionLock hold(&lock_);
    if (objects_ == nullptr) objects_ = std::make_unique<SysObjList>(firmware);
    return *objects_;
}

void SettingsModel::EndRead() {
    CriticalSectionLock hold(&lock_);
    read_completed_ = true;
}

bool SettingsModel::ReadCompleted() {
    CriticalSectionLock hold(&lock_);
    return read_completed_;
}

}  // namespace zmrmc
