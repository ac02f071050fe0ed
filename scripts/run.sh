#!/usr/bin/env bash
# The main job: builds the system. Installing it into a system root and listing the firmware's settings
# through the instrumentation service joins here once those pieces exist.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
echo "Built: $(ls build/bin | tr '\n' ' ')"
