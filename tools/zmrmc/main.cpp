// zmrmc: the administrators' command for the firmware settings, on the BIOS access library's exports.
//
//   zmrmc [--password-file FILE | --password-fd N | --password-stdin] COMMAND ...
//     show [NAME...] [--json]      the settings with their values, kinds and possible values
//     save FILE [--xml]            the configuration to a text settings file (or the XML document)
//     diff FILE [--json]           what applying a settings file would change, and what it would skip
//     apply FILE [--json]          write what a settings file sets, then what changed and what did not take
//     set NAME VALUE [--json]      write one setting and read it back
//     defaults [--json]            restore the firmware's factory defaults
//     password setup|power-on set|change|verify
//     flash FILE                   write a new ROM image (a cabinet, or FILE.BIN beside FILE.SIG)
//
// Errors go to standard error as "zmrmc: " and a message naming the setting or file and the reason; the
// exit codes are listed in exit_codes.h (and by --help).
#include "commands.h"
#include "exit_codes.h"
#include "session.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <vector>

int main(int argc, char** argv) {
    CLI::App program{"Show, save, compare and write the firmware's setup settings and passwords of this machine.",
                     "zmrmc"};
    program.fallthrough();  // the shared options may follow the command
    program.require_subcommand(1);
    program.footer(std::string("\nPasswords are read from a file, a file descriptor or standard input, one a line "
                               "in the order the command asks for them (the setup password first), or asked for "
                               "in the password entry control's dialog (a display) or at a prompt (a terminal); "
                               "never give one on the command line.\n\n") +
                   kExitCodesHelp);
    Session session;
    session.password_options.AddTo(program);
    std::vector<Command> commands = {
        AddShowCommand(program, session),     AddSaveCommand(program, session),  AddDiffCommand(program, session),
        AddApplyCommand(program, session),    AddSetCommand(program, session),   AddDefaultsCommand(program, session),
        AddPasswordCommand(program, session), AddFlashCommand(program, session),
    };
    try {
        program.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return program.exit(done);
    } catch (const CLI::ParseError& wrong) {
        program.exit(wrong);
        return kExitUsage;
    }
    try {
        for (const Command& command : commands)
            if (command.app->parsed()) return command.run();
    } catch (const CommandError& error) {
        std::cerr << "zmrmc: " << error.what() << '\n';
        return error.code();
    } catch (const std::exception& error) {
        std::cerr << "zmrmc: " << error.what() << '\n';
        return kExitFailed;
    }
    return kExitUsage;
}
