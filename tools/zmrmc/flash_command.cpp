// zmrmc flash FILE: writes a new ROM image into the flash part: a cabinet holding ROM.BIN and ROM.SIG, or an
// image whose name ends in ".BIN" beside its ".SIG". The library checks the image's size and signature, saves
// the current contents and writes them back when the image does not stick; the outcome is said in words.
// The library's flash export reports no progress, so the progress line shows the time taken, not blocks.
#include "commands.h"
#include "exit_codes.h"
#include "progress_line.h"
#include "qv_system_root.h"
#include "text.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

struct FlashOptions {
    std::string file;
};

// What a flash status means for the administrator; empty for success.
std::string Outcome(int status, const std::string& file) {
    switch (status) {
    case ZMRMC_FLASH_OK: return "";
    case ZMRMC_FLASH_NO_IMAGE:
        return file +
               " holds no usable image (a cabinet needs ROM.BIN, an image at least 256 KiB); nothing was "
               "written";
    case ZMRMC_FLASH_BAD_SIGNATURE: return "the image's signature is missing or does not verify: it was not written";
    case ZMRMC_FLASH_SIZE: return "the image's size differs from this machine's ROM; nothing was written";
    case ZMRMC_FLASH_VERSION:
        return "the firmware's flash interface is not one this library knows; nothing was written";
    case ZMRMC_FLASH_GEOMETRY:
        return "the firmware announces flash blocks this library cannot carry; nothing was written";
    case ZMRMC_FLASH_PASSWORD: return "the setup password is longer than 32 keys; nothing was written";
    case ZMRMC_FLASH_RESTORED: return "the image could not be written; the ROM holds its previous contents again";
    case ZMRMC_FLASH_NOT_WRITTEN:
        return "the image could not be written and the previous contents could not be written back: do not "
               "restart the machine before a flash succeeds";
    case ZMRMC_FLASH_NO_RETRY:
        return "the firmware refused the image part-way and forbids another try: the ROM may hold part of it; do "
               "not restart the machine";
    case ZMRMC_STATUS_NOT_REACHED: return "the firmware could not be reached; the ROM's state is not known";
    default: return "the firmware refused the flash (status " + std::to_string(status) + ")";
    }
}

int Flash(Session& session, const FlashOptions& options) {
    std::error_code ec;
    fs::path host = qv::win::HostPath(AnsiFromUtf8(options.file));
    if (!fs::is_regular_file(host, ec)) throw CommandError("cannot read " + options.file + ": no such file");
    ZmrmcLibrary& library = session.Library();
    const char* password = session.ReadPassword();
    std::string path = AnsiFromUtf8(options.file);
    ProgressLine progress("flashing " + options.file);
    int status = library.FlashRom(path.c_str(), password);
    progress.Stop();
    std::string outcome = Outcome(status, options.file);
    if (!outcome.empty()) throw CommandError("flash of " + options.file + " failed: " + outcome);
    std::cout << "flashed " << options.file << ": the new image runs after the next restart\n";
    return kExitOk;
}

}  // namespace

Command AddFlashCommand(CLI::App& program, Session& session) {
    auto options = std::make_shared<FlashOptions>();
    CLI::App* app = program.add_subcommand("flash", "Write a new ROM image (a cabinet, or FILE.BIN with FILE.SIG)");
    app->add_option("FILE", options->file, "The cabinet or the image to write")->required()->type_name("");
    return {app, [&session, options] { return Flash(session, *options); }};
}
