#!/usr/bin/env bash
# Every test: installs what is missing, builds, and runs the whole suite; then the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets for a bounded
# time, and the packaging check. QUICK=1 runs only the plain suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh -DTAPBROKER_WERROR=ON
log=$(mktemp)
trap 'rm -f "$log"' EXIT
ctest --test-dir build --output-on-failure --timeout 300 | tee "$log"
if [ "${QUICK:-}" != 1 ]; then
  scripts/ci-sanitize.sh | tee -a "$log"
  scripts/ci-fuzz.sh
  scripts/ci-package.sh
fi
# Both suites passed whole to get here; say how many tests that was.
passed=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | awk '{ s += $1 } END { print s + 0 }')
echo "tests: ${passed:-0} passed, 0 failed"
