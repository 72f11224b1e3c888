#!/usr/bin/env bash
# Every test: installs what is missing, builds, and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh -DTAPBROKER_WERROR=ON
ctest --test-dir build --output-on-failure --timeout 120
