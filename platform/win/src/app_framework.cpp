// The application framework's run: InitInstance, message loop, ExitInstance.

#include "afxwin.h"
#include "qv_system_root.h"

namespace {
CWinApp* the_app = nullptr;
}

CWinApp::CWinApp() { the_app = this; }

CWinApp::~CWinApp() {
    if (the_app == this) the_app = nullptr;
}

int CWinApp::Run() {
    if (m_pMainWnd == nullptr && m_bUserCtrl) PostQuitMessage(0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return ExitInstance();
}

CWinApp* AfxGetApp() { return the_app; }

int AfxWinMain(int argc, char** argv) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->m_hInstance = GetModuleHandleW(nullptr);
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    app->command_line_ = qv::win::FromUtf8(line);
    app->m_lpCmdLine = app->command_line_.c_str();
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}
