// zmrmc diff FILE [--json]: what applying a settings file would change (setting, old value, new value) and
// what it would skip. Nothing is written: the file is read into the settings in memory only.
#include "commands.h"
#include "exit_codes.h"
#include "progress_line.h"
#include "setting_change.h"
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
