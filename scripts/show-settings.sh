#!/usr/bin/env bash
# Installs the built system into the system root (made from the `desktop` machine when it does not exist yet)
# with `vrxBIOS -Install -Silent`, and lists the firmware's settings through the instrumentation service with
# the client tool `wmi`, one table per kind of setting. Installing again over an installation is harmless.
#   scripts/show-settings.sh [BIN_DIR]     BIN_DIR: where vrxBIOS and wmi are (default build/bin)
# Environment: QV_SYSTEM_ROOT (default: $XDG_STATE_HOME/qv/root or ~/.local/state/qv/root), QV_MACHINE (the
# machine a new root is made from; default desktop). See README.md. Exit code 1 when the machine's settings
# are not supported.
set -euo pipefail
bin=${1:-$(dirname "$0")/../build/bin}

root=${QV_SYSTEM_ROOT:-${XDG_STATE_HOME:-$HOME/.local/state}/qv/root}
export QV_SYSTEM_ROOT=$root
export QV_MACHINE=${QV_MACHINE:-desktop}
if [ -d "$root/drive_c" ]; then  # an installation made earlier
  echo "System root: $root"
else
  echo "System root: $root (new, machine $QV_MACHINE)"
fi

# vrxBIOS exits with 0 (what it installed shows in the namespace's classes), or with 2 when the root's machine
# cannot be made from QV_MACHINE (the reason on standard error), which ends this script with that code.
"$bin"/vrxBIOS -Install -Silent
classes=$("$bin"/wmi classes)
if grep -qx QVPROV_BIOSSettingInterface <<<"$classes"; then
  prefix=QVPROV  # served by the provider service vrxBIOS
  echo "Installed: the software provider for BIOS settings (vrxBIOS)."
elif grep -qx QVBIOS_BIOSSettingInterface <<<"$classes"; then
  prefix=QVBIOS  # the firmware publishes its settings itself
  echo "Installed: the firmware publishes its settings natively."
else
  echo "This machine's firmware settings are not supported: only the common classes were installed." >&2
  exit 1
fi

# One table per kind of setting: the name, the current value and what the value may be, and the setup menu
# path (the table shows the selected columns in the class's property order).
show() {
  local title=$1 class=$2 columns=$3 table
  echo
  echo "== $title ($class) =="
  table=$("$bin"/wmi query "SELECT $columns FROM $class")
  if [ -n "$table" ]; then echo "$table"; else echo "(none)"; fi
}
show "Enumerations" "${prefix}_BIOSEnumeration" "Name, CurrentValue, PossibleValues, IsReadOnly, Path"
show "Integers" "${prefix}_BIOSInteger" "Name, Value, LowerBound, UpperBound, IsReadOnly, Path"
show "Strings" "${prefix}_BIOSString" "Name, Value, MinLength, MaxLength, IsReadOnly, Path"
show "Ordered lists" "${prefix}_BIOSOrderedList" "Name, Elements, IsReadOnly, Path"
show "Passwords" "${prefix}_BIOSPassword" "Name, IsSet, MinLength, MaxLength, SupportedEncoding, Path"
