#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the fuzzers and the benchmarks need. Idempotent: when
# everything is present it changes nothing and does not touch the network.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config g++-multilib
  clang clang-format libclang-rt-14-dev libfuzzer-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev nlohmann-json3-dev libcli11-dev libmspack-dev libssl-dev libxml2-dev libxml2-utils gcab
  dmidecode procps ansible-core
  libgtk-3-dev libxkbfile-dev xvfb xdotool x11-xkb-utils fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
