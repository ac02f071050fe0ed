// What the password box needs of the keyboard and the speaker: the active keyboard layout (Windows'
// layout handles: 0x04090409 is US English) and the two beeps. The dialog's window code and the terminal form
// supply them; tests supply their own.
#pragma once

#include <cstdint>

namespace qvpwdctl {

using LayoutHandle = uint32_t;
constexpr LayoutHandle kUsEnglishLayout = 0x04090409;
constexpr const wchar_t* kUsEnglishLayoutName = L"04090409";

class KeyboardLayouts {
public:
    virtual ~KeyboardLayouts() = default;
    // The layout now active for the user's input.
    virtual LayoutHandle Current() = 0;
    // Loads the layout of the name ("04090409") and makes it active; its handle, or 0 when it cannot.
    virtual LayoutHandle LoadAndActivate(const wchar_t* name) = 0;
    // Makes a layout loaded earlier active again; false when it is no longer there.
    virtual bool Activate(LayoutHandle layout) = 0;
};

enum class BeepSound {
    kDefault,      // the default sound
    kExclamation,  // the exclamation sound
};

class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void Beep(BeepSound sound) = 0;
};

}  // namespace qvpwdctl
