#!/usr/bin/env bash
# Every test, stage by stage: installs what is missing, builds, runs the whole suite, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets for a
# bounded time, the packaging check, and the Windows build under Wine. QUICK=1 runs the
# first three stages only.
#
# The suites need port 4001 and look for broker processes: where the machine allows, they
# run in a network and process namespace of their own (scripts/common.sh), so a broker or
# any other listener elsewhere on the machine changes nothing. Every stage runs even when
# an earlier one failed. Each stage says when it starts; it shows its output only when it
# fails, and ends in one line with its wall-clock and CPU seconds; the end is the count of
# distinct tests.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

# One stage a line: its name, a bar, the command it runs (with scripts/common.sh's
# functions at hand).
stages=(
  "dependencies|scripts/install-deps.sh"
  "build|scripts/build.sh"
  "plain suite|isolated ctest --test-dir build --parallel \$(nproc) --output-on-failure --timeout 300 \$(junit_option plain)"
  "sanitized suite|scripts/ci-sanitize.sh"
  "fuzzers|scripts/ci-fuzz.sh"
  "packaging|scripts/ci-package.sh"
  "abi|scripts/ci-abi.sh"
  "windows|scripts/test-windows.sh"
)
[ "${QUICK:-}" = 1 ] && stages=("${stages[@]:0:3}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Every ctest run of a stage writes its results here (scripts/common.sh: junit_option).
export JUNIT_DIR=$work/junit
mkdir -p "$JUNIT_DIR"
summary=()
failed_stages=0
TIMEFORMAT='%R %U'
for entry in "${stages[@]}"; do
  name=${entry%%|*}
  command=${entry#*|}
  log="$work/${#summary[@]}.log"
  # Some stages take many minutes on a busy machine: say which one is under way.
  echo "$name: started at $(date +%H:%M:%S)"
  # A stage's output is shown when it fails; a passing stage is one line.
  if { time eval "$command" >"$log" 2>&1; } 2>"$work/time"; then result=passed; else
    result=FAILED
    failed_stages=$((failed_stages + 1))
    echo "=== $name: $command"
    cat "$log"
  fi
  read -r wall user <"$work/time"
  summary+=("$(printf '%-16s %-7s %5.0f s, %5.0f s CPU' "$name:" "$result" "$wall" "$user")")
  echo "${summary[-1]}"
done

passed=0 failed=0 skipped=0
if compgen -G "$JUNIT_DIR/*.xml" >/dev/null; then
  read -r passed failed skipped < <(python3 scripts/junit-counts.py "$JUNIT_DIR"/*.xml)
fi

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
check_isolation
if [ "$ISOLATION" = private ]; then
  echo "The suites ran in a network and process namespace of their own."
else
  echo "No private namespace here (it needs root or unprivileged user namespaces): the" \
       "suites ran beside whatever else uses port 4001 and runs brokers on this machine."
fi
echo "Counted once per test, however many suites ran it (plain and sanitized run the same)."
[ "$skipped" -gt 0 ] && echo "$skipped skipped: ctest --test-dir build -V -R NAME says why."
echo "tests: $passed passed, $failed failed, $skipped skipped"
# In a namespace of their own nothing else can hold the port or run a broker: a skip there
# means a test left one behind, and fails the run.
if [ "$ISOLATION" = private ] && [ "$skipped" -gt 0 ]; then
  echo "A test skipped although the suites ran on their own: an earlier test left a" \
       "listener on port 4001 or a broker behind."
  failed_stages=$((failed_stages + 1))
fi
[ "$failed_stages" -eq 0 ] && [ "$failed" -eq 0 ]
