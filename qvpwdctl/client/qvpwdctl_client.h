// Asking a user for a firmware password through the password entry control, for tools such as the
// administrators' command. Link `qvpwdctl_client`; include "qvpwdctl_client.h".
//
//   std::wstring encoding, error;
//   HRESULT hr = qvpwdctl::ObtainPassword(L"Setup password:", &encoding, &error);
//   // S_OK: `encoding` is "<kbd/>..." (pass it as the password), or empty when the user cancelled.
//
// With a display (DISPLAY set) the control's own dialog asks: the automation object "qvPwdCtl.PasswordEdit"
// is created by ProgID (COM starts `qvpwdctl -Embedding` on demand; `qvpwdctl -RegServer` must have
// registered it in the system root) and its GetPassword is called through IDispatch. Without a display the
// control's terminal form asks on standard input, which must be a terminal. The same keys give the same
// encoding either way.
#pragma once

#include "windows.h"

#include <string>

namespace qvpwdctl {

// GetPassword of "qvPwdCtl.PasswordEdit" by ProgID. The calling thread may be in any apartment; one that is
// in none is put into the multithreaded apartment for the call. Failures: the activation's or Invoke's
// HRESULT; a failure the control reports gives its code (e.g. E_UNEXPECTED) and its text in `error`.
HRESULT GetPasswordThroughControl(const std::wstring& prompt, std::wstring* encoding, std::wstring* error);

// The control's dialog when a display is there, else its terminal form on standard input; E_FAIL with a
// text in `error` when there is neither.
HRESULT ObtainPassword(const std::wstring& prompt, std::wstring* encoding, std::wstring* error);

}  // namespace qvpwdctl
