// The dialog's rules and the command line, apart from any window.

#include "command_line.h"
#include "dialog_template.h"
#include "password_dialog.h"
#include "resource.h"

#include <gtest/gtest.h>

namespace {

using qvpwdctl::PasswordDialogRules;

TEST(PasswordDialog, EncodingOfCodes) {
    const struct {
        std::vector<uint16_t> codes;
        const wchar_t* text;
    } cases[] = {
        {{}, L""},
        {{0x1E, 0x30}, L"<kbd/>1E30"},
        {{0x1E, 0x9E, 0xB5}, L"<kbd/>1E9EB5"},
        {{0x0102}, L"<kbd/>02"},  // the low 8 bits of each code
    };
    for (const auto& c : cases) EXPECT_EQ(qvpwdctl::EncodeKeyCodes(c.codes), c.text);
}

TEST(PasswordDialog, PromptIsTrimmedOrTheDefault) {
    EXPECT_EQ(qvpwdctl::DialogPrompt(L"  Setup password:\t", L"Default"), L"Setup password:");
    EXPECT_EQ(qvpwdctl::DialogPrompt(L" \t\r\n ", L"Default"), L"Default");
    EXPECT_EQ(qvpwdctl::DialogPrompt(L"", L"Default"), L"Default");
}

TEST(PasswordDialog, ChangesShowTheEncoding) {
    PasswordDialogRules rules;
    EXPECT_FALSE(rules.OnPasswordChange(std::vector<uint16_t>{0x1E}).undo);
    EXPECT_EQ(rules.Encoding(), L"<kbd/>1E");
    EXPECT_FALSE(rules.OnPasswordChange(std::vector<uint16_t>{}).undo);
    EXPECT_EQ(rules.Encoding(), L"");
    EXPECT_EQ(rules.Result(true), L"");
}

// Two equal codes arriving in one change put the earlier codes back.
TEST(PasswordDialog, DoubledKeyIsUndone) {
    PasswordDialogRules rules;
    rules.OnPasswordChange(std::vector<uint16_t>{0x1E});
    PasswordDialogRules::Change doubled = rules.OnPasswordChange(std::vector<uint16_t>{0x1E, 0x30, 0x30});
    EXPECT_TRUE(doubled.undo);
    EXPECT_EQ(doubled.codes, std::vector<uint16_t>{0x1E});
    EXPECT_EQ(rules.Encoding(), L"<kbd/>1E");
    // Two different codes, or one more equal code, are kept.
    EXPECT_FALSE(rules.OnPasswordChange(std::vector<uint16_t>{0x1E, 0x30, 0x2E}).undo);
    EXPECT_FALSE(rules.OnPasswordChange(std::vector<uint16_t>{0x1E, 0x30, 0x2E, 0x2E}).undo);
    EXPECT_EQ(rules.Encoding(), L"<kbd/>1E302E2E");
    EXPECT_EQ(rules.Result(true), L"<kbd/>1E302E2E");
    EXPECT_EQ(rules.Result(false), L"");
}

TEST(PasswordDialog, TemplateMatchesTheResource) {
    const qvpwdctl::DialogTemplate& dialog = qvpwdctl::PasswordDialogTemplate();
    EXPECT_EQ(dialog.width, 340);
    EXPECT_EQ(dialog.height, 70);
    EXPECT_STREQ(dialog.caption, L"QV Password Conversion Utility");
    const qvpwdctl::DialogControl* line = qvpwdctl::FindControl(dialog, IDC_SEPARATOR);
    ASSERT_NE(line, nullptr);
    // The compact form ends at the line: the encoding box, its label and Copy lie below it.
    for (int id : {IDC_ENCODING, IDC_COPY}) EXPECT_GE(qvpwdctl::FindControl(dialog, id)->y, line->y);
    for (int id : {IDC_PROMPT, IDC_PASSWORD, 1, 2}) EXPECT_LT(qvpwdctl::FindControl(dialog, id)->y, line->y);
    qvpwdctl::DialogUnits units{6, 13};
    EXPECT_EQ(units.X(340), 510);
    EXPECT_EQ(units.Y(70), 114);
}

TEST(CommandLine, SwitchesAndTheirPrecedence) {
    using qvpwdctl::RunMode;
    const struct {
        const wchar_t* line;
        RunMode mode;
        const wchar_t* left;
    } cases[] = {
        {L"", RunMode::kStandAlone, L""},
        {L"-Embedding", RunMode::kServe, L""},
        {L"/automation", RunMode::kServe, L""},
        {L"-RegServer", RunMode::kRegister, L""},
        {L"/INSTALL", RunMode::kRegister, L""},
        {L"-installNow other", RunMode::kRegister, L"other"},
        {L"-unregserver", RunMode::kUnregister, L""},
        {L"/Uninstall", RunMode::kUnregister, L""},
        {L"-install -uninstall", RunMode::kUnregister, L""},
        {L"-regserver -Embedding", RunMode::kServe, L""},
        {L"install regserver", RunMode::kStandAlone, L"install regserver"},  // no "-" or "/"
        {L"x-install", RunMode::kStandAlone, L"x-install"},
    };
    for (const auto& c : cases) {
        std::wstring line = c.line;
        EXPECT_EQ(qvpwdctl::ParseCommandLine(line), c.mode) << c.line;
        EXPECT_EQ(line, c.left) << c.line;
    }
}

}  // namespace
