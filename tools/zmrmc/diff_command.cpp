// zmrmc diff FILE [--json]: what applying a settings file would change (setting, old value, new value) and
// what it would skip. Nothing is written: the file is read into the settings in memory only.
#include "commands.h"
#include "exit_codes.h"
#include "progress_line.h"
#include "setting_view.h"
#include "settings_file_check.h"
#include "table.h"
#include "text.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

struct DiffOptions {
    std::string file;
    bool json = false;
};

struct Change {
    std::string setting, old_value, new_value;
};

std::string IntegerShown(const SettingView& view, bool with_bounds) {
    std::string value = std::to_string(view.number);
    if (with_bounds) value += " (" + std::to_string(view.low) + ".." + std::to_string(view.high) + ")";
    return value;
}

// The change a commit of `after` would make to `before`, as the commit compares them; nothing when none.
std::optional<Change> ChangeOf(const SettingView& before, const SettingView& after) {
    Change change{after.full_name, before.Value(), after.Value()};
    switch (after.type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM:
        if (after.selected < 0 || after.selected == before.selected) return std::nullopt;
        return change;
    case SRI_TYPE_ORDERED_LIST:
        if (after.ids == before.ids) return std::nullopt;
        return change;
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER: {
        bool bounds = after.low != before.low || after.high != before.high;
        if (!bounds && after.number == before.number) return std::nullopt;
        return Change{after.full_name, IntegerShown(before, bounds), IntegerShown(after, bounds)};
    }
    case SRI_TYPE_PASSWORD:
        if (after.text == before.text) return std::nullopt;
        return Change{after.full_name, before.Value(), "(another password, not shown)"};
    case SRI_TYPE_TEXT:
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME:
        if (Trimmed(after.text) == Trimmed(before.text)) return std::nullopt;  // blanks around a text do not count
        return change;
    default: return std::nullopt;  // byte blocks take nothing from a file
    }
}

int Diff(Session& session, const DiffOptions& options) {
    session.ReadSettings();
    ZmrmcLibrary& library = session.Library();
    ProgressLine progress("comparing with " + options.file);
    std::string text = ReadSettingsFile(options.file);
    std::vector<FileNote> notes = CheckSettingsFile(library, text,
                                                    CurrentSettingsFile(library, session.ReadPassword()));
    auto before = AllSettings(library);
    std::string path = AnsiFromUtf8(options.file);
    if (!library.ReadFromFile(path.c_str(), session.ReadPassword()))
        throw CommandError(options.file + ": the BIOS access library could not read it");
    std::vector<Change> changes;
    for (const auto& [index, old_view] : before) {
        SettingView now = ViewOf(library, library.At(index));
        if (!now.changed) continue;
        if (auto change = ChangeOf(old_view, now)) changes.push_back(*change);
    }
    progress.Stop();

    if (options.json) {
        nlohmann::json out = {{"changes", nlohmann::json::array()}, {"skipped", nlohmann::json::array()}};
        for (const auto& c : changes)
            out["changes"].push_back({{"setting", c.setting}, {"old", c.old_value}, {"new", c.new_value}});
        for (const auto& n : notes)
            out["skipped"].push_back({{"line", n.line}, {"setting", n.setting}, {"reason", n.reason}});
        std::cout << out.dump(2) << '\n';
    } else {
        if (changes.empty()) {
            std::cout << "applying " << options.file << " would change no setting\n";
        } else {
            std::vector<std::vector<std::string>> rows;
            for (const auto& c : changes) rows.push_back({c.setting, c.old_value, c.new_value});
            WriteTable(std::cout, {"SETTING", "OLD VALUE", "NEW VALUE"}, rows);
        }
        for (const auto& n : notes)
            std::cerr << "zmrmc: " << options.file << ":" << n.line << ": "
                      << (n.setting.empty() ? "" : n.setting + ": ") << n.reason << '\n';
    }
    if (!notes.empty()) return kExitSkipped;
    return changes.empty() ? kExitOk : kExitChanges;
}

}  // namespace

Command AddDiffCommand(CLI::App& program, Session& session) {
    auto options = std::make_shared<DiffOptions>();
    CLI::App* app = program.add_subcommand(
        "diff", "Show what applying a settings file would change, and what it would skip; changes nothing");
    app->add_option("FILE", options->file, "A text settings file, as `zmrmc save` writes it")
        ->required()
        ->type_name("");
    app->add_flag("--json", options->json, "Write JSON ({\"changes\": [...], \"skipped\": [...]}) instead of a table");
    return {app, [&session, options] { return Diff(session, *options); }};
}
