// zmrmc show [NAME...] [--json]: the settings with their values, kinds and possible values.
#include "commands.h"
#include "exit_codes.h"
#include "setting_view.h"
#include "table.h"
#include "text.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ShowOptions {
    std::vector<std::string> names;
    bool json = false;
};

// A NAME matches a setting's full name ("SATA Port\SATA 0") or its name alone (all its namesakes).
bool Matches(const SettingView& view, const std::string& name) {
    return SameIgnoringCase(view.full_name, name) || SameIgnoringCase(view.name, name);
}

int Show(Session& session, const ShowOptions& options) {
    session.ReadSettings();
    std::vector<SettingView> shown;
    for (auto& [index, view] : AllSettings(session.Library())) {
        bool wanted = options.names.empty();
        for (const auto& name : options.names) wanted = wanted || Matches(view, name);
        if (wanted) shown.push_back(std::move(view));
    }
    for (const auto& name : options.names) {
        bool found = false;
        for (const auto& view : shown) found = found || Matches(view, name);
        if (!found) throw CommandError("no setting named '" + name + "' on this machine");
    }
    if (options.json) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& view : shown) out.push_back(view.Json());
        std::cout << out.dump(2) << '\n';
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const auto& view : shown)
        rows.push_back(
            {view.full_name, view.type_name, view.Value(), view.Possible(), view.read_only ? "read-only" : ""});
    WriteTable(std::cout, {"SETTING", "TYPE", "VALUE", "POSSIBLE VALUES", "ACCESS"}, rows);
    return kExitOk;
}

}  // namespace

Command AddShowCommand(CLI::App& program, Session& session) {
    auto options = std::make_shared<ShowOptions>();
    CLI::App* app = program.add_subcommand("show", "Show the settings with their values, kinds and possible values");
    app->add_option("NAME", options->names,
                    "Only these settings: a name (every setting of that name) or a full name \"Name\\Sub-name\"");
    app->add_flag("--json", options->json, "Write JSON instead of a table");
    return {app, [&session, options] { return Show(session, *options); }};
}
