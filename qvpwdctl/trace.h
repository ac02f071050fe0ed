// Diagnostics of qvpwdctl: one line per call to the debugger output, prefixed "qvpwdctl: ". Never a code or
// an encoding: those are the password.
#pragma once

namespace qvpwdctl {

void Trace(const wchar_t* format, ...);

}  // namespace qvpwdctl
