#!/usr/bin/env bash
# Builds everything and runs the whole test suite and the package check, then the same suite in the sanitizer
# build (scripts/sanitize.sh: ASan, UBSan, LeakSanitizer); fails when any of them does. QV_SKIP_SANITIZE=1 runs
# the normal suite and the package check only.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300
# The Debian package: installed into a scratch root, run there and purged (dpkg --root needs root).
if [ "$(id -u)" -eq 0 ]; then
  ./scripts/check-package.sh
else
  echo "test.sh: the package check needs root; skipped"
fi
if [ "${QV_SKIP_SANITIZE:-0}" != 1 ]; then
  ./scripts/sanitize.sh
fi
