#!/usr/bin/env bash
# Every test, stage by stage: installs what is missing, builds, runs the whole suite, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets for a
# bounded time, the packaging check, and the Windows build under Wine. QUICK=1 runs the
# first three stages only.
#
# The suites need port 4001 and look for broker processes: where the machine allows, they
# run in a network and process namespace of their own (scripts/common.sh), so a broker or
# any other listener elsewhere on the machine changes nothing. Every stage runs even when
# an earlier one failed; the end is one line per stage and the count of distinct tests.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

# One stage a line: its name, a bar, the command it runs.
stages=(
  "dependencies|scripts/install-deps.sh"
  "build|scripts/build.sh"
  "plain suite|isolated ctest --test-dir build --output-on-failure --timeout 300"
  "sanitized suite|scripts/ci-sanitize.sh"
  "fuzzers|scripts/ci-fuzz.sh"
  "packaging|scripts/ci-package.sh"
  "abi|scripts/ci-abi.sh"
  "windows|scripts/test-windows.sh"
)
[ "${QUICK:-}" = 1 ] && stages=("${stages[@]:0:3}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
summary=()
failed_stages=0
for entry in "${stages[@]}"; do
  name=${entry%%|*}
  command=${entry#*|}
  log="$work/${#summary[@]}.log"
  echo "=== $name: $command"
  started=$(date +%s)
  if eval "$command" 2>&1 | tee "$log"; then result=passed; else
    result=FAILED
    failed_stages=$((failed_stages + 1))
  fi
  summary+=("$(printf '%-16s %-7s %5d s' "$name:" "$result" $(($(date +%s) - started)))")
done

# Each ctest result line names its test and its outcome; a test the two suites both ran
# counts once: passed when it passed in every run, skipped when it was skipped in any
# run it did not fail, failed otherwise.
cat "$work"/*.log |
  awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
         name = $0; sub(/^[^#]*#[0-9]+: /, "", name); sub(/ \.\.+.*$/, "", name)
         s = /\*\*\*Skipped/ ? 1 : / Passed +[0-9.]+ sec/ ? 0 : 2
         if (!(name in worst) || s > worst[name]) worst[name] = s }
       END { for (t in worst) n[worst[t]]++
             printf "%d %d %d\n", n[0] + 0, n[2] + 0, n[1] + 0 }' >"$work/counts"
read -r passed failed skipped <"$work/counts"

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
