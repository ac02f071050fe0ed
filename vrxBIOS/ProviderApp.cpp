#include "ProviderApp.h"

#include "BIOSInterface.h"
#include "ClassFactory.h"
#include "DebugTrace.h"
#include "ServerModule.h"
#include "resource.h"

#include "ole2.h"

#include <string>

namespace {

typedef BOOL(WINAPI* VerifyVersionInfoWProc)(LPOSVERSIONINFOEXW, DWORD, DWORDLONG);
typedef BOOL(WINAPI* IsWow64ProcessProc)(HANDLE, PBOOL);

// Windows NT 5 or later (the major version alone decides).
bool IsWindowsNT5OrLater() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    auto verify = reinterpret_cast<VerifyVersionInfoWProc>(GetProcAddress(kernel32, "VerifyVersionInfoW"));
    if (verify == nullptr) return false;
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = 5;
    return verify(&wanted, VER_MAJORVERSION, VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL)) != FALSE;
}

// A 32-bit process on 64-bit Windows.
bool IsRunningUnderWow64() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    auto is_wow64 = reinterpret_cast<IsWow64ProcessProc>(GetProcAddress(kernel32, "IsWow64Process"));
    BOOL wow64 = FALSE;
    return is_wow64 != nullptr && is_wow64(GetCurrentProcess(), &wow64) && wow64;
}

const wchar_t* TrueFalse(bool value) { return value ? L"true" : L"false"; }

LRESULT CALLBACK HiddenWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

// The main window of the COM server: never shown, it exists so that the message loop runs.
HWND CreateHiddenMainWindow(HINSTANCE instance) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = HiddenWindowProcedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"VrxBIOSHiddenWindow";
    RegisterClassW(&window_class);
    return CreateWindowExW(0, L"VrxBIOSHiddenWindow", L"QV BCX Software Provider", 0, 0, 0, 0, 0, nullptr,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(1234)), instance, nullptr);
}

namespace {}  // namespace

int CProviderApp::ShowMessage(UINT id, UINT type) const {
    wchar_t text[512] = {};
    LoadStringW(m_hInstance, id, text, 512);
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring caption = path;
    size_t slash = caption.find_last_of(L"\\/");
    if (slash != std::wstring::npos) caption.erase(0, slash + 1);
    size_t dot = caption.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) caption.erase(dot);
    return MessageBoxW(nullptr, text, caption.c_str(), type);
}

BOOL CProviderApp::FailStartup(UINT id, bool showEvenWhenSilent) {
    if (showEvenWhenSilent || !flags_.bSilent) ShowMessage(id, MB_OK);
    return FALSE;
}

BOOL CProviderApp::InitInstance() {
    flags_ = ParseCommandLine(m_lpCmdLine);

    if (!IsWindowsNT5OrLater()) return FailStartup(IDS_NT_REQUIRED);
    if (IsRunningUnderWow64()) return FailStartup(IDS_NO_64BIT);
    if (FAILED(OleInitialize(nullptr))) return FailStartup(IDS_OLE_INIT_FAILED);

    TheServerModule().Init(m_hInstance);

    DebugTrace(L"bEmbedded: %s\n", TrueFalse(flags_.bEmbedded));
    DebugTrace(L"bInstall: %s\n", TrueFalse(flags_.bInstall));
    DebugTrace(L"bUninstall: %s\n", TrueFalse(flags_.bUninstall));
    DebugTrace(L"bClean: %s\n", TrueFalse(flags_.bClean));
    DebugTrace(L"bTestmode: %s\n", TrueFalse(flags_.bTestmode));
    DebugTrace(L"bSilent: %s\n", TrueFalse(flags_.bSilent));

    if (flags_.bTestmode && installation.testRun) installation.testRun(*this);
    if (flags_.bUninstall && installation.uninstall) installation.uninstall(*this);
    if (flags_.bInstall && installation.install) installation.install(*this);

    if (!flags_.bEmbedded) return TRUE;
    return StartComServer();
}

BOOL CProviderApp::StartComServer() {
    class_objects_registered_ = true;
    m_bUserCtrl = FALSE;
    HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                      RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_DYNAMIC_CLOAKING | EOAC_SECURE_REFS,
                                      nullptr);
    if (FAILED(hr)) {
        FailStartup(IDS_SECURITY_FAILED, true);
        CoUninitialize();
        return FALSE;
    }
    TheServerModule().StartMonitor();
    class_factory_.Attach(new BIOSInterfaceClassFactory());
    CoRegisterClassObject(CLSID_BIOSInterface, class_factory_.Get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                          &class_cookie_);
    m_pMainWnd = CreateHiddenMainWindow(m_hInstance);
    return TRUE;
}

int CProviderApp::ExitInstance() {
    if (class_objects_registered_) {
        if (class_cookie_ != 0) CoRevokeClassObject(class_cookie_);
        class_cookie_ = 0;
        Sleep(10);
    }
    class_factory_.Reset();
    if (m_pMainWnd != nullptr) DestroyWindow(m_pMainWnd);
    m_pMainWnd = nullptr;
    TheServerModule().Term();
    CoUninitialize();
    return 0;
}
