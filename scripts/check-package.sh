#!/usr/bin/env bash
# Builds the Debian package (CPack) from a build tree, installs it with dpkg into a scratch root, runs the
# installed programs there (the provider's installation and a WMI query on a host machine over a small
# firmware-attributes tree; zmrmc on the simulated desktop), purges it and checks that nothing of it is left.
# Usage: scripts/check-package.sh [BUILD_DIR]   (default build/; needs dpkg and root for dpkg --root)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d /tmp/qv-package-XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target programs >/dev/null
(cd "$build" && cpack -G DEB >/dev/null 2>&1)
deb=$(ls "$build"/qv-instrumented-bios_*.deb)
scratch=$work/root
mkdir -p "$scratch/var/lib/dpkg/info" "$scratch/var/lib/dpkg/updates"
touch "$scratch/var/lib/dpkg/status"
# The scratch root holds no other package: the shared libraries the package depends on are the build host's.
dpkg --root="$scratch" --force-depends --force-script-chrootless -i "$deb" >/dev/null 2>&1

tree=$work/tree/qv-check/attributes/BootMode
mkdir -p "$tree"
echo enumeration >"$tree/type"
echo UEFI >"$tree/current_value"
echo "UEFI;Legacy" >"$tree/possible_values"
echo "Boot Mode" >"$tree/display_name"
export QV_SYSTEM_ROOT=$work/host-root QV_MACHINE=host QV_FIRMWARE_ATTRIBUTES=$work/tree QV_DMI_TABLES=$work/none
export QV_WBEM_SERVICE_IDLE_MS=300 QV_WBEM_PROVIDER_IDLE_MS=300 QV_DRIVER_IDLE_MS=300
unset QV_WBEM_SERVICE
mkdir -p "$QV_SYSTEM_ROOT"
"$scratch/usr/lib/qv/bin/vrxBIOS" -Install
"$scratch/usr/bin/wmi" -n 'root\QV\InstrumentedBIOS' query "select Name, CurrentValue from QVPROV_BIOSEnumeration" |
  grep -q "Boot Mode *UEFI" || { echo "check-package.sh: the installed provider did not publish the host's setting" >&2; exit 1; }
for page in wmi zmrmc; do
  [ -s "$scratch/usr/share/man/man1/$page.1" ] || { echo "check-package.sh: no manual page for $page" >&2; exit 1; }
done
mkdir -p "$work/desktop-root"
QV_SYSTEM_ROOT=$work/desktop-root QV_MACHINE=desktop "$scratch/usr/bin/zmrmc" show >/dev/null

dpkg --root="$scratch" --force-script-chrootless --purge qv-instrumented-bios >/dev/null
left=$(find "$scratch" -mindepth 1 -not -path "$scratch/var" -not -path "$scratch/var/lib" -not -path "$scratch/var/lib/dpkg*")
if [ -n "$left" ]; then
  printf 'check-package.sh: left after purge: %s\n' "$left" >&2
  exit 1
fi
# The roots' service, provider and driver end by themselves once idle; the folder goes after them. (-q: a
# process found counts even when another one's environment cannot be read.)
for _ in $(seq 300); do
  grep -qsz "^QV_SYSTEM_ROOT=$work/" /proc/[0-9]*/environ || break
  sleep 0.1
done
echo "check-package.sh: $(basename "$deb") installs, runs and purges cleanly"
