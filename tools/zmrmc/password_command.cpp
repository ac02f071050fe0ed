// zmrmc password setup|power-on set|change|verify: the firmware's setup and power-on passwords. The passwords
// come from the password sources (one a line, in this order: for change the current one, then the new one);
// asked for at a prompt or in the control's dialog, a new password is asked twice.
#include "commands.h"
#include "exit_codes.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

namespace {

struct PasswordCommandOptions {
    std::string which;   // "setup" or "power-on"
    std::string action;  // "set", "change" or "verify"
};

// Why the library refused a password call, from its status code.
std::string Refusal(ZmrMCStatus status) {
    switch (status) {
    case 0x80000080u: return "the password is too long for this firmware";
    case 0x80000087u: return "the current setup password does not match";
    case 0x80004005u: return "this machine's firmware does not offer it";
    default: {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
        if ((status & 0xFFFFFF00u) == 0x80005600u || (status & 0xFFFFFF00u) == 0x80005700u)
            return std::string("this machine's firmware has no power-on password of this kind (") + code + ")";
        return std::string("the firmware refused it (") + code + ")";
    }
    }
}

// The next password of the session's source; when there is none and no way to ask, the command says how to
// give it.
Password Needed(ZmrmcLibrary& library, PasswordSource& source, const std::string& what, bool confirm) {
    std::optional<Password> password = source.Next(library, what, true, confirm);
    if (!password)
        throw CommandError("give the " + what + " with --password-file FILE, --password-fd N or --password-stdin, " +
                           "or run zmrmc on a terminal or a display to be asked for it");
    return *password;
}

int Done(ZmrMCStatus status, const std::string& done) {
    if (status != 0) throw CommandError(Refusal(status), kExitPassword);
    std::cout << done << '\n';
    return kExitOk;
}

int SetupPassword(Session& session, const std::string& action) {
    ZmrmcLibrary& library = session.Library();
    PasswordSource& source = session.Passwords();
    bool set = library.SetupPasswordSet() != 0;
    if (action == "set") {
        if (set) throw CommandError("a setup password is set already; use zmrmc password setup change");
        Password fresh = Needed(library, source, "new setup password", true);
        return Done(library.SetSetupPassword(fresh.scan_codes.c_str()), "the setup password is set");
    }
    if (!set)
        throw CommandError("no setup password is set" +
                           std::string(action == "change" ? "; use zmrmc password setup set" : ""));
    std::optional<Password> current = Needed(library, source, "current setup password", false);
    if (action == "change") {
        Password fresh = Needed(library, source, "new setup password", true);
        return Done(library.ChangeSetupPassword(current->scan_codes.c_str(), fresh.scan_codes.c_str()),
                    "the setup password is changed");
    }
    unsigned char status = 0;
    uint16_t length = static_cast<uint16_t>(current->scan_codes.size());
    if (!library.ChangeLockState(current->scan_codes.c_str(), length, 0, &status)) {
        std::cout << "the setup password does not match\n";
        return kExitPassword;
    }
    library.ChangeLockState(current->scan_codes.c_str(), length, 1, &status);
    std::cout << "the setup password matches\n";
    return kExitOk;
}

int PowerOnPassword(Session& session, const std::string& action) {
    ZmrmcLibrary& library = session.Library();
    PasswordSource& source = session.Passwords();
    bool set = library.PowerOnPasswordSet() != 0;
    if (action == "set") {
        if (set) throw CommandError("a power-on password is set already; use zmrmc password power-on change");
        Password fresh = Needed(library, source, "new power-on password", true);
        return Done(library.SetPowerOnPassword(fresh.scan_codes.c_str()), "the power-on password is set");
    }
    if (!set)
        throw CommandError("no power-on password is set" +
                           std::string(action == "change" ? "; use zmrmc password power-on set" : ""));
    std::optional<Password> current = Needed(library, source, "current power-on password", false);
    if (action == "change") {
        Password fresh = Needed(library, source, "new power-on password", true);
        return Done(library.ChangePowerOnPassword(current->scan_codes.c_str(), fresh.scan_codes.c_str()),
                    "the power-on password is changed");
    }
    bool matches = library.VerifyPowerOnPassword(current->scan_codes.c_str()) != 0;
    std::cout << (matches ? "the power-on password matches\n" : "the power-on password does not match\n");
    return matches ? kExitOk : kExitPassword;
}

}  // namespace

Command AddPasswordCommand(CLI::App& program, Session& session) {
    auto options = std::make_shared<PasswordCommandOptions>();
    CLI::App* app = program.add_subcommand(
        "password", "Set, change or verify the setup or power-on password (read as the password options say)");
    app->add_option("WHICH", options->which, "setup or power-on")
        ->required()
        ->check(CLI::IsMember({"setup", "power-on"}));
    app->add_option("ACTION", options->action, "set (none is set yet), change (current, then new) or verify")
        ->required()
        ->check(CLI::IsMember({"set", "change", "verify"}));
    return {app, [&session, options] {
                return options->which == "setup" ? SetupPassword(session, options->action)
                                                 : PowerOnPassword(session, options->action);
            }};
}
