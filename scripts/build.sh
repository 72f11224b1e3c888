#!/usr/bin/env bash
# Configures and builds the tree into build/ (or $BUILD_DIR) from the "plain" preset, with
# any extra CMake options.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build_dir=${BUILD_DIR:-build}
configure plain "$build_dir" "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
