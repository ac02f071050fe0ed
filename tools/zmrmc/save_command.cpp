// zmrmc save FILE [--xml]: the configuration to a text settings file (which `diff` and later `apply` read)
// or to the XML document.
#include "commands.h"
#include "exit_codes.h"
#include "progress_line.h"
#include "qv_system_root.h"
#include "text.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>

namespace fs = std::filesystem;

namespace {

struct SaveOptions {
    std::string file;
    bool xml = false;
};

// Why the library could not write `path`, as far as the file system tells.
std::string WhyNotWritten(const std::string& path) {
    fs::path host = qv::win::HostPath(AnsiFromUtf8(path));
    std::error_code ec;
    if (fs::is_directory(host, ec)) return "it is a folder";
    fs::path folder = host.has_parent_path() ? host.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec)) return "its folder does not exist";
    if (access(folder.c_str(), W_OK) != 0 || (fs::exists(host, ec) && access(host.c_str(), W_OK) != 0))
        return "permission denied";
    return "the file could not be created or written";
}

int Save(Session& session, const SaveOptions& options) {
    session.ReadSettings();
    ZmrmcLibrary& library = session.Library();
    std::string path = AnsiFromUtf8(options.file);
    const char* password = session.ReadPassword();
    ProgressLine progress("saving to " + options.file);
    bool written = library.WriteToFile(path.c_str(), options.xml ? 0 : 1, password) != 0;
    progress.Stop();
    if (!written) throw CommandError("cannot save to " + options.file + ": " + WhyNotWritten(options.file));
    int settings = 0;
    for (int i = 0, count = library.Count(); i < count; ++i) settings += library.At(i)->type != SRI_TYPE_STRING_TABLE;
    std::cout << "saved " << settings << " settings to " << options.file << (options.xml ? " (XML)" : "") << '\n';
    return kExitOk;
}

}  // namespace

Command AddSaveCommand(CLI::App& program, Session& session) {
    auto options = std::make_shared<SaveOptions>();
    CLI::App* app = program.add_subcommand("save", "Save the configuration to a settings file");
    app->add_option("FILE", options->file, "The file to write (created or replaced)")->required()->type_name("");
    app->add_flag("--xml", options->xml, "Write the XML document (for other tools; zmrmc cannot read it back)");
    return {app, [&session, options] { return Save(session, *options); }};
}
