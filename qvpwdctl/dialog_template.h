// The dialog template of the password dialog (DIALOG 102): its size and caption and every control with its
// position in dialog units, as a window system lays out a dialog resource. The window code turns dialog
// units into pixels from the dialog font (DialogUnits).
#pragma once

namespace qvpwdctl {

enum class ControlKind {
    kStaticRight,    // static text, right-aligned
    kPasswordEdit,   // the ScanCodeEdit: border, auto-scroll, tab stop
    kDefaultButton,  // default push button
    kButton,         // push button
    kEtchedLine,     // etched horizontal line
    kReadOnlyEdit,   // read-only edit, border, auto-scroll
};

struct DialogControl {
    int id;  // -1: none
    ControlKind kind;
    const wchar_t* text;
    int x, y, width, height;  // dialog units
};

struct DialogTemplate {
    int width, height;  // dialog units
    const wchar_t* caption;
    const wchar_t* font_face;
    int font_points;
    const DialogControl* controls;
    int control_count;
};

const DialogTemplate& PasswordDialogTemplate();
// The control of the identifier, or null.
const DialogControl* FindControl(const DialogTemplate& dialog, int id);

// Dialog units to pixels: a horizontal unit is a quarter of the font's average character width, a vertical
// unit an eighth of its height.
struct DialogUnits {
    int char_width;
    int char_height;
    int X(int units) const { return (units * char_width + 2) / 4; }
    int Y(int units) const { return (units * char_height + 4) / 8; }
};

}  // namespace qvpwdctl
