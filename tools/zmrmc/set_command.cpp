// zmrmc set NAME VALUE: one setting to one value, written at once and read back. VALUE is one of an
// enumeration's choices, a number within an integer's bounds, a text, or an ordered list's elements
// ("A,B": the named elements first, in that order, the others behind them as they were).
#include "commands.h"
#include "commits.h"
#include "exit_codes.h"
#include "text.h"

#include <cstring>
#include <map>
#include <memory>
#include <sstream>

namespace {

constexpr uint16_t kUnused = 0xFFFF;

struct SetOptions {
    std::string name, value;
    bool json = false;
};

// The position of the one setting `name` names: a full name, or a name that only one setting has.
int FindSetting(const std::vector<std::pair<int, SettingView>>& settings, const std::string& name) {
    std::vector<const std::pair<int, SettingView>*> found;
    for (const auto& entry : settings)
        if (SameIgnoringCase(entry.second.full_name, name)) return entry.first;
    for (const auto& entry : settings)
        if (SameIgnoringCase(entry.second.name, name)) found.push_back(&entry);
    if (found.empty()) throw CommandError("no setting named '" + name + "' on this machine");
    if (found.size() > 1) {
        std::string names;
        for (const auto* entry : found) names += (names.empty() ? "" : ", ") + entry->second.full_name;
        throw CommandError("'" + name + "' names " + std::to_string(found.size()) + " settings; give one of: " + names);
    }
    return found.front()->first;
}

// The string IDs of a list record's entries (choices or elements), up to its count or the first unused one.
std::vector<uint16_t> ListIds(const SRI& sri) {
    std::vector<uint16_t> ids;
    const auto* bytes = static_cast<const uint8_t*>(sri.value);
    size_t limit = bytes != nullptr ? std::min<size_t>(sri.elementCount, sri.valueSize / 2) : 0;
    for (size_t i = 0; i < limit; ++i) {
        uint16_t id = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (id == kUnused) break;
        ids.push_back(id);
    }
    return ids;
}

// The list entry whose text is `text` (ignoring case); -1 when none.
int EntryNamed(ZmrmcLibrary& library, const std::vector<uint16_t>& ids, const std::string& text) {
    for (size_t i = 0; i < ids.size(); ++i) {
        std::string entry = Utf8FromAnsi(library.Text(ids[i], nullptr));
        if (entry != "--" && SameIgnoringCase(entry, text)) return static_cast<int>(i);
    }
    return -1;
}

void SetEnumeration(ZmrmcLibrary& library, SRI* record, const SettingView& view, const std::string& value) {
    SRI sri;
    std::memcpy(&sri, record, sizeof sri);
    int position = EntryNamed(library, ListIds(sri), std::string(Trimmed(value)));
    if (position < 0) {
        std::string choices;
        for (const auto& c : view.choices) choices += (choices.empty() ? "" : ", ") + c;
        throw CommandError(view.full_name + ": '" + value + "' is not one of its choices (" + choices + ")");
    }
    uint16_t index = static_cast<uint16_t>(position);
    std::memcpy(reinterpret_cast<char*>(record) + offsetof(SRI, currentIndex), &index, sizeof index);
}

void SetInteger(SRI* record, const SettingView& view, const std::string& value) {
    std::string digits(Trimmed(value));
    size_t used = 0;
    long long number = 0;
    try {
        number = std::stoll(digits, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (digits.empty() || used != digits.size())
        throw CommandError(view.full_name + ": '" + value + "' is not a number");
    if (number < static_cast<long long>(view.low) || number > static_cast<long long>(view.high))
        throw CommandError(view.full_name + ": " + digits + " is outside its bounds " + std::to_string(view.low) +
                           ".." + std::to_string(view.high));
    if (record->value == nullptr || record->valueSize < 4)
        throw CommandError(view.full_name + ": the library holds no room for its value");
    uint32_t n = static_cast<uint32_t>(number);
    uint8_t bytes[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                        static_cast<uint8_t>(n >> 24)};
    std::memcpy(record->value, bytes, sizeof bytes);
}

void SetText(SRI* record, const SettingView& view, const std::string& value) {
    std::string ansi = AnsiFromUtf8(value);
    if (Utf8FromAnsi(ansi) != value)
        throw CommandError(view.full_name + ": the text has characters the firmware's character set lacks");
    size_t room = record->value != nullptr && record->valueSize > 0 ? record->valueSize - 1u : 0;
    if (view.max_length > 0) room = std::min(room, view.max_length);
    if (ansi.size() > room)
        throw CommandError(view.full_name + ": the text is " + std::to_string(ansi.size()) +
                           " characters long; it holds at most " + std::to_string(room));
    std::memset(record->value, 0, record->valueSize);
    std::memcpy(record->value, ansi.data(), ansi.size());
}

void SetOrder(ZmrmcLibrary& library, SRI* record, const SettingView& view, const std::string& value) {
    SRI sri;
    std::memcpy(&sri, record, sizeof sri);
    std::vector<uint16_t> ids = ListIds(sri);
    std::vector<uint16_t> order;
    std::stringstream items(value);
    for (std::string item; std::getline(items, item, ',');) {
        int at = EntryNamed(library, ids, std::string(Trimmed(item)));
        if (at < 0)
            throw CommandError(view.full_name + ": '" + std::string(Trimmed(item)) + "' is not one of its elements");
        uint16_t id = ids[static_cast<size_t>(at)];
        if (std::find(order.begin(), order.end(), id) != order.end())
            throw CommandError(view.full_name + ": '" + std::string(Trimmed(item)) + "' is named twice");
        order.push_back(id);
    }
    if (order.empty()) throw CommandError(view.full_name + ": name its elements in the order wanted (\"A,B,C\")");
    for (uint16_t id : ids)
        if (std::find(order.begin(), order.end(), id) == order.end()) order.push_back(id);
    auto* bytes = static_cast<uint8_t*>(record->value);
    for (size_t i = 0; i < order.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(order[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(order[i] >> 8);
    }
}

int Set(Session& session, const SetOptions& options) {
    session.ReadSettings();
    ZmrmcLibrary& library = session.Library();
    auto settings = AllSettings(library);
    int index = FindSetting(settings, options.name);
    std::map<int, SettingView> before;
    for (auto& [i, view] : settings)
        if (i == index) before.emplace(i, std::move(view));
    const SettingView& view = before.at(index);
    if (view.read_only) throw CommandError(view.full_name + ": the setting is read-only");
    SRI* record = library.At(index);
    switch (view.type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM: SetEnumeration(library, record, view, options.value); break;
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER: SetInteger(record, view, options.value); break;
    case SRI_TYPE_TEXT:
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME: SetText(record, view, options.value); break;
    case SRI_TYPE_ORDERED_LIST: SetOrder(library, record, view, options.value); break;
    case SRI_TYPE_PASSWORD:
        throw CommandError(view.full_name + ": a password is set with zmrmc password, never on the command line",
                           kExitUsage);
    default: throw CommandError(view.full_name + ": a setting of kind " + view.type_name + " cannot be set");
    }
    RequireSetupPassword(session);
    return ReportOutcomes(CommitSettings(session, {index}, before), options.json);
}

}  // namespace

Command AddSetCommand(CLI::App& program, Session& session) {
    auto options = std::make_shared<SetOptions>();
    CLI::App* app = program.add_subcommand("set", "Write one setting and read it back");
    app->add_option("NAME", options->name, "The setting: its name, or its full name \"Name\\Sub-name\"")->required();
    app->add_option("VALUE", options->value,
                    "A choice, a number within the bounds, a text, or an ordered list's elements \"A,B,...\" "
                    "(the others follow as they were)")
        ->required();
    app->add_flag("--json", options->json, "Write JSON ({\"changes\": [...], \"not_taken\": [...]})");
    return {app, [&session, options] { return Set(session, *options); }};
}
