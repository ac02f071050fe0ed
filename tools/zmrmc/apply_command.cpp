// zmrmc apply FILE [--json]: takes a text settings file into the settings, writes every setting it sets,
// then reads the settings again and tells what changed and which settings do not hold the value the file
// asked for. What the file names that applying skips is said as `diff` says it.
#include "commands.h"
#include "commits.h"
#include "exit_codes.h"
#include "settings_file_check.h"
#include "text.h"

#include <iostream>
#include <map>
#include <memory>

namespace {

struct ApplyOptions {
    std::string file;
    bool json = false;
};

int Apply(Session& session, const ApplyOptions& options) {
    session.ReadSettings();
    RequireSetupPassword(session);
    ZmrmcLibrary& library = session.Library();
    std::string text = ReadSettingsFile(options.file);
    std::vector<FileNote> notes = CheckSettingsFile(library, text,
                                                    CurrentSettingsFile(library, session.ReadPassword()));
    std::map<int, SettingView> before;
    for (auto& [index, view] : AllSettings(library)) before.emplace(index, std::move(view));
    std::string path = AnsiFromUtf8(options.file);
    if (!library.ReadFromFile(path.c_str(), session.ReadPassword()))
        throw CommandError(options.file + ": the BIOS access library could not read it; nothing was written");
    std::vector<int> flagged;
    for (int i = 0, count = library.Count(); i < count; ++i)
        if (const SRI* record = library.At(i); record != nullptr && record->changed) flagged.push_back(i);

    std::vector<CommitOutcome> outcomes = CommitSettings(session, flagged, before);
    nlohmann::json skipped = {{"skipped", nlohmann::json::array()}};
    for (const auto& n : notes)
        skipped["skipped"].push_back({{"line", n.line}, {"setting", n.setting}, {"reason", n.reason}});
    int code = ReportOutcomes(outcomes, options.json, &skipped);
    if (!options.json)
        for (const auto& n : notes)
            std::cerr << "zmrmc: " << options.file << ":" << n.line << ": "
                      << (n.setting.empty() ? "" : n.setting + ": ") << n.reason << " (skipped)\n";
    if (code == kExitOk && !notes.empty()) return kExitSkipped;
    return code;
}

}  // namespace

Command AddApplyCommand(CLI::App& program, Session& session) {
    auto options = std::make_shared<ApplyOptions>();
    CLI::App* app = program.add_subcommand(
        "apply", "Write the settings a settings file sets, then show what changed and what did not take");
    app->add_option("FILE", options->file, "A text settings file, as `zmrmc save` writes it")
        ->required()
        ->type_name("");
    app->add_flag("--json", options->json,
                  "Write JSON ({\"changes\": [...], \"not_taken\": [...], \"skipped\": [...]}) instead of a table");
    return {app, [&session, options] { return Apply(session, *options); }};
}
