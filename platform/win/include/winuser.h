// Windows' user interface services that the system needs: character case, message boxes, thread message
// queues, windows that receive messages.
//
// Message boxes on this platform: the caption and text go to standard error as "[caption] text", followed by
// the buttons. The answer comes, in this order, from
//   1. QV_MESSAGEBOX_ANSWERS: comma-separated answers ("yes", "no", "ok", "cancel") consumed one per box in
//      this process, for tests and scripted runs; the answer used is echoed;
//   2. the terminal, when standard input is one (a line starting with y or n; OK boxes only show);
//   3. otherwise the box's negative answer: IDNO for Yes/No boxes, IDCANCEL for OK/Cancel, IDOK for OK.
//
// Thread message queues: every thread has one, created on first use. A window belongs to the thread that
// created it; messages posted to it go to that thread's queue and DispatchMessageW calls its window procedure.
#pragma once

#include "windef.h"

// Case folding follows Unicode's simple lower-case mapping, independent of the process locale.
// CharLowerW: a pointer whose high-order word is zero carries one character in its low word; that character
// is returned lower-cased the same way. Any other pointer names a NUL-terminated text that is lower-cased in
// place; the pointer is returned.
LPWSTR CharLowerW(LPWSTR text);
// Lower-cases `length` characters of `text` in place (NULs included) and returns `length`.
DWORD CharLowerBuffW(LPWSTR text, DWORD length);

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_YESNO 0x00000004L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONERROR 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONWARNING 0x00000030L
#define MB_ICONINFORMATION 0x00000040L
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_USER 0x0400

struct POINT {
    LONG x;
    LONG y;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

// GetMessageW waits for the next message of the calling thread (of any window of it when window is null): >0
// for a message, 0 for WM_QUIT, -1 for a bad window.
BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
BOOL PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HANDLE hIcon;
    HANDLE hCursor;
    HANDLE hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};
typedef WORD ATOM;
typedef HANDLE HMENU;
// Registers a window class by name (case-insensitive); 0 with ERROR_CLASS_ALREADY_EXISTS on a second time.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
// Windows are never drawn on this platform; WS_VISIBLE is accepted and ignored.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The window's title, as given at creation.
int GetWindowTextW(HWND window, LPWSTR buffer, int size);
