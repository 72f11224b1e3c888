#!/usr/bin/env bash
# CI step: the whole tree built with clang, AddressSanitizer (leak checking included) and
# UndefinedBehaviorSanitizer (the "sanitized" preset, which also builds the fuzz targets
# that scripts/ci-fuzz.sh runs) into build-asan (or $SANITIZE_BUILD_DIR), and the whole
# test suite run there, in namespaces of its own where
# the machine allows. Fails on any failing test and on any sanitizer report, including those
# of processes the tests start in the background (the broker that Connect launches writes
# its standard error nowhere, so every report goes to a file that is checked at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build_dir=${SANITIZE_BUILD_DIR:-build-asan}
started=$(date +%s)

configure sanitized "$build_dir"
cmake --build "$build_dir" --parallel "$(nproc)"
built=$(date +%s)

reports="$(pwd)/$build_dir/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=1:log_path=$reports/asan:log_exe_name=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan:log_exe_name=1"
export LSAN_OPTIONS="log_path=$reports/lsan:log_exe_name=1"

status=0
# shellcheck disable=SC2046
# The embedding check builds the library afresh with the compiler alone: the plain suite
# runs it.
isolated ctest --test-dir "$build_dir" --parallel "$(nproc)" --output-on-failure --timeout 900 -LE embed \
  $(junit_option sanitized) || status=$?

if compgen -G "$reports/*" >/dev/null; then
  echo "sanitizer reports:"
  for report in "$reports"/*; do
    echo "=== $report"
    cat "$report"
  done
  status=1
fi
finished=$(date +%s)
echo "ci-sanitize: build $((built - started)) s, tests $((finished - built)) s," \
     "total $((finished - started)) s"
exit "$status"
