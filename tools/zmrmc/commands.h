// The commands of zmrmc. Each adds its subcommand to the program's and says what runs when it is chosen;
// a command reports failure by throwing CommandError and success by its exit code.
#pragma once

#include "session.h"

#include <CLI/CLI.hpp>

#include <functional>

struct Command {
    CLI::App* app;
    std::function<int()> run;
};

Command AddShowCommand(CLI::App& program, Session& session);      // show_command.cpp
Command AddSaveCommand(CLI::App& program, Session& session);      // save_command.cpp
Command AddDiffCommand(CLI::App& program, Session& session);      // diff_command.cpp
Command AddApplyCommand(CLI::App& program, Session& session);     // apply_command.cpp
Command AddSetCommand(CLI::App& program, Session& session);       // set_command.cpp
Command AddDefaultsCommand(CLI::App& program, Session& session);  // defaults_command.cpp
Command AddPasswordCommand(CLI::App& program, Session& session);  // password_command.cpp
Command AddFlashCommand(CLI::App& program, Session& session);     // flash_command.cpp
