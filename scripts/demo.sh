#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demonstration. The broker
# that the demo starts is stopped when it ends; one that ran before is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh
echo "Building into build/ (a few minutes the first time)..."
scripts/build.sh
bin=$(pwd)/build/bin
running_before=$(brokers_in "$bin")
status=0
build/bin/tapclient demo || status=$?
for pid in $(stop_brokers_since "$running_before" "$bin"); do
  echo "demo.sh: stopped that broker now (process $pid): nothing of the demo runs on."
done
exit "$status"
