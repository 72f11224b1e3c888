#!/usr/bin/env bash
# Packaging check: runs every command of docs/getting-started.md as written (they install
# the build into a prefix and build and run the example program from the build tree, with
# CMake and with pkg-config), checks that the page's C++ and CMake excerpts are the
# example's own lines, checks the installed files, then builds the Debian package (and in
# CI installs it and runs its demo).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build_dir=${BUILD_DIR:-build}
page=docs/getting-started.md
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The page's fenced blocks of one language, each line with its blanks collapsed.
blocks() {
  awk -v lang="$1" '/^```/ { inside = !inside && $0 == "```" lang; next }
                    inside { gsub(/[ \t]+/, " "); sub(/^ /, ""); print }' "$page"
}
# Fails unless every line of the page's LANG blocks appears in FILE, in the same order.
excerpts_of() {
  local lang=$1 file=$2
  awk 'NR == FNR { want[++n] = $0; next }
       { gsub(/[ \t]+/, " "); sub(/^ /, "") } i < n && $0 == want[i + 1] { i++ }
       END { if (i < n) { print "not in the example, or out of order: " want[i + 1]; exit 1 } }' \
    <(blocks "$lang") "$file"
}
excerpts_of cpp examples/first_program.cpp
excerpts_of cmake examples/CMakeLists.txt
echo "$page: its C++ and CMake excerpts are the example's own lines"

# The page's commands run from the top of a tree of their own, in which the source tree's
# folders appear, so that what they make lands in the scratch directory.
mkdir "$work/tree"
ln -s "$(pwd)/include" "$(pwd)/examples" "$work/tree/"
ln -s "$(realpath "$build_dir")" "$work/tree/build"
blocks sh >"$work/commands.sh"
prefix=$work/tree/tapbroker
check_isolation
if [ "$ISOLATION" = shared ] && (exec 3<>/dev/tcp/127.0.0.1/4001) 2>/dev/null; then
  echo "$page: commands SKIPPED: port 4001 is taken here and the machine allows no" \
       "private namespace to run them in"
  cmake --install "$build_dir" --prefix "$prefix" >/dev/null
else
  before=$(brokers_in "$(realpath "$build_dir")/bin" "$prefix/bin")
  (cd "$work/tree" && isolated bash -euo pipefail "$work/commands.sh")
  # Without a namespace of their own, the brokers the commands started outlive them.
  stop_brokers_since "$before" "$(realpath "$build_dir")/bin" "$prefix/bin" >/dev/null
  echo "$page: its $(grep -c . "$work/commands.sh") command lines ran as written"
  # The example's CTest test, made by the package's tapbroker_add_test, in a namespace of
  # its own where no broker runs: the broker its Connect starts takes the fault plan.
  (cd "$work/tree" && isolated ctest --test-dir build-example --output-on-failure) >"$work/ctest.log" ||
    { cat "$work/ctest.log"; exit 1; }
  stop_brokers_since "$before" "$prefix/bin" >/dev/null
  echo "examples: tapbroker_add_test's test of the example passed"
fi

for f in include/tapbroker_client.h lib/libtapbroker_client.so bin/tapbroker.exe bin/tapclient \
         share/tapbroker_client/tapbrokerclient.msg lib/pkgconfig/tapbroker_client.pc \
         lib/cmake/tapbroker_client/tapbroker_clientConfig.cmake \
         lib/cmake/tapbroker_client/tapbroker_add_test.cmake; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(ls "$build_dir"/tapbroker-client_*.deb | head -n 1)
echo "built $(basename "$deb")"
if [ "${CI:-}" = true ] || [ "${TAPBROKER_INSTALL_DEB:-}" = 1 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(realpath "$deb")" >/dev/null
  before=$(brokers_in /usr/bin)
  isolated /usr/bin/tapclient demo
  stop_brokers_since "$before" /usr/bin >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tapbroker-client >/dev/null
fi
