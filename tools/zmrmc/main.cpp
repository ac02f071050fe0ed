// zmrmc: the administrators' command for the firmware settings, on the BIOS access library's exports.
//
//   zmrmc [--password-file FILE | --password-stdin] COMMAND ...
//     show [NAME...] [--json]      the settings with their values, kinds and possible values
//     save FILE [--xml]            the configuration to a text settings file (or the XML document)
//     diff FILE [--json]           what applying a settings file would change, and what it would skip
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
    CLI::App program{"Show, save and compare the firmware's setup settings of this machine.", "zmrmc"};
    program.fallthrough();  // the shared options may follow the command
    program.require_subcommand(1);
    program.footer(std::string("\nThe setup password is read from a file or standard input, or asked for on a "
                               "terminal when the firmware has one; never give it on the command line.\n\n") +
                   kExitCodesHelp);
    Session session;
    session.password_options.AddTo(program);
    std::vector<Command> commands = {
        AddShowCommand(program, session),
        AddSaveCommand(program, session),
        AddDiffCommand(program, session),
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
