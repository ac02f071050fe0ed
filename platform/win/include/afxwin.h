// The application framework: one application object per program, constructed as a global, whose
// InitInstance, message loop and ExitInstance make up the program's run.
//
// AfxWinMain (called from main) fills m_hInstance and m_lpCmdLine (the arguments after the program name,
// joined with single spaces), calls InitInstance and, when it returns TRUE, Run; ExitInstance runs at the end
// in every case and its result is the process's exit code.
#pragma once

#include "windows.h"

#include <string>

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    // The message loop. When it starts without a main window while the user is in control, it posts WM_QUIT
    // at once, so such runs end right after InitInstance. Returns ExitInstance().
    virtual int Run();
    virtual int ExitInstance() { return 0; }

    HINSTANCE m_hInstance = nullptr;
    LPCWSTR m_lpCmdLine = L"";
    HWND m_pMainWnd = nullptr;  // the main window; null when there is none
    // A program started by COM is not under the user's control: its loop runs without a window.
    BOOL m_bUserCtrl = TRUE;

private:
    std::wstring command_line_;
    friend int AfxWinMain(int argc, char** argv);
};

// The one application object, or null.
CWinApp* AfxGetApp();
int AfxWinMain(int argc, char** argv);
