// ScanCodeEdit's rules, message by message, with a scripted keyboard and speaker.

#include "password_dialog.h"
#include "scan_code_edit.h"
#include "winuser.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

using qvpwdctl::BeepSound;
using qvpwdctl::KeyStroke;
using qvpwdctl::LayoutHandle;
using qvpwdctl::ScanCodeEdit;
using qvpwdctl::Selection;

constexpr LayoutHandle kGerman = 0x04070407;

class FakeLayouts final : public qvpwdctl::KeyboardLayouts {
public:
    LayoutHandle current = kGerman;
    bool can_load = true;
    int loads = 0;
    std::vector<LayoutHandle> activated;
    LayoutHandle Current() override { return current; }
    LayoutHandle LoadAndActivate(const wchar_t* name) override {
        if (!can_load || std::wstring(name) != L"04090409") return 0;
        ++loads;
        return current = qvpwdctl::kUsEnglishLayout;
    }
    bool Activate(LayoutHandle layout) override {
        activated.push_back(layout);
        current = layout;
        return true;
    }
};

class FakeBeeper final : public qvpwdctl::Beeper {
public:
    std::string heard;  // "!" exclamation, "." default
    void Beep(BeepSound sound) override { heard += sound == BeepSound::kExclamation ? '!' : '.'; }
};

// One message to the edit. Characters carry the key of the US layout that types them.
struct Message {
    enum Kind { kChar, kKeyDown } kind;
    wchar_t character;
    KeyStroke key;
    unsigned vk;
    Selection shown;  // start -1: the bare caret where the edit has it
};

Message Char(wchar_t c, uint8_t scan, bool shift = false, bool caps = false, Selection shown = {-1, -1}) {
    return {Message::kChar, c, {scan, shift, caps}, 0, shown};
}
Message Down(unsigned vk, Selection shown = {-1, -1}) { return {Message::kKeyDown, 0, {}, vk, shown}; }
Message Key(char c) {
    const std::string letters = "qwertyuiop";
    return Char(static_cast<wchar_t>(c), static_cast<uint8_t>(0x10 + letters.find(c)));
}

struct Case {
    const char* name;
    std::vector<Message> messages;
    std::vector<uint16_t> codes;
    const char* beeps;
};

std::vector<Case> Cases() {
    std::vector<Message> thirty_three(33, Key('q'));
    return {
        {"a, Shift+a, Caps Lock a, Caps Lock Shift+a",
         {Char('a', 0x1E), Char('A', 0x1E, true), Char('A', 0x1E, false, true), Char('a', 0x1E, true, true)},
         {0x1E, 0x9E, 0x9E, 0x1E},
         ""},
        {"33rd key", thirty_three, std::vector<uint16_t>(32, 0x10), "!"},
        {"slash refused, Shift+slash", {Char('/', 0x35), Char('?', 0x35, true)}, {0xB5}, "!"},
        {"slash with Caps Lock is a shifted key", {Char('/', 0x35, false, true)}, {0xB5}, ""},
        {"carriage return and character 0", {Key('q'), Char('\r', 0x1C), Char(0, 0x03)}, {0x10}, "!!"},
        {"control characters", {Char(0x16, 0x2F), Char(0x03, 0x2E)}, {}, "!!"},
        {"Alt with keypad digits", {Char(L'\xE9', 0x38)}, {}, "."},
        {"Backspace before the caret",
         {Key('q'), Key('w'), Key('e'), Down(VK_LEFT), Char('\b', 0x0E)},
         {0x10, 0x12},
         ""},
        {"Backspace at 0", {Key('q'), Down(VK_HOME), Char('\b', 0x0E)}, {0x10}, "!"},
        {"Delete at the caret", {Key('q'), Key('w'), Down(VK_HOME), Down(VK_DELETE)}, {0x11}, ""},
        {"Delete at the end", {Key('q'), Down(VK_DELETE)}, {0x10}, ""},
        {"Delete of a selection", {Key('q'), Key('w'), Key('e'), Down(VK_DELETE, {0, 2})}, {0x12}, ""},
        {"typing over a selection",
         {Key('q'), Key('w'), Key('e'), Char('r', 0x13, false, false, {1, 3})},
         {0x10, 0x13},
         ""},
        {"Backspace over a selection",
         {Key('q'), Key('w'), Key('e'), Char('\b', 0x0E, false, false, {1, 3})},
         {0x10},
         ""},
        {"End, Right and Up stay within the codes",
         {Key('q'), Down(VK_HOME), Down(VK_UP), Key('w'), Down(VK_END), Down(VK_RIGHT), Down(VK_DOWN), Key('e')},
         {0x11, 0x10, 0x12},
         ""},
        {"a caret moved by the control",
         {Key('q'), Key('w'), Char('e', 0x12, false, false, {1, 1})},
         {0x10, 0x12, 0x11},
         ""},
    };
}

void Send(ScanCodeEdit& edit, const Message& m) {
    Selection shown = m.shown.start < 0 ? Selection{edit.Caret(), edit.Caret()} : m.shown;
    if (m.kind == Message::kChar)
        edit.OnChar(m.character, m.key, 1, shown);
    else
        edit.OnKeyDown(m.vk, 1, shown);
}

TEST(ScanCodeEdit, MessagesGiveCodesAndBeeps) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        FakeLayouts layouts;
        FakeBeeper beeper;
        ScanCodeEdit edit(layouts, beeper);
        for (const Message& m : c.messages) Send(edit, m);
        EXPECT_EQ(std::vector<uint16_t>(edit.Codes().begin(), edit.Codes().end()), c.codes);
        EXPECT_EQ(beeper.heard, c.beeps);
    }
}

TEST(ScanCodeEdit, RefusedCharactersAreNotPassedOn) {
    FakeLayouts layouts;
    FakeBeeper beeper;
    ScanCodeEdit edit(layouts, beeper);
    EXPECT_TRUE(edit.OnChar('q', {0x10}, 1, {}));
    EXPECT_FALSE(edit.OnChar('/', {0x35}, 1, {1, 1}));
    EXPECT_FALSE(edit.OnClipboardRequest());
    // A repeated key stands for as many keys, up to the capacity.
    EXPECT_FALSE(edit.OnChar('w', {0x11}, 40, {1, 1}));
    EXPECT_EQ(edit.Length(), 32);
}

TEST(ScanCodeEdit, TextQueryAndSetText) {
    FakeLayouts layouts;
    FakeBeeper beeper;
    ScanCodeEdit edit(layouts, beeper);
    edit.SetText(L"\x1E\x9E\x30");
    EXPECT_EQ(edit.Caret(), 0);
    wchar_t text[8];
    EXPECT_EQ(edit.GetText(text, 8), 3u);
    EXPECT_EQ(std::wstring(text), L"\x1E\x9E\x30");
    EXPECT_EQ(edit.GetText(text, 3), 2u);  // cut to the caller's buffer, still ended by a zero
    EXPECT_EQ(std::wstring(text), L"\x1E\x9E");
    EXPECT_EQ(edit.GetText(text, 0), 0u);
    std::wstring long_text(40, L'\x10');
    edit.SetText(long_text.c_str());
    EXPECT_EQ(edit.Length(), 32);
    EXPECT_EQ(edit.OnKeyUp(VK_LEFT, false), 0);
    EXPECT_EQ(edit.OnKeyUp(VK_LEFT, true), std::nullopt);
    EXPECT_EQ(edit.OnKeyUp(VK_HOME, false), std::nullopt);
}

TEST(ScanCodeEdit, SwitchesToUsEnglishAndBack) {
    FakeLayouts layouts;
    FakeBeeper beeper;
    {
        ScanCodeEdit edit(layouts, beeper);
        EXPECT_EQ(layouts.current, qvpwdctl::kUsEnglishLayout);
        EXPECT_TRUE(edit.Switched());
        // Not armed before the first paint: a change is let through.
        edit.OnInputLanguageChange(kGerman);
        EXPECT_EQ(layouts.loads, 1);
        edit.OnFirstPaint();
        for (int i = 0; i < 310; ++i) edit.OnInputLanguageChange(0x040C040C);
        EXPECT_EQ(edit.ForcedSwitches(), 300);
        EXPECT_EQ(beeper.heard, std::string(300, '.'));
        edit.OnInputLanguageChange(qvpwdctl::kUsEnglishLayout);
        EXPECT_EQ(layouts.loads, 301);
    }
    // The layout active before the first switch comes back, not the last one switched away from.
    EXPECT_EQ(layouts.activated, std::vector<LayoutHandle>{kGerman});
}

TEST(ScanCodeEdit, UsEnglishAlreadyActiveIsLeftAlone) {
    FakeLayouts layouts;
    layouts.current = qvpwdctl::kUsEnglishLayout;
    FakeBeeper beeper;
    {
        ScanCodeEdit edit(layouts, beeper);
        edit.OnFirstPaint();
        EXPECT_FALSE(edit.Switched());
    }
    EXPECT_EQ(layouts.loads, 0);
    EXPECT_TRUE(layouts.activated.empty());
}

TEST(ScanCodeEdit, SwitchesAtFirstPaintWhenCreationCouldNot) {
    FakeLayouts layouts;
    layouts.can_load = false;
    FakeBeeper beeper;
    {
        ScanCodeEdit edit(layouts, beeper);
        EXPECT_FALSE(edit.Switched());
        layouts.can_load = true;
        edit.OnFirstPaint();
        EXPECT_TRUE(edit.Switched());
    }
    EXPECT_EQ(layouts.activated, std::vector<LayoutHandle>{kGerman});
}

// The codes are overwritten before the edit's memory is given back.
TEST(ScanCodeEdit, CodeBufferIsZeroedWhenTheControlGoes) {
    FakeLayouts layouts;
    FakeBeeper beeper;
    alignas(ScanCodeEdit) unsigned char storage[sizeof(ScanCodeEdit)];
    auto* edit = new (storage) ScanCodeEdit(layouts, beeper);
    for (int i = 0; i < 32; ++i) edit->OnChar('q', {0xAB}, 1, {i, i});
    edit->~ScanCodeEdit();
    std::string bytes(reinterpret_cast<char*>(storage), sizeof(storage));
    EXPECT_EQ(bytes.find("\xAB"), std::string::npos);
}

}  // namespace
