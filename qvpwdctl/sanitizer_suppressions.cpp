// Sanitizer builds only: LeakSanitizer does not report what the desktop libraries under GTK keep until the
// process ends (fontconfig's font cache, the D-Bus connection, GLib's type data). Nothing of qvpwdctl's own
// code is covered: its frames are not in these libraries.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libglib-2.0.so\n";
}

// The list above is not a finding: it is not printed at exit.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
