#!/usr/bin/env bash
# CI step: builds the libFuzzer targets in the sanitized tree (the "sanitized" preset, clang,
# build-asan or $SANITIZE_BUILD_DIR: the suite's stage has usually built them already),
# runs each for $FUZZ_SECONDS seconds (10 by default; as many at once as there are cores) on
# a copy of its seed corpus, prints the executions per target and fails on any crash, leak,
# sanitizer report or hang. The input that failed is kept in the build directory under
# fuzz-artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build_dir=${SANITIZE_BUILD_DIR:-build-asan}
seconds=${FUZZ_SECONDS:-10}
targets=(expansion read_list conversation site_catalogue broker transcript)

configure sanitized "$build_dir"
cmake --build "$build_dir" --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$(pwd)/$build_dir/fuzz-artifacts"
mkdir -p "$artifacts"
# One target for the time given; its line goes to $work/TARGET.result.
fuzz() {
  local target=$1
  cp -r "fuzz/corpus/$target" "$work/$target"
  local options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
                 -artifact_prefix="$artifacts/$target-")
  # The conversation's inputs are records for a whole round of operations.
  [ "$target" = conversation ] && options+=(-max_len=16384)
  if "$build_dir/bin/fuzz_$target" "${options[@]}" "$work/$target" >"$work/$target.log" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
    echo "fuzz_$target: ${runs:-?} executions in ${seconds} s" >"$work/$target.result"
  else
    { echo "fuzz_$target: FAILED"; tail -n 80 "$work/$target.log"; } >"$work/$target.result"
  fi
}
# As many targets at once as there are cores: each has one to itself.
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  fuzz "$target" &
done
wait
status=0
for target in "${targets[@]}"; do
  cat "$work/$target.result"
  grep -q "^fuzz_$target: FAILED" "$work/$target.result" && status=1
done
exit "$status"
