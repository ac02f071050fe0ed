// zmrmc defaults [--json]: the firmware restores its factory defaults; then the settings are read again and
// what changed is shown.
#include "commands.h"
#include "commits.h"
#include "exit_codes.h"
#include "progress_line.h"
#include "setting_change.h"
#include "table.h"

#include <iostream>
#include <memory>

namespace {

struct DefaultsOptions {
    bool json = false;
};

int Defaults(Session& session, const DefaultsOptions& options) {
    session.ReadSettings();
    RequireSetupPassword(session);
    ZmrmcLibrary& library = session.Library();
    auto before = AllSettings(library);
    {
        ProgressLine progress("restoring the factory defaults");
        if (!library.SetDefaults(session.CommitPassword()))
            throw CommandError("the firmware did not restore its factory defaults");
    }
    session.ReadSettingsAgain();
    std::vector<Change> changes;
    for (const auto& [index, now] : AllSettings(library))
        for (const auto& [was_index, was] : before)
            if (was.full_name == now.full_name && was.type == now.type) {
                if (auto change = ChangeOf(was, now)) changes.push_back(*change);
                break;
            }
    if (options.json) {
        nlohmann::json out = {{"changes", nlohmann::json::array()}};
        for (const auto& c : changes)
            out["changes"].push_back({{"setting", c.setting}, {"old", c.old_value}, {"new", c.new_value}});
        std::cout << out.dump(2) << '\n';
    } else if (changes.empty()) {
        std::cout << "the factory defaults are restored; no setting changed\n";
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const auto& c : changes) rows.push_back({c.setting, c.old_value, c.new_value});
        WriteTable(std::cout, {"SETTING", "OLD VALUE", "NEW VALUE"}, rows);
    }
    return kExitOk;
}

}  // namespace

Command AddDefaultsCommand(CLI::App& program, Session& session) {
    auto options = std::make_shared<DefaultsOptions>();
    CLI::App* app = program.add_subcommand("defaults", "Restore the firmware's factory defaults and show what changed");
    app->add_flag("--json", options->json, "Write JSON ({\"changes\": [...]}) instead of a table");
    return {app, [&session, options] { return Defaults(session, *options); }};
}
