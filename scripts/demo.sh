#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demonstration. Where the
# machine allows, the demo runs in a network and process namespace of its own (see
# scripts/common.sh), so that no other program on port 4001 and no broker already running
# stands in its way. The broker that the demo starts is stopped when it ends; one that ran
# before is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
if [ "${1:-}" != --run ]; then
  scripts/install-deps.sh
  echo "Building into build/ (a few minutes the first time)..."
  scripts/build.sh
  isolated scripts/demo.sh --run
  exit
fi
bin=$(pwd)/build/bin
running_before=$(brokers_in "$bin")
status=0
# The demo stops the broker it started and says so; should it end early, the broker goes
# all the same.
build/bin/tapclient demo --stop-broker || status=$?
stop_brokers_since "$running_before" "$bin" >/dev/null
exit "$status"
