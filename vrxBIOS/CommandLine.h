// The command line of vrxBIOS.
#pragma once

#include "windows.h"

// The flags the options set; all false at start.
struct CommandLineFlags {
    bool bEmbedded = false;   // Embedding, Automation: run as COM server
    bool bInstall = false;    // Install, RegServer
    bool bUninstall = false;  // UnregServer, Uninstall
    bool bClean = false;      // Clean
    bool bTestmode = false;   // TestMode
    bool bSilent = false;     // Silent
};

// Parses the command line without the program name. Each "-" or "/" starts an option name that runs to the
// next space or tab; the name is compared, without regard to case, in its first 259 characters. Unknown
// names are ignored; scanning goes on from the start of the name, so a "-" or "/" inside it starts a further
// option ("/Install/Silent" sets only bSilent). Embedding or Automation ends the parsing. Null is an empty line.
CommandLineFlags ParseCommandLine(LPCWSTR line);
