// Keyboard layouts of an X display through XKB. The layouts loaded are the keymap's groups, named by the
// layout list of the root window's _XKB_RULES_NAMES ("de,us"); the active layout is the keyboard's group.
// Loading a layout that is not among the groups adds it as a new group, compiling the keymap from the same
// rules, model, variants and options (as setxkbmap does); activating locks its group.
//
// Handles are Windows' layout handles: the language of the layout in both halves (us 0x04090409, de
// 0x04070407, fr 0x040C040C...); a layout without a known language gets a handle of its own (0xF000xxxx).
#pragma once

#include "keyboard_layouts.h"

#include <X11/Xlib.h>

#include <string>

namespace qvpwdctl {

class XkbKeyboardLayouts final : public KeyboardLayouts {
public:
    // `display` stays the caller's; it must have the XKB extension initialised (XkbQueryExtension).
    explicit XkbKeyboardLayouts(Display* display);

    LayoutHandle Current() override;
    LayoutHandle LoadAndActivate(const wchar_t* name) override;
    bool Activate(LayoutHandle layout) override;

    // Asks the display for the events that tell of a layout change (group changes, new keymaps).
    void WatchChanges();
    // The layout `event` changed to, when it is one of those (a group change names its group; after a new
    // keymap the current layout); else 0.
    LayoutHandle LayoutChangedTo(const XEvent& event);

    // The handle of an XKB layout name ("de", "de(nodeadkeys)" and "de" with a variant are German alike).
    static LayoutHandle HandleOfLayout(const std::string& layout);
    // The XKB layout of a layout name such as "00000407" or "04090409"; empty when not known.
    static std::string LayoutOfName(const std::wstring& name);

private:
    Display* display_;
    int xkb_event_ = 0;
};

}  // namespace qvpwdctl
