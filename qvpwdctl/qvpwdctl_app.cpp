#include "qvpwdctl_app.h"

#include "command_line.h"
#include "gtk_password_dialog.h"
#include "ole2.h"
#include "password_dialog.h"
#include "qv_system_root.h"
#include "resource.h"
#include "server_registration.h"
#include "terminal_password_prompt.h"
#include "trace.h"
#include "windows.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

std::wstring LoadText(UINT id) {
    wchar_t text[256] = {};
    LoadStringW(GetModuleHandleW(nullptr), id, text, 256);
    return text;
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return path;
}

// GetPassword's dialog: the compact form on the display.
std::wstring RunCompactDialog(const std::wstring& given) {
    std::wstring prompt = qvpwdctl::DialogPrompt(given, LoadText(IDS_DEFAULT_PROMPT));
    if (!qvpwdctl::OpenGtkDisplay()) throw std::runtime_error("no display for the password dialog");
    return qvpwdctl::RunGtkPasswordDialog(qvpwdctl::DialogForm::kCompact, prompt).result;
}

void PrintEncoding(const std::wstring& encoding) {
    std::string text = qv::win::ToUtf8(encoding);
    if (isatty(STDOUT_FILENO))
        std::printf("Keyboard encoding: %s\n", text.c_str());
    else
        std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

}  // namespace

BOOL CQvPwdCtlApp::InitInstance() {
    main_thread_ = GetCurrentThreadId();
    if (FAILED(OleInitialize(nullptr))) {
        MessageBoxW(nullptr, LoadText(IDS_OLE_INIT_FAILED).c_str(), L"qvpwdctl", MB_OK | MB_ICONERROR);
        return FALSE;
    }
    ole_ = true;
    std::wstring line = m_lpCmdLine;
    qvpwdctl::RunMode mode = qvpwdctl::ParseCommandLine(line);

    // One running server serves every object created.
    factory_ = std::make_unique<qvpwdctl::PasswordEditFactory>(&RunCompactDialog, this);
    HRESULT hr = CoRegisterClassObject(CLSID_PasswordEdit, factory_.get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                       &cookie_);
    if (FAILED(hr)) qvpwdctl::Trace(L"class object not registered (0x%08X)", static_cast<unsigned>(hr));

    std::wstring module = ModulePath();
    switch (mode) {
    case qvpwdctl::RunMode::kServe:
        serving_ = true;
        quit_at_zero_ = true;
        m_bUserCtrl = FALSE;
        std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(kUnusedServerTimeoutMs));
            if (!ever_locked_) PostThreadMessageW(main_thread_, WM_QUIT, 0, 0);
        }).detach();
        return TRUE;
    case qvpwdctl::RunMode::kRegister:
    case qvpwdctl::RunMode::kUnregister: {
        bool add = mode == qvpwdctl::RunMode::kRegister;
        hr = add ? RegisterPasswordEditServer(module.c_str()) : UnregisterPasswordEditServer(module.c_str());
        if (FAILED(hr)) {
            std::fprintf(stderr, "qvpwdctl: %s failed (0x%08X)\n", add ? "registration" : "unregistration",
                         static_cast<unsigned>(hr));
            exit_code_ = 1;
        }
        return FALSE;
    }
    case qvpwdctl::RunMode::kStandAlone:
        hr = RegisterPasswordEditServer(module.c_str());
        if (FAILED(hr)) qvpwdctl::Trace(L"registration failed (0x%08X)", static_cast<unsigned>(hr));
        if (!RunStandAlone()) exit_code_ = 2;
        ServeRemainingObjects();
        return FALSE;
    }
    return FALSE;
}

bool CQvPwdCtlApp::RunStandAlone() {
    std::wstring prompt = LoadText(IDS_DEFAULT_PROMPT);
    if (qvpwdctl::OpenGtkDisplay()) {
        qvpwdctl::DialogOutcome outcome = qvpwdctl::RunGtkPasswordDialog(qvpwdctl::DialogForm::kFull, prompt);
        if (outcome.accepted) PrintEncoding(outcome.result);
        return true;
    }
    // Without a display, the terminal: the prompt goes where the user sees it even when the output is kept.
    int display = isatty(STDOUT_FILENO) ? STDOUT_FILENO : STDERR_FILENO;
    bool accepted = false;
    auto encoding = qvpwdctl::RunTerminalPasswordPrompt(STDIN_FILENO, display,
                                                        {L"QV Password Conversion Utility", prompt}, &accepted);
    if (!encoding) {
        std::fprintf(stderr, "qvpwdctl: no display and no terminal to ask for the password on\n");
        return false;
    }
    if (accepted) PrintEncoding(*encoding);
    return true;
}

void CQvPwdCtlApp::ServeRemainingObjects() {
    quit_at_zero_ = true;
    if (locks_ == 0) return;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

int CQvPwdCtlApp::ExitInstance() {
    if (cookie_ != 0) CoRevokeClassObject(cookie_);
    cookie_ = 0;
    if (ole_) OleUninitialize();
    ole_ = false;
    return exit_code_;
}

void CQvPwdCtlApp::Lock() {
    ++locks_;
    ever_locked_ = true;
}

void CQvPwdCtlApp::Unlock() {
    if (--locks_ == 0 && quit_at_zero_) {
        // The next client starts a new server rather than reaching one that is ending.
        CoSuspendClassObjects();
        PostThreadMessageW(main_thread_, WM_QUIT, 0, 0);
    }
}
