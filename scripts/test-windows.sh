#!/usr/bin/env bash
# CI stage: the Windows build and its tests under Wine. Installs the cross compiler, Wine and
# the GoogleTest sources when missing (scripts/install-deps.sh); cross-compiles the DLL, its import library, the
# broker, the tool, the example and the Windows tests into build-windows/ (or
# $WINDOWS_BUILD_DIR) and packs the zip; runs under wine64, in network and process
# namespaces of their own (where the machine allows them) with a wineserver, WINEPREFIX and
# TMPDIR of their own: the Windows tests; the walk (an end-to-end test) of the Linux library
# against the Linux broker (from build/, or $BUILD_DIR) and of the Windows library against
# the Windows broker, whose transcripts must agree, as must the two libraries' recordings of
# it, each of which the other system's broker replays; the zip's demo started from
# elsewhere, which makes the DLL start the broker beside it; and the getting-started page's
# Windows lines.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build_dir=${WINDOWS_BUILD_DIR:-build-windows}
linux_dir=${BUILD_DIR:-build}
started=$(date +%s)

scripts/install-deps.sh

configure windows "$build_dir"
rm -f "$build_dir"/tapbroker_client-*-win64.zip  # an older version's
cmake --build "$build_dir" --parallel "$(nproc)" --target package
zip=$(ls "$build_dir"/tapbroker_client-*-win64.zip)
if [ -f "$linux_dir/CMakeCache.txt" ]; then
  cmake --build "$linux_dir" --parallel "$(nproc)" --target tapbroker.exe tapbroker_e2e_tests
else
  BUILD_DIR=$linux_dir scripts/build.sh
fi
# The DLL and the programs need nothing beside them but Windows itself.
for binary in "$build_dir"/bin/*.exe "$build_dir"/bin/*.dll; do
  x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\tDLL Name: //p' |
    grep -viE '^(kernel32|msvcrt|ws2_32|mswsock|iphlpapi|libtapbroker_client)\.dll$' &&
    { echo "$binary needs more than Windows itself"; exit 1; }
done
[ -f "$build_dir/lib/libtapbroker_client.dll.a" ] || { echo "no import library"; exit 1; }
# The DLL exports the Client class alone.
x86_64-w64-mingw32-objdump -p "$build_dir/bin/libtapbroker_client.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' | grep -vE '^_ZNK?6Client' &&
  { echo "libtapbroker_client.dll exports more than Client"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# What ships is stripped.
unzip -q "$zip" 'bin/*' -d "$work/shipped"
for binary in "$work"/shipped/bin/*.exe "$work"/shipped/bin/*.dll; do
  x86_64-w64-mingw32-objdump -h "$binary" | grep -q '\.debug_' &&
    { echo "$(basename "$binary") in the zip is not stripped"; exit 1; }
done
# The example built with find_package against the zip unzipped under a folder whose name
# is not ASCII: the package's directory variable is UTF-8, and the program's Connect must
# start the broker from there all the same (run below, under Wine).
sdk_cmake="$work/wïn sdk"
mkdir -p "$sdk_cmake"
unzip -q "$zip" -d "$sdk_cmake"
cmake -S examples -B "$work/example" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -Dtapbroker_client_DIR="$sdk_cmake/lib/cmake/tapbroker_client" \
  -DCMAKE_EXE_LINKER_FLAGS="-static -static-libgcc -static-libstdc++" >/dev/null
cmake --build "$work/example" >/dev/null
# The DLL beside the program, as docs/windows.md says; the broker stays in the package.
cp "$sdk_cmake/bin/libtapbroker_client.dll" "$work/example/"
built=$(date +%s)
# Wine's sockets live in its wineserver: one started inside the namespaces serves this stage's
# programs only, and started once it spares every program a cold start.
isolated bash -s "$build_dir" "$linux_dir" "$work" "$zip" <<'EOF'
set -euo pipefail
build_dir=$1 linux_dir=$2 work=$3 zip=$4
export WINEPREFIX=$work/prefix TMPDIR=$work/tmp WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$TMPDIR" "$WINEPREFIX"
wine=/usr/lib/wine/wine64
/usr/lib/wine/wineserver -p60
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
"$wine" wineboot -i >/dev/null 2>&1

ctest --test-dir "$build_dir" --parallel "$(nproc)" --output-on-failure --timeout 300 \
  ${JUNIT_DIR:+--output-junit "$JUNIT_DIR/windows.xml"}

# Stops every broker of this namespace, Linux or Windows: the next check starts from none.
stop_brokers() { pkill -f tapbroker.exe 2>/dev/null || true; while pgrep -f tapbroker.exe >/dev/null; do sleep 0.1; done; }

# The walk (the end-to-end test of every transfer kind, which also checks the log's line
# ends) of each library against a broker of its own; the fixture puts the broker's trace
# where TAPBROKER_E2E_TRACE says. The brokers' exchanges must agree byte for byte.
walk() {
  local log=$1
  shift
  "$@" --gtest_filter=CommandsE2E.EachTransferKindReadsBack >"$log" 2>&1 &&
    grep -q '^\[  PASSED  \] 1 test' "$log" || { cat "$log"; return 1; }
}
windows_path() { echo "Z:${1//\//\\}"; }
# Each library records its walk too: the two transcripts must be the same file.
TAPBROKER_E2E_TRACE=$work/trace-linux TAPBROKER_CLIENT_RECORD=$work/record-linux \
  walk "$work/linux.log" "$linux_dir/bin/tapbroker_e2e_tests"
TAPBROKER_E2E_TRACE=$(windows_path "$work/trace-windows") \
  TAPBROKER_CLIENT_RECORD=$(windows_path "$work/record-windows") \
  walk "$work/windows.log" "$wine" "$build_dir/bin/windows_e2e_tests.exe"
for side in linux windows; do
  # The Windows broker ends its lines as Windows text does, in CR LF.
  tr -d '\r' <"$work/trace-$side" | sed -nE 's/^tapbroker #[0-9]+ (<-|->) /\1 /p' >"$work/wire-$side"
done
diff "$work/wire-linux" "$work/wire-windows" >/dev/null ||
  { echo "the Windows pair's bytes differ from the Linux pair's:"; diff "$work/wire-linux" "$work/wire-windows" | head -20; exit 1; }
echo "walk: the Linux and the Windows pair exchanged the same $(wc -l <"$work/wire-windows") lines"
cmp -s "$work/record-linux" "$work/record-windows" ||
  { echo "the Windows library's recording differs from the Linux library's:"; diff "$work/record-linux" "$work/record-windows" | head -20; exit 1; }
echo "walk: both libraries recorded the same $(grep -c '^[<>]' "$work/record-windows") exchanges"

# Each system's recording replays on the other: the Linux broker serves the Windows
# library's transcript to the Linux walk, the Windows broker the Linux library's to the
# Windows walk (a broker that replays ends the conversation where it parts from the record).
TAPBROKER_REPLAY=$work/record-windows walk "$work/linux-replayed.log" "$linux_dir/bin/tapbroker_e2e_tests"
TAPBROKER_REPLAY=$(windows_path "$work/record-linux") \
  walk "$work/windows-replayed.log" "$wine" "$build_dir/bin/windows_e2e_tests.exe"
echo "replay: the Windows recording replayed on Linux, the Linux one under Wine"

# The zip as a user gets it: unzipped into a directory whose name has a space and a
# non-ASCII letter, its demo started from another directory with no broker running, so
# that the DLL starts the broker beside it.
sdk="$work/Prüf dir"
mkdir -p "$sdk" "$work/elsewhere"
unzip -q "$zip" -d "$sdk"
for f in bin/libtapbroker_client.dll bin/tapbroker.exe bin/tapclient.exe bin/tapbrokerclient.msg \
         lib/libtapbroker_client.dll.a include/tapbroker_client.h README.md LICENSE CHANGELOG.md \
         docs/windows.md; do
  [ -e "$sdk/$f" ] || { echo "$(basename "$zip") lacks $f"; exit 1; }
done
if ! (cd "$work/elsewhere" && TAPBROKER_IDLE_EXIT=15 "$wine" "$sdk/bin/tapclient.exe" demo) \
    >"$work/demo.log" 2>&1 || ! grep -q "All checks passed" "$work/demo.log"; then
  cat "$work/demo.log"
  exit 1
fi
stop_brokers
echo "$(basename "$zip"): unzipped into \"$(basename "$sdk")\", its demo started its broker and passed"
if ! (cd "$work/elsewhere" && TAPBROKER_IDLE_EXIT=15 "$wine" "$work/example/first_program.exe") \
    >"$work/example.log" 2>&1 || ! grep -q "read back identical" "$work/example.log"; then
  cat "$work/example.log"
  exit 1
fi
stop_brokers
echo "examples: built with find_package from \"wïn sdk\", its Connect started the broker there"

# The Windows commands of the getting-started page, as written, from a tree of their own:
# the program beside the zip's DLL and broker, which the DLL starts.
mkdir "$work/tree"
ln -s "$PWD/include" "$PWD/examples" "$work/tree/"
ln -s "$(realpath "$build_dir")" "$work/tree/build-windows"
awk '/^```/ { inside = !inside && $0 == "```sh windows"; next } inside' \
  docs/getting-started.md >"$work/commands.sh"
TAPBROKER_IDLE_EXIT=15 env -C "$work/tree" bash -euo pipefail "$work/commands.sh"
stop_brokers
echo "docs/getting-started.md: its $(grep -c . "$work/commands.sh") Windows command lines ran as written"
EOF
finished=$(date +%s)
echo "test-windows: build $((built - started)) s, Wine $((finished - built)) s," \
     "total $((finished - started)) s"
