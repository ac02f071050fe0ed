// The two beeps on an X display: XKB bells named after the sounds ("SystemDefault", "SystemExclamation"), so
// that a sound theme can tell them apart and a test can count them (XkbBellNotify). Each beep waits until the
// server has rung it.
#pragma once

#include "keyboard_layouts.h"

#include <X11/Xlib.h>

namespace qvpwdctl {

class X11Bell final : public Beeper {
public:
    explicit X11Bell(Display* display) : display_(display) {}
    void Beep(BeepSound sound) override;

    static constexpr const char* kDefaultName = "SystemDefault";
    static constexpr const char* kExclamationName = "SystemExclamation";

private:
    Display* display_;
};

}  // namespace qvpwdctl
