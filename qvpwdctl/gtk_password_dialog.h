// The password dialog on an X display with GTK 3, laid out from its dialog template: the prompt, the password
// box (a ScanCodeEdit), Accept and Cancel, and in the full form the line, the encoding box and Copy. It runs
// modally on the calling thread; while it is open the US English layout stays active (XKB), refused keys
// ring the display's named bells.
#pragma once

#include "password_dialog.h"

#include <string>

namespace qvpwdctl {

// Opens the display for GTK the first time it is asked (X11 only); false when there is none. Later calls
// answer the first one's result.
bool OpenGtkDisplay();

struct DialogOutcome {
    bool accepted = false;
    std::wstring result;  // the encoding box's text when accepted, else empty
};

// Runs the dialog and returns when the user closed it. Needs OpenGtkDisplay() to have answered true.
DialogOutcome RunGtkPasswordDialog(DialogForm form, const std::wstring& prompt);

}  // namespace qvpwdctl
