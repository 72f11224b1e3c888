#!/usr/bin/env bash
# CI stage: the Windows build and its tests under Wine. Installs the cross compiler, Wine and
# the GoogleTest sources when missing; cross-compiles the DLL, its import library, the
# example and the Windows tests into build-windows/ (or $WINDOWS_BUILD_DIR); runs them under
# wine64 in network and process namespaces of their own (where the machine allows them) with
# a wineserver, WINEPREFIX and TMPDIR of their own; then runs the end-to-end walk with the
# Linux and the Windows library against the Linux broker (from build/, or $BUILD_DIR) and
# compares the broker's transcripts and the two libraries' recordings.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build_dir=${WINDOWS_BUILD_DIR:-build-windows}
linux_dir=${BUILD_DIR:-build}
started=$(date +%s)

packages=(g++-mingw-w64-x86-64-posix wine64 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

configure windows "$build_dir"
cmake --build "$build_dir" --parallel "$(nproc)"
if [ -f "$linux_dir/CMakeCache.txt" ]; then
  cmake --build "$linux_dir" --parallel "$(nproc)" --target tapbroker.exe walk
else
  BUILD_DIR=$linux_dir scripts/build.sh
fi
# The DLL and the programs need nothing beside them but Windows itself.
for binary in "$build_dir"/bin/*.exe "$build_dir"/bin/*.dll; do
  x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\tDLL Name: //p' |
    grep -viE '^(kernel32|msvcrt|ws2_32|libtapbroker_client)\.dll$' &&
    { echo "$binary needs more than Windows itself"; exit 1; }
done
[ -f "$build_dir/lib/libtapbroker_client.dll.a" ] || { echo "no import library"; exit 1; }
# The DLL exports the Client class alone.
x86_64-w64-mingw32-objdump -p "$build_dir/bin/libtapbroker_client.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' | grep -vE '^_ZNK?6Client' &&
  { echo "libtapbroker_client.dll exports more than Client"; exit 1; }
built=$(date +%s)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Wine's sockets live in its wineserver: one started inside the namespaces serves this stage's
# programs only, and started once it spares every program a cold start.
isolated bash -s "$build_dir" "$linux_dir" "$work" <<'EOF'
set -euo pipefail
build_dir=$1 linux_dir=$2 work=$3
export WINEPREFIX=$work/prefix TMPDIR=$work/tmp WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$TMPDIR" "$WINEPREFIX"
wine=/usr/lib/wine/wine64
/usr/lib/wine/wineserver -p60
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
"$wine" wineboot -i >/dev/null 2>&1

ctest --test-dir "$build_dir" --output-on-failure --timeout 300

# The walk of each library against a broker of its own; the transcripts must agree byte for byte.
walk() {
  "$linux_dir/bin/tapbroker.exe" --trace --idle-exit 0 2>"$work/trace-$1" &
  local broker=$!
  until grep -q listening "$work/trace-$1"; do sleep 0.05; done
  shift
  "$@" || { kill "$broker"; return 1; }
  kill "$broker"
  wait "$broker" || true
}
# Each library records its walk too: the two transcripts must be the same file.
TAPBROKER_CLIENT_RECORD=$work/record-linux walk linux "$linux_dir/bin/walk" "$work/linux.log"
TAPBROKER_CLIENT_RECORD="Z:${work//\//\\}\\record-windows" \
  walk windows "$wine" "$build_dir/bin/walk.exe" "Z:${work//\//\\}\\windows.log"
for side in linux windows; do
  sed -nE 's/^tapbroker #[0-9]+ (<-|->) /\1 /p' "$work/trace-$side" >"$work/wire-$side"
done
diff "$work/wire-linux" "$work/wire-windows" >/dev/null ||
  { echo "the Windows library's bytes differ from the Linux library's:"; diff "$work/wire-linux" "$work/wire-windows" | head -20; exit 1; }
echo "walk: the broker saw the same $(wc -l <"$work/wire-windows") exchanges from both libraries"
cmp -s "$work/record-linux" "$work/record-windows" ||
  { echo "the Windows library's recording differs from the Linux library's:"; diff "$work/record-linux" "$work/record-windows" | head -20; exit 1; }
echo "walk: both libraries recorded the same $(grep -c '^[<>]' "$work/record-windows") exchanges"

# The Windows commands of the getting-started page, as written, from a tree of their own.
mkdir "$work/tree"
ln -s "$PWD/include" "$PWD/examples" "$work/tree/"
ln -s "$(realpath "$build_dir")" "$work/tree/build-windows"
awk '/^```/ { inside = !inside && $0 == "```sh windows"; next } inside' \
  docs/getting-started.md >"$work/commands.sh"
walk example env -C "$work/tree" bash -euo pipefail "$work/commands.sh"
echo "docs/getting-started.md: its $(grep -c . "$work/commands.sh") Windows command lines ran as written"
EOF
finished=$(date +%s)
echo "test-windows: build $((built - started)) s, Wine $((finished - built)) s," \
     "total $((finished - started)) s"
