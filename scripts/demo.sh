#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null
exec build/bin/tapclient demo
