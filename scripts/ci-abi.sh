#!/usr/bin/env bash
# Binary interface check: builds the shared library into build/ (or $BUILD_DIR) and
# compares it with the baseline abi/libtapbroker_client.abi (libabigail's abidw output)
# using abidiff. A program built against the library allocates Client objects and calls
# its symbols itself, so any change to the exported symbols or to the layout of what they
# take fails, unless the library's SONAME moved with it and CHANGELOG.md names the new
# SONAME. Then `scripts/ci-abi.sh --renew` records the new baseline; it refuses to replace
# the baseline of an unchanged SONAME.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build_dir=${BUILD_DIR:-build}
baseline=abi/libtapbroker_client.abi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

configure plain "$build_dir"
cmake --build "$build_dir" --parallel "$(nproc)" --target tapbroker_client

# The interface as the public header shows it: no build paths, no types private to the
# library's sources.
abidw --no-corpus-path --no-show-locs --headers-dir include --drop-private-types \
  --out-file "$work/current.abi" "$build_dir/lib/libtapbroker_client.so"
soname_of() { sed -n "1s/.* soname='\([^']*\)'.*/\1/p" "$1"; }
current=$(soname_of "$work/current.abi")
recorded=$([ -f "$baseline" ] && soname_of "$baseline" || echo "none")
named_in_changelog() { grep -qF "$1" CHANGELOG.md; }

if [ "${1:-}" = --renew ]; then
  if [ "$current" = "$recorded" ]; then
    echo "The baseline is $recorded's already; a change under the same SONAME breaks the" \
         "programs built against it: move the SONAME's version instead." >&2
    exit 1
  fi
  named_in_changelog "$current" ||
    { echo "CHANGELOG.md does not say that the library is now $current." >&2; exit 1; }
  cp "$work/current.abi" "$baseline"
  echo "Recorded the baseline of $current in $baseline."
  exit 0
fi

named_in_changelog "$recorded" ||
  { echo "CHANGELOG.md does not name $recorded, the baseline's SONAME." >&2; exit 1; }
if [ "$current" != "$recorded" ]; then
  echo "The library is $current, the baseline $recorded: record the new baseline with" \
       "scripts/ci-abi.sh --renew." >&2
  exit 1
fi
if ! abidiff "$baseline" "$work/current.abi" >"$work/report"; then
  cat "$work/report"
  echo "The binary interface of $current differs from $baseline: undo the change, or" \
       "move the SONAME's version (the project's major version), say so in CHANGELOG.md" \
       "and run scripts/ci-abi.sh --renew." >&2
  exit 1
fi
echo "The binary interface of $current matches $baseline."
