// The simulated machine of the current system root (qv_system_root.h), kept once per process: the physical
// memory and version functions of this layer, the WMI layer's firmware classes and the driver programs reach
// the firmware through it (the header brings the machine and its firmware interface).
#pragma once

#include "qv_firmware.h"

#include <filesystem>
#include <memory>
#include <string>

namespace qv::win {

// The machine of the current system root: opened (made from QV_MACHINE when the root has none) on first use
// and kept while the root stays the same. Faults found in its files go to ReportMachineFault. When the machine
// cannot be made (QV_MACHINE names no profile, or one that is not valid), the process ends with exit code
// kNoMachineExitCode: the program that makes an installation's machine fails, and nothing half-made is left.
// Throws qv::machine::MachineUnavailable when the root's machine exists but its profile is not valid.
std::shared_ptr<qv::machine::Machine> RootMachine();
// The same for the system root `root` (one machine is kept: the last root asked for).
std::shared_ptr<qv::machine::Machine> RootMachine(const std::filesystem::path& root);

constexpr int kNoMachineExitCode = 2;

// Writes a fault of the machine's files on standard error and the debugger output (once where both are the same).
void ReportMachineFault(const std::string& message);

// The installed Windows of the current root's machine. Reads only the profile's "windows" member while this
// process has not opened the machine (once per process and root); makes the machine when the root has none.
// Throws as RootMachine does.
qv::machine::WindowsDescription RootInstalledWindows();

// Forgets the kept machine and Windows description (tests switch system roots).
void ResetRootMachineForTesting();

}  // namespace qv::win
