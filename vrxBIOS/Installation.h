// Deployment and removal of the WMI schema and of the COM registration: the work of the options TestMode,
// Uninstall (with Clean and Silent) and Install, which CProviderApp runs in that order. Every failure is only
// traced; none stops a flow or changes the exit code.
//
// The MOF files travel as resources 103-105 and are compiled by the platform's MOF compiler "mofcomp" in a
// hidden child process (RunHiddenProcess); its output goes to the debugger output.
#pragma once

#include "ProviderApp.h"

// Writes resource "BINARY"/id of this program as `fileName` into a fresh working folder, runs
// mofcomp "<path>" on it and deletes the folder. Returns RunHiddenProcess's result (0 also when no working
// folder could be found).
int InstallMof(UINT id, LPCWSTR fileName);

// TestMode: compiles common.mof and fwprov.mof, keeps the firmware classes only on a native machine, and
// traces what the machine supports.
void TestRun(CProviderApp& app);
// Uninstall: after the confirmation (message 206 on a native machine, else 205; none with Silent) removes the
// provider of this machine's kind, with Clean also the other provider and the common classes, then the COM
// registration. The answer No removes nothing.
void Remove(CProviderApp& app);
// Install: compiles common.mof and fwprov.mof; on a native machine stops there; otherwise takes the firmware
// classes out again and, when the library reads settings here, compiles swprov.mof and registers the COM
// server. A machine with neither keeps only the common classes, and nothing is shown.
void Install(CProviderApp& app);

// The three flows above as the application's installation hooks.
InstallationHooks StandardInstallation();
