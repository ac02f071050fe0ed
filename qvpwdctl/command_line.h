// The command line of qvpwdctl. A switch is "-" or "/" followed by text that begins with the switch's name,
// compared ignoring case ("/RegServer", "-installNow"); a switch found is taken out of the command line.
//   install | regserver        register the class and the type library, then exit
//   uninstall | unregserver    remove both registrations, then exit
//   Automation | Embedding     serve the class for COM until the last object is released
//   (none)                     register, run the stand-alone dialog, exit when it closes
// When several are given, serving wins over removing, and removing over registering.
#pragma once

#include <string>

namespace qvpwdctl {

enum class RunMode { kStandAlone, kRegister, kUnregister, kServe };

// True when `line` holds the switch of `name`; the first such switch is then taken out of `line`.
bool TakeSwitch(std::wstring& line, const wchar_t* name);

// Takes every switch of the program out of `line` and tells what the run is.
RunMode ParseCommandLine(std::wstring& line);

}  // namespace qvpwdctl
