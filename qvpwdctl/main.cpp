// qvpwdctl: the password entry control. A local COM server for "qvPwdCtl.PasswordEdit", and run by itself
// the QV Password Conversion Utility.

#include "qvpwdctl_app.h"

namespace {
CQvPwdCtlApp theApp;
}

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
