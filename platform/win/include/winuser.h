// User services used by system code: character case, and thread message queues: the minimal message loop a
// COM server runs (GetMessage/DispatchMessage), and PostThreadMessage with WM_QUIT to end it. Windows and
// window procedures are not part of this layer.
//
// A thread gets its queue on its first PeekMessage/GetMessage (or when COM initialises it); posting to a
// thread without a queue fails with ERROR_INVALID_THREAD_ID. The queue goes when the thread ends.
#pragma once

#include "windef.h"

// Case folding follows Unicode's simple lower-case mapping, independent of the process locale.
// CharLowerW: a pointer whose high-order word is zero carries one character in its low word; that character
// is returned lower-cased the same way. Any other pointer names a NUL-terminated text that is lower-cased in
// place; the pointer is returned.
LPWSTR CharLowerW(LPWSTR text);
// Lower-cases `length` characters of `text` in place (NULs included) and returns `length`.
DWORD CharLowerBuffW(LPWSTR text, DWORD length);

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

#define WM_NULL 0x0000
#define WM_QUIT 0x0012
#define WM_USER 0x0400
#define WM_APP 0x8000

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define ERROR_INVALID_THREAD_ID 1444L

DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// Blocks until a message arrives. Returns 0 for WM_QUIT, else nonzero. Only thread messages exist here, so
// `window` must be null and the filter range is ignored.
BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL TranslateMessage(const MSG* msg);
// Runs the work a message carries (calls the platform delivers to this thread); other messages have no window
// to go to and are dropped. Returns 0.
LRESULT DispatchMessageW(const MSG* msg);

#define GetMessage GetMessageW
#define PeekMessage PeekMessageW
#define PostThreadMessage PostThreadMessageW
#define DispatchMessage DispatchMessageW

// --- message boxes --------------------------------------------------------------------------------------------
// The caption and text go to standard error as "[caption] text", followed by the buttons and the answer. The
// answer comes, in this order, from
//   1. QV_MESSAGEBOX_ANSWERS: comma-separated answers ("yes", "no", "ok", "cancel") consumed one per box in
//      this process, for tests and scripted runs;
//   2. the terminal, when standard input is one (a line starting with y or n; OK boxes only show);
//   3. otherwise the box's negative answer: IDNO for Yes/No boxes, IDCANCEL for OK/Cancel, IDOK for OK.
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

// --- windows --------------------------------------------------------------------------------------------------
// Windows are never drawn on this platform and receive no posted messages: a window exists so that a program
// has a main window; its procedure sees WM_CREATE and WM_DESTROY.
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
// Show commands (windows and child processes take them; nothing is ever shown).
#define SW_HIDE 0
#define SW_SHOWNORMAL 1

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
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
// Registers a window class by name (case-insensitive); 0 with ERROR_CLASS_ALREADY_EXISTS on a second time.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The window's title, as given at creation.
int GetWindowTextW(HWND window, LPWSTR buffer, int size);

// --- keyboard -------------------------------------------------------------------------------------------------
// Virtual-key codes of the keys system code tells apart.
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_CAPITAL 0x14
#define VK_ESCAPE 0x1B
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define MB_ICONEXCLAMATION 0x00000030L

// The keyboard of this platform has the US English layout (0x04090409). OemKeyScan answers, for a character
// of the OEM code page (ASCII here), the set-1 scan code of the key that types it in the low word and the
// shift state in the high word (1 Shift, 2 Ctrl, 4 Alt): 'a' 0x0000001E, 'A' 0x0001001E, Ctrl+A (1) 0x0002001E,
// backspace (8) 0x0E, tab 0x0F, carriage return 0x1C, escape 0x01. 0xFFFFFFFF when no key types it.
DWORD OemKeyScan(WORD oemChar);
