#include "dialog_template.h"

#include "resource.h"

namespace qvpwdctl {
namespace {

constexpr DialogControl kControls[] = {
    {IDC_PROMPT, ControlKind::kStaticRight, L"Please enter the appropriate password:", 12, 10, 113, 24},
    {IDC_PASSWORD, ControlKind::kPasswordEdit, L"", 130, 15, 144, 14},
    {1, ControlKind::kDefaultButton, L"&Accept", 280, 7, 50, 14},
    {2, ControlKind::kButton, L"&Cancel", 280, 23, 50, 14},
    {IDC_SEPARATOR, ControlKind::kEtchedLine, L"", 4, 43, 330, 2},
    {-1, ControlKind::kStaticRight, L"Keyboard encoding:", 9, 51, 64, 8},
    {IDC_ENCODING, ControlKind::kReadOnlyEdit, L"", 76, 48, 200, 14},
    {IDC_COPY, ControlKind::kButton, L"Copy", 280, 48, 50, 14},
};

constexpr DialogTemplate kDialog = {340,
                                    70,
                                    L"QV Password Conversion Utility",
                                    L"MS Sans Serif",
                                    8,
                                    kControls,
                                    static_cast<int>(sizeof(kControls) / sizeof(kControls[0]))};

}  // namespace

const DialogTemplate& PasswordDialogTemplate() { return kDialog; }

const DialogControl* FindControl(const DialogTemplate& dialog, int id) {
    for (int i = 0; i < dialog.control_count; ++i)
        if (dialog.controls[i].id == id) return &dialog.controls[i];
    return nullptr;
}

}  // namespace qvpwdctl
