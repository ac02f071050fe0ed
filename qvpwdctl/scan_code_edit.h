// ScanCodeEdit: the password box's behaviour. It keeps, beside the visible text (one "*" per key, drawn by the
// window code from Length() and Caret()), its own buffer of key codes: the set-1 scan code of each key typed,
// with bit 7 set when exactly one of Shift and Caps Lock held. Characters are never kept.
//
// The window code turns its toolkit's key events into the messages below, each handled before the control's
// default processing; a message the edit refuses (it beeps) must not reach that processing, so the visible
// text stays as the buffer. While the edit lives it keeps the US English keyboard layout active.
//
// Lifetime: one per dialog. The destructor overwrites the buffer with zeros and gives the user's layout back.
// Not thread-safe: every call comes from the thread that runs the dialog.
#pragma once

#include "keyboard_layouts.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qvpwdctl {

// A key as a message carries it: its scan code and the Shift and Caps Lock states when it was typed.
struct KeyStroke {
    uint8_t scan_code = 0;
    bool shift = false;
    bool caps_lock = false;
};

// The key code kept for a key stroke.
uint16_t KeyCode(const KeyStroke& key);

// The selection the control shows, as character positions; start == end is the bare caret.
struct Selection {
    int start = 0;
    int end = 0;
    bool Empty() const { return start == end; }
};

class ScanCodeEdit {
public:
    static constexpr int kCapacity = 32;
    static constexpr uint8_t kAltScanCode = 0x38;
    static constexpr uint16_t kSlashKeyCode = 0x35;
    static constexpr int kMaxForcedSwitches = 300;

    // Takes the current layout and, unless it is US English, loads and activates US English.
    ScanCodeEdit(KeyboardLayouts& layouts, Beeper& beeper);
    ~ScanCodeEdit();
    ScanCodeEdit(const ScanCodeEdit&) = delete;
    ScanCodeEdit& operator=(const ScanCodeEdit&) = delete;

    // A character message: `character` as the layout produced it, `key` the stroke that typed it, `repeat` the
    // repetitions it stands for, `shown` the control's selection. True: pass it on to the control.
    bool OnChar(wchar_t character, const KeyStroke& key, int repeat, Selection shown);
    // A key-down message of virtual key `vk` (VK_*). Always passed on.
    void OnKeyDown(unsigned vk, int repeat, Selection shown);
    // A key-up message: the caret the control should take, when it has one to take.
    std::optional<int> OnKeyUp(unsigned vk, bool controlHasSelection) const;
    // Cut, copy, paste and clear requests: always ignored (false: not passed on).
    bool OnClipboardRequest() const { return false; }
    // The first paint: arms the layout watch (and switches now if creation could not).
    void OnFirstPaint();
    // The input language changed to `layout`.
    void OnInputLanguageChange(LayoutHandle layout);

    // The text query: the codes as characters, cut to `size` - 1 of them, then a zero. Returns the number
    // written without the zero (0 when size is 0).
    size_t GetText(wchar_t* buffer, size_t size) const;
    // Setting the text: the codes become the characters given (at most 32), the caret goes to 0.
    void SetText(const wchar_t* text);

    std::span<const uint16_t> Codes() const { return {codes_.data(), static_cast<size_t>(length_)}; }
    int Length() const { return length_; }
    int Caret() const { return caret_; }
    bool Switched() const { return switched_; }
    int ForcedSwitches() const { return forced_switches_; }

private:
    void SwitchToUsEnglish();
    void Remove(int start, int end);
    void TakeSelection(Selection shown);

    KeyboardLayouts& layouts_;
    Beeper& beeper_;
    std::array<uint16_t, kCapacity + 1> codes_{};
    int length_ = 0;
    int caret_ = 0;
    Selection selection_;
    LayoutHandle previous_layout_ = 0;
    LayoutHandle us_layout_ = 0;
    bool switched_ = false;
    bool armed_ = false;
    int forced_switches_ = 0;
};

}  // namespace qvpwdctl
