#!/usr/bin/env bash
# Configures and builds into ./build (programs in build/bin, libraries in build/lib).
#   scripts/build.sh [TARGET...]      default: everything; `programs` is what an installation runs
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" ${1:+--target "$@"}
