// The application object of vrxBIOS: command line, start-up checks, the COM server's start and the exit.
#pragma once

#include "CommandLine.h"
#include "afxwin.h"
#include "unknwn.h"
#include "wrl/client.h"

#include <functional>

class CProviderApp;

// The work of the installation options (deploying and removing the schema and the registration). InitInstance
// runs them in the order test run, removal, installation; an empty hook does nothing. Their failures are only
// traced; they never stop the run.
struct InstallationHooks {
    std::function<void(CProviderApp&)> testRun;
    std::function<void(CProviderApp&)> uninstall;
    std::function<void(CProviderApp&)> install;
};

// The hidden main window of the COM server: title "QV BCX Software Provider", identifier 1234, no style.
HWND CreateHiddenMainWindow(HINSTANCE instance);

class CProviderApp : public CWinApp {
public:
    // Parses the command line, checks the installed Windows, initialises OLE and the server module, traces
    // the flags, runs the installation hooks and, with Embedding, starts the COM server. FALSE ends the run.
    BOOL InitInstance() override;
    // Revokes the class objects (when registered), ends the server module and COM; always 0.
    int ExitInstance() override;

    const CommandLineFlags& Flags() const { return flags_; }
    // Shows string-table text `id` with the program's file name (without extension) as caption.
    int ShowMessage(UINT id, UINT type) const;

    InstallationHooks installation;

private:
    // A start-up failure: message `id` unless suppressed by Silent.
    BOOL FailStartup(UINT id, bool showEvenWhenSilent = false);
    BOOL StartComServer();

    CommandLineFlags flags_;
    bool class_objects_registered_ = false;
    Microsoft::WRL::ComPtr<IClassFactory> class_factory_;
    DWORD class_cookie_ = 0;
};
