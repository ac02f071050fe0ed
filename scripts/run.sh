#!/usr/bin/env bash
# The main job: builds the system's programs (installing the Debian packages it needs first; the tests and
# benchmarks are left to scripts/test.sh), then installs it into the system root and lists the firmware's
# settings (scripts/show-settings.sh). Running it again rebuilds what changed, reinstalls over the existing
# installation and lists again.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh programs
./scripts/show-settings.sh build/bin
