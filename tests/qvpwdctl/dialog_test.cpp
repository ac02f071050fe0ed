// The password dialog under a real X server: keys typed with xdotool while GetPassword runs in the control's
// own server process, the encodings it returns, the bells it rings, its keyboard layout, screenshots.

#include "dialog_fixture.h"
#include "xkb_keyboard_layouts.h"

#include <X11/XKBlib.h>

namespace {

struct EdgeCase {
    const char* name;
    const wchar_t* prompt;
    const char* keys;          // xdotool commands typed into the dialog
    const char* finish;        // the key that closes it
    const char* expected;      // what GetPassword returns
    int exclamations;          // "SystemExclamation" bells
    int defaults;              // "SystemDefault" bells
    const char* shown_prompt;  // the prompt the dialog shows
};

const char* const kDefaultPrompt = "Please enter the appropriate password:";

const EdgeCase kEdgeCases[] = {
    {"a, Shift+a, Caps Lock with a", L"", "key a shift+a Caps_Lock a Caps_Lock", "Return", "<kbd/>1E9E9E", 0, 0,
     kDefaultPrompt},
    {"Caps Lock with Shift+a", L"", "key Caps_Lock shift+a Caps_Lock", "Return", "<kbd/>1E", 0, 0, kDefaultPrompt},
    {"33rd key refused", L"", "key a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a", "Return",
     "<kbd/>1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E1E", 1, 0, kDefaultPrompt},
    {"paste has no effect", L"", "key a ctrl+v shift+Insert", "Return", "<kbd/>1E", 1, 0, kDefaultPrompt},
    {"slash refused, Shift+slash", L"", "key slash shift+slash", "Return", "<kbd/>B5", 1, 0, kDefaultPrompt},
    {"Cancel after typing", L"", "key a b c", "Escape", "", 0, 0, kDefaultPrompt},
    {"a prompt of blanks", L"   \t ", "key a", "Return", "<kbd/>1E", 0, 0, kDefaultPrompt},
    {"a prompt is trimmed", L"  Setup password:  ", "key b", "Return", "<kbd/>30", 0, 0, "Setup password:"},
    {"nothing typed", L"", "", "Return", "", 0, 0, kDefaultPrompt},
    {"Backspace, caret keys, Delete", L"", "key a b c Left BackSpace Home Delete", "Return", "<kbd/>2E", 0, 0,
     kDefaultPrompt},
    {"Backspace at the start", L"", "key BackSpace", "Return", "", 1, 0, kDefaultPrompt},
    {"a selection is replaced", L"", "key a b c shift+Home d", "Return", "<kbd/>20", 0, 0, kDefaultPrompt},
    {"Backspace removes a selection", L"", "key a b c shift+Left shift+Left BackSpace", "Return", "<kbd/>1E", 0, 0,
     kDefaultPrompt},
    {"Alt with keypad digits", L"", "keydown Alt_L key KP_1 KP_2 keyup Alt_L", "Return", "", 0, 1, kDefaultPrompt},
    {"Ctrl+M (a carriage return)", L"", "key a ctrl+m", "Return", "<kbd/>1E", 1, 0, kDefaultPrompt},
};

TEST_F(DialogTest, EdgeCasesOfThePasswordBox) {
    desktop::ClipboardOwner clipboard(xvfb_->Name(), "pasted text");
    ASSERT_TRUE(clipboard.Owns());
    int dialogs = 0;
    for (const EdgeCase& c : kEdgeCases) {
        SCOPED_TRACE(c.name);
        desktop::BellCounter bells(xvfb_->Name());
        auto call = StartGetPassword(c.prompt);
        unsigned long window = WaitForDialog(++dialogs);
        EXPECT_NE(
            LastDebugLine("password dialog open").find(std::string("compact form), prompt \"") + c.shown_prompt + "\""),
            std::string::npos)
            << LastDebugLine("password dialog open");
        if (c.keys[0] != '\0') Xdotool(c.keys);
        if (dialogs == 1) {
            std::string shot = desktop::SaveScreenshot(xvfb_->Name(), window, "compact-form");
            EXPECT_FALSE(shot.empty());
            std::printf("Screenshot of the compact form: %s\n", shot.c_str());
            RecordProperty("compact_form_screenshot", shot);
        }
        Xdotool(std::string("key ") + c.finish);
        PasswordCall result = Finish(call);
        EXPECT_EQ(result.hr, S_OK);
        EXPECT_EQ(result.text, c.expected);
        EXPECT_EQ(bells.Count("SystemExclamation"), c.exclamations);
        EXPECT_EQ(bells.Count("SystemDefault"), c.defaults);
    }
    // One server served every call.
    EXPECT_EQ(RootProcesses(root_, ProgramPath()).size(), 1u);
}

// The stand-alone utility: the full form shows the encoding, Copy puts it on the clipboard, pasting it back
// into the password box changes nothing, and the accepted encoding is written to standard output.
TEST_F(DialogTest, StandAloneFullFormCopiesTheEncoding) {
    pid_t utility = StartChild({ProgramPath()}, root_ / "utility.out", root_ / "utility.err");
    unsigned long window = WaitForDialog(1);
    Xdotool("key a shift+b");
    // Tab order: the password box, Accept, Cancel, Copy.
    Xdotool("key Tab Tab Tab space");
    EXPECT_TRUE(desktop::WaitUntil([&] { return desktop::ReadClipboard(xvfb_->Name()) == "<kbd/>1EB0"; }))
        << desktop::ReadClipboard(xvfb_->Name());
    std::string shot = desktop::SaveScreenshot(xvfb_->Name(), window, "full-form");
    EXPECT_FALSE(shot.empty());
    std::printf("Screenshot of the full form: %s\n", shot.c_str());
    RecordProperty("full_form_screenshot", shot);
    Xdotool("key shift+Tab shift+Tab shift+Tab ctrl+v shift+Insert Return");
    EXPECT_EQ(WaitChild(utility, std::chrono::seconds(30)), 0);
    std::ifstream out(root_ / "utility.out");
    std::string line;
    std::getline(out, line);
    EXPECT_EQ(line, "<kbd/>1EB0");
}

Display* OpenDisplay(const std::string& name) { return XOpenDisplay(name.c_str()); }

// A German layout: US English while the dialog is open, forced back after a switch (300 times at most), and
// German again once the dialog has closed.
TEST_F(DialogTest, KeyboardLayoutIsUsEnglishWhileOpen) {
    if (!desktop::OnPath("setxkbmap")) GTEST_SKIP() << "setxkbmap is not installed (x11-xkb-utils)";
    ASSERT_EQ(desktop::RunTool(xvfb_->Name(), {"setxkbmap", "-layout", "de"}).code, 0);
    Display* display = OpenDisplay(xvfb_->Name());
    ASSERT_NE(display, nullptr);
    qvpwdctl::XkbKeyboardLayouts layouts(display);
    constexpr qvpwdctl::LayoutHandle kGerman = 0x04070407;
    ASSERT_EQ(layouts.Current(), kGerman);

    desktop::BellCounter bells(xvfb_->Name());
    auto call = StartGetPassword(L"");
    WaitForDialog(1);
    EXPECT_EQ(layouts.Current(), qvpwdctl::kUsEnglishLayout);
    EXPECT_NE(LastDebugLine("switched to").find("04070407 switched to 04090409"), std::string::npos) << Debug();

    // Each switch to German is undone, with a beep, up to 300 times; the 301st stays.
    int forced = 0;
    for (int i = 1; i <= 301; ++i) {
        ASSERT_TRUE(layouts.Activate(kGerman));
        bool undone = desktop::WaitUntil([&] { return bells.Count("SystemDefault") == i; },
                                         std::chrono::seconds(i <= 300 ? 10 : 1));
        if (!undone) break;
        ASSERT_TRUE(desktop::WaitUntil([&] { return layouts.Current() == qvpwdctl::kUsEnglishLayout; }));
        ++forced;
    }
    EXPECT_EQ(forced, 300);
    EXPECT_EQ(layouts.Current(), kGerman);

    Xdotool("key a Return");
    PasswordCall result = Finish(call);
    EXPECT_EQ(result.text, "<kbd/>1E");
    EXPECT_EQ(layouts.Current(), kGerman);
    EXPECT_NE(LastDebugLine("restored").find("04070407 restored"), std::string::npos) << Debug();
    XCloseDisplay(display);
}

// Without a display the server cannot show the dialog: GetPassword fails with E_UNEXPECTED and its text.
TEST_F(DialogTest, GetPasswordWithoutDisplayFailsWithInternalError) {
    unsetenv("DISPLAY");
    auto call = StartGetPassword(L"Setup password:");
    PasswordCall result = Finish(call);
    EXPECT_EQ(result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(result.scode, E_UNEXPECTED);
    EXPECT_EQ(result.description, "Internal application error.");
}

}  // namespace
