#!/usr/bin/env bash
# The main job: builds the system (installing the Debian packages it needs first), then installs it into the
# system root and lists the firmware's settings (scripts/show-settings.sh). Running it again rebuilds what
# changed, reinstalls over the existing installation and lists again.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
./scripts/show-settings.sh build/bin
