// The application object of qvpwdctl (CQvPwdCtlApp): OLE, the class object, then the run the command line
// asks for (command_line.h). As a COM server it lives while objects or server locks exist, and gives up when
// no client comes within kUnusedServerTimeout. The stand-alone run shows the full dialog, or the terminal form
// without a display, and writes the accepted encoding to standard output ("Keyboard encoding: ..." on a
// terminal); after it, the program serves objects clients still hold before it ends.
//
// Exit code: 0; 1 when registering or unregistering failed; 2 when the stand-alone run had neither a display
// nor a terminal.
#pragma once

#include "afxwin.h"
#include "auto_password_edit.h"

#include <atomic>
#include <memory>

class CQvPwdCtlApp final : public CWinApp, public qvpwdctl::ServerLocks {
public:
    static constexpr int kUnusedServerTimeoutMs = 30000;

    BOOL InitInstance() override;
    int ExitInstance() override;

    void Lock() override;
    void Unlock() override;

private:
    bool RunStandAlone();
    // Runs the message loop while objects exist.
    void ServeRemainingObjects();

    std::unique_ptr<qvpwdctl::PasswordEditFactory> factory_;
    DWORD cookie_ = 0;
    bool ole_ = false;
    bool serving_ = false;
    DWORD main_thread_ = 0;
    std::atomic<LONG> locks_{0};
    std::atomic<bool> ever_locked_{false};
    std::atomic<bool> quit_at_zero_{false};
    int exit_code_ = 0;
};
