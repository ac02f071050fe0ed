#!/usr/bin/env bash
# Builds everything and runs the whole test suite; ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300
