#include "scan_code_edit.h"

#include "trace.h"
#include "winuser.h"

#include <algorithm>

namespace qvpwdctl {

uint16_t KeyCode(const KeyStroke& key) {
    return static_cast<uint16_t>(key.scan_code | ((key.shift != key.caps_lock) ? 0x80 : 0));
}

ScanCodeEdit::ScanCodeEdit(KeyboardLayouts& layouts, Beeper& beeper) : layouts_(layouts), beeper_(beeper) {
    SwitchToUsEnglish();
}

ScanCodeEdit::~ScanCodeEdit() {
    // The codes are the password: nothing of them may stay in freed memory.
    volatile uint16_t* wipe = codes_.data();
    for (size_t i = 0; i < codes_.size(); ++i) wipe[i] = 0;
    length_ = caret_ = 0;
    if (switched_) {
        bool back = layouts_.Activate(previous_layout_);
        Trace(back ? L"keyboard layout %08X restored" : L"keyboard layout %08X could not be restored",
              previous_layout_);
    }
}

void ScanCodeEdit::SwitchToUsEnglish() {
    LayoutHandle current = layouts_.Current();
    if (current == kUsEnglishLayout) return;
    LayoutHandle us = layouts_.LoadAndActivate(kUsEnglishLayoutName);
    if (us == 0) return;
    if (!switched_) previous_layout_ = current;
    us_layout_ = us;
    switched_ = true;
    Trace(L"keyboard layout %08X switched to %08X", previous_layout_, us);
}

void ScanCodeEdit::OnFirstPaint() {
    if (!switched_) SwitchToUsEnglish();
    armed_ = true;
}

void ScanCodeEdit::OnInputLanguageChange(LayoutHandle layout) {
    if (!armed_ || layout == kUsEnglishLayout || forced_switches_ >= kMaxForcedSwitches) return;
    LayoutHandle us = layouts_.LoadAndActivate(kUsEnglishLayoutName);
    if (us == 0) return;
    if (!switched_) previous_layout_ = layout;
    us_layout_ = us;
    switched_ = true;
    ++forced_switches_;
    Trace(L"keyboard layout %08X switched back to %08X (%d)", layout, us, forced_switches_);
    beeper_.Beep(BeepSound::kDefault);
}

// The control's caret is where the user sees it (a mouse click moves it too), so the buffer follows it.
void ScanCodeEdit::TakeSelection(Selection shown) {
    shown.start = std::clamp(shown.start, 0, length_);
    shown.end = std::clamp(shown.end, 0, length_);
    if (shown.start > shown.end) std::swap(shown.start, shown.end);
    selection_ = shown;
    if (shown.Empty()) caret_ = shown.start;
}

void ScanCodeEdit::Remove(int start, int end) {
    std::copy(codes_.begin() + end, codes_.begin() + length_ + 1, codes_.begin() + start);
    length_ -= end - start;
    std::fill(codes_.begin() + length_ + 1, codes_.end(), 0);
    caret_ = start;
    selection_ = {start, start};
}

bool ScanCodeEdit::OnChar(wchar_t character, const KeyStroke& key, int repeat, Selection shown) {
    TakeSelection(shown);
    // Characters typed as Alt with keypad digits arrive with the Alt key's scan code.
    if (key.scan_code == kAltScanCode) {
        beeper_.Beep(BeepSound::kDefault);
        return false;
    }
    uint16_t code = KeyCode(key);
    for (int i = 0; i < std::max(repeat, 1); ++i) {
        if (character == L'\r' || character == 0) {
            beeper_.Beep(BeepSound::kExclamation);
            return false;
        }
        if (character == L'\b') {
            // With a selection the control removes the selection, so the buffer does the same.
            if (!selection_.Empty()) {
                Remove(selection_.start, selection_.end);
            } else if (caret_ == 0) {
                beeper_.Beep(BeepSound::kExclamation);
                return false;
            } else {
                Remove(caret_ - 1, caret_);
            }
            continue;
        }
        if (character < 32 || code == kSlashKeyCode) {
            beeper_.Beep(BeepSound::kExclamation);
            return false;
        }
        if (!selection_.Empty()) Remove(selection_.start, selection_.end);
        if (length_ >= kCapacity) {
            beeper_.Beep(BeepSound::kExclamation);
            return false;
        }
        std::copy_backward(codes_.begin() + caret_, codes_.begin() + length_, codes_.begin() + length_ + 1);
        codes_[static_cast<size_t>(caret_)] = code;
        ++length_;
        ++caret_;
        codes_[static_cast<size_t>(length_)] = 0;
    }
    return true;
}

void ScanCodeEdit::OnKeyDown(unsigned vk, int repeat, Selection shown) {
    TakeSelection(shown);
    for (int i = 0; i < std::max(repeat, 1); ++i) {
        switch (vk) {
        case VK_BACK:
            selection_ = {selection_.end, selection_.end};
            caret_ = selection_.end;
            break;
        case VK_END: caret_ = length_; break;
        case VK_HOME: caret_ = 0; break;
        case VK_LEFT:
        case VK_UP: caret_ = std::max(caret_ - 1, 0); break;
        case VK_RIGHT:
        case VK_DOWN: caret_ = std::min(caret_ + 1, length_); break;
        case VK_DELETE:
            if (!selection_.Empty())
                Remove(selection_.start, selection_.end);
            else if (caret_ < length_)
                Remove(caret_, caret_ + 1);
            break;
        default: break;
        }
    }
}

std::optional<int> ScanCodeEdit::OnKeyUp(unsigned vk, bool controlHasSelection) const {
    if ((vk == VK_LEFT || vk == VK_RIGHT) && !controlHasSelection) return caret_;
    return std::nullopt;
}

size_t ScanCodeEdit::GetText(wchar_t* buffer, size_t size) const {
    if (buffer == nullptr || size == 0) return 0;
    size_t count = std::min(static_cast<size_t>(length_), size - 1);
    for (size_t i = 0; i < count; ++i) buffer[i] = static_cast<wchar_t>(codes_[i]);
    buffer[count] = 0;
    return count;
}

void ScanCodeEdit::SetText(const wchar_t* text) {
    std::fill(codes_.begin(), codes_.end(), 0);
    length_ = 0;
    for (; text != nullptr && text[length_] != 0 && length_ < kCapacity; ++length_)
        codes_[static_cast<size_t>(length_)] = static_cast<uint16_t>(text[length_]);
    caret_ = 0;
    selection_ = {};
}

}  // namespace qvpwdctl
