#include "terminal_password_prompt.h"

#include "qv_system_root.h"
#include "scan_code_edit.h"
#include "terminal_keys.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace qvpwdctl {
namespace {

// Waited for the rest of an escape sequence before a lone Escape counts as a key.
constexpr int kEscapeWaitMs = 50;

void Write(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// The terminal's keys are mapped through the US English layout: nothing to switch.
class TerminalKeyboard final : public KeyboardLayouts {
public:
    LayoutHandle Current() override { return kUsEnglishLayout; }
    LayoutHandle LoadAndActivate(const wchar_t*) override { return kUsEnglishLayout; }
    bool Activate(LayoutHandle) override { return true; }
};

class TerminalBell final : public Beeper {
public:
    explicit TerminalBell(int fd) : fd_(fd) {}
    void Beep(BeepSound) override { Write(fd_, "\a"); }

private:
    int fd_;
};

// Raw mode for the life of the object.
class RawMode {
public:
    explicit RawMode(int fd) : fd_(fd) {
        if (tcgetattr(fd, &saved_) != 0) return;
        termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG | IEXTEN);
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = tcsetattr(fd, TCSANOW, &raw) == 0;
    }
    ~RawMode() {
        if (active_) tcsetattr(fd_, TCSANOW, &saved_);
    }
    bool Active() const { return active_; }

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

class Prompt {
public:
    Prompt(int in, int out, const std::wstring& prompt) : in_(in), out_(out), bell_(out), edit_(keyboard_, bell_) {
        prompt_ = qv::win::ToUtf8(prompt) + " ";
    }

    bool Run() {
        edit_.OnFirstPaint();
        Draw();
        std::string pending;
        for (;;) {
            auto key = DecodeTerminalKey(pending, false);
            if (!key) {
                bool more = Wait(pending.empty() ? -1 : kEscapeWaitMs);
                if (more) {
                    char bytes[64];
                    ssize_t n = read(in_, bytes, sizeof(bytes));
                    if (n <= 0) return false;
                    pending.append(bytes, static_cast<size_t>(n));
                    continue;
                }
                key = DecodeTerminalKey(pending, true);
                if (!key) continue;
            }
            pending.erase(0, key->used);
            switch (key->key.kind) {
            case TerminalKey::Kind::kAccept: return true;
            case TerminalKey::Kind::kCancel: return false;
            case TerminalKey::Kind::kIgnored: break;
            case TerminalKey::Kind::kRefused: bell_.Beep(BeepSound::kExclamation); break;
            case TerminalKey::Kind::kCaretKey: Edit([&] { edit_.OnKeyDown(key->key.vk, 1, Caret()); }); break;
            case TerminalKey::Kind::kCharacter:
                Edit([&] {
                    if (key->key.vk != 0) edit_.OnKeyDown(key->key.vk, 1, Caret());
                    edit_.OnChar(key->key.character, key->key.stroke, 1, Caret());
                });
                break;
            }
        }
    }

    const PasswordDialogRules& Rules() const { return rules_; }

private:
    // The terminal line has no selection; its caret is the box's.
    Selection Caret() const { return {edit_.Caret(), edit_.Caret()}; }

    // Handles one message and, when the codes changed, tells the dialog rules (the box's change notification).
    template <typename Message>
    void Edit(Message message) {
        std::vector<uint16_t> before(edit_.Codes().begin(), edit_.Codes().end());
        message();
        if (!std::equal(before.begin(), before.end(), edit_.Codes().begin(), edit_.Codes().end())) {
            auto change = rules_.OnPasswordChange(edit_.Codes());
            if (change.undo) {
                std::wstring codes(change.codes.begin(), change.codes.end());
                edit_.SetText(codes.c_str());
                rules_.OnPasswordChange(edit_.Codes());
                bell_.Beep(BeepSound::kDefault);
            }
        }
        std::fill(before.begin(), before.end(), 0);
        Draw();
    }

    void Draw() {
        std::string line = "\r" + prompt_ + std::string(static_cast<size_t>(edit_.Length()), '*') + "\x1b[K";
        int back = edit_.Length() - edit_.Caret();
        if (back > 0) line += "\x1b[" + std::to_string(back) + "D";
        Write(out_, line);
    }

    // True when input is there within `ms` (-1: wait as long as it takes).
    bool Wait(int ms) {
        pollfd p{in_, POLLIN, 0};
        return poll(&p, 1, ms) > 0;
    }

    int in_, out_;
    std::string prompt_;
    TerminalKeyboard keyboard_;
    TerminalBell bell_;
    ScanCodeEdit edit_;
    PasswordDialogRules rules_;
};

}  // namespace

std::optional<std::wstring> RunTerminalPasswordPrompt(int inFd, int outFd, const TerminalPromptText& text,
                                                      bool* accepted) {
    if (accepted != nullptr) *accepted = false;
    if (!isatty(inFd)) return std::nullopt;
    RawMode raw(inFd);
    if (!raw.Active()) return std::nullopt;
    if (!text.caption.empty()) Write(outFd, qv::win::ToUtf8(text.caption) + "\r\n");
    Prompt prompt(inFd, outFd, text.prompt);
    bool ok = prompt.Run();
    Write(outFd, "\r\n");
    if (accepted != nullptr) *accepted = ok;
    return prompt.Rules().Result(ok);
}

}  // namespace qvpwdctl
