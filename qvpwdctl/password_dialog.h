// The password dialog's own rules (class CQvPwdCtlDlg), apart from any window: the prompt it shows, what the
// encoding box shows after each change of the password box, and what the dialog answers when it closes.
// The GTK dialog and the terminal form both run on it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qvpwdctl {

// "<kbd/>" and two hexadecimal digits ("%02X") of the low 8 bits of each code; empty for no codes.
std::wstring EncodeKeyCodes(std::span<const uint16_t> codes);

// The prompt with white space removed from both ends, or `defaultPrompt` when nothing remains.
std::wstring DialogPrompt(const std::wstring& prompt, const std::wstring& defaultPrompt);

enum class DialogForm {
    kFull,     // the stand-alone utility: the encoding box and Copy are shown
    kCompact,  // GetPassword: the window ends above the line, so the encoding is hidden
};

class PasswordDialogRules {
public:
    PasswordDialogRules() = default;
    // Overwrites the codes and the encoding it kept.
    ~PasswordDialogRules();
    PasswordDialogRules(const PasswordDialogRules&) = delete;
    PasswordDialogRules& operator=(const PasswordDialogRules&) = delete;

    // What a change of the password box leads to.
    struct Change {
        // The key was doubled: the password box gets `codes` back (and the dialog beeps).
        bool undo = false;
        std::vector<uint16_t> codes;
    };

    // Called with the password box's codes after each change.
    Change OnPasswordChange(std::span<const uint16_t> codes);
    // The encoding box's text.
    const std::wstring& Encoding() const { return encoding_; }
    // The dialog's answer: the encoding when the user accepted, else an empty text.
    std::wstring Result(bool accepted) const { return accepted ? encoding_ : std::wstring(); }

private:
    std::vector<uint16_t> last_;
    std::wstring encoding_;
};

}  // namespace qvpwdctl
