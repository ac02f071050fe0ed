// The settings model: the setting records read from the firmware, the language string table, and the
// library-wide reference count that keeps records alive while a host uses them.
//
// Every operation takes the model's critical section for its whole duration, so exports may be called from
// several threads. Record pointers handed out stay valid until a read replaces the records, which happens only
// while the reference count is 0, or until the model is destroyed.
#pragma once

#include "critical_section_lock.h"
#include "setting_record.h"
#include "sys_obj_list.h"

#include "windows.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zmrmc {

class SettingsModel {
public:
    SettingsModel();
    ~SettingsModel();
    SettingsModel(const SettingsModel&) = delete;
    SettingsModel& operator=(const SettingsModel&) = delete;

    // Reference count: AddRef returns the count after the increment; Release the count after the decrement,
    // never going below 0.
    int AddRef();
    int Release();

    int Count();
    SRI* At(int index);  // null when out of range

    // The id-th text of `table` (a type-5 record; null: the language string table); "" when there is none.
    // The text stays valid until the records are replaced.
    const char* FindString(uint16_t id, const SRI* table);
    // Position of the first text of the language table equal to `text` ignoring case.
    bool FindId(const char* text, uint16_t* id);
    // First record with this name ID; with a key, type 9 and 10 records must also match all four entries.
    SRI* Find(uint16_t name_id, const uint16_t* key);
    // The language record: the string table whose first text is "English", else the first one read; null
    // before a read has found one.
    SRI* Language();
    // Puts `text` into a text record of the model (SettingRecord::SetText). False for a record not the model's.
    bool SetText(SRI* sri, std::string_view text);

    // Starts a new read: when a reference is held, takes another one and returns false (records untouched).
    // Otherwise drops every record, sets the count to 1 and returns true.
    bool BeginRead();
    // Adds the record of one system object, in firmware order: a string table becomes the language table
    // when none is set yet or when its first text is "English"; a record named "--" is not listed. Returns
    // false when the object yields no record.
    bool AddObject(uint16_t index, const ObjectInfo& info, const uint8_t* value, size_t value_length);
    // Marks the read as complete.
    void EndRead();
    bool ReadCompleted();

    // Gives the first record named `name` (no key) the prerequisite texts `text` (items separated by '|').
    // False when the language table has no such name or no record carries it.
    bool AttachPrerequisites(const char* name, const char* text);

    // The record behind a pointer handed out, or null when it is none of the model's records.
    SettingRecord* Owner(const SRI* sri);

    // The change report: the text of the last fragment a commit composed ("" until the first).
    std::string ChangeReport();
    void SetChangeReport(std::string text);

    // The object-list reader, created on first use over `firmware` (which must outlive the model).
    SysObjList& Objects(FirmwareCalls& firmware);

    // The model's lock, for the operations of other parts of the library that must hold it throughout.
    CRITICAL_SECTION* Lock() { return &lock_; }

private:
    const char* FindStringLocked(uint16_t id, const SRI* table) const;
    SettingRecord* RecordOf(const SRI* sri) const;  // null when `sri` is not one of the model's records

    CRITICAL_SECTION lock_;
    LONG references_ = 0;
    bool read_completed_ = false;
    std::vector<std::unique_ptr<SettingRecord>> owned_;      // every record built, the string table included
    std::vector<SettingRecord*> listed_;                     // what enumeration and lookups see, firmware order
    std::unordered_map<const SRI*, SettingRecord*> by_sri_;  // every owned record by its SRI
    SettingRecord* language_ = nullptr;
    std::unique_ptr<SysObjList> objects_;
    std::string change_report_;
};

}  // namespace zmrmc
