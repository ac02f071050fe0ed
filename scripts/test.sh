#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then the same suite in the sanitizer build
# (scripts/sanitize.sh: ASan, UBSan, LeakSanitizer); fails when either does. QV_SKIP_SANITIZE=1 runs the
# normal suite only.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300
if [ "${QV_SKIP_SANITIZE:-0}" != 1 ]; then
  ./scripts/sanitize.sh
fi
