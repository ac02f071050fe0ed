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
