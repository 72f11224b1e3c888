#!/usr/bin/env bash
# Every test: installs what is missing, builds, and runs the whole suite; then the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets for a bounded
# time, and the packaging check. QUICK=1 runs only the plain suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh -DTAPBROKER_WERROR=ON
ctest --test-dir build --output-on-failure --timeout 300
[ "${QUICK:-}" = 1 ] && exit 0
scripts/ci-sanitize.sh
scripts/ci-fuzz.sh
scripts/ci-package.sh
