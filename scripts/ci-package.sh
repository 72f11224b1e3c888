#!/usr/bin/env bash
# Packaging check: installs the build into a temporary prefix, builds the example consumer
# against the installed CMake package and pkg-config file, runs it (it starts the installed
# broker), then builds the Debian package, installs it and runs its demo.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
work=$(mktemp -d)
prefix=$work/prefix

# Brokers started from the packaged trees have no terminal to be stopped from.
stop_brokers_in() {
  for exe in /proc/[0-9]*/exe; do
    target=$(readlink "$exe" 2>/dev/null) || continue
    case "$target" in "$1"/*tapbroker.exe) pid=${exe#/proc/}; kill "${pid%/exe}" 2>/dev/null || true ;; esac
  done
}
cleanup() {
  stop_brokers_in "$prefix"
  stop_brokers_in /usr/bin
  rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
for f in include/tapbroker_client.h lib/libtapbroker_client.so bin/tapbroker.exe bin/tapclient \
         share/tapbroker_client/tapbrokerclient.msg lib/pkgconfig/tapbroker_client.pc \
         lib/cmake/tapbroker_client/tapbroker_clientConfig.cmake; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
echo "installed to $prefix: $(readlink "$prefix/lib/libtapbroker_client.so")"

cmake -S examples -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/first_program"
stop_brokers_in "$prefix"

# pkg-config users compile and link with the flags the .pc file gives.
flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs tapbroker_client)
c++ -std=c++17 -o "$work/pc_program" examples/first_program.cpp \
  -DTAPBROKER_BIN_DIR="\"$prefix/bin\"" $flags -Wl,-rpath,"$prefix/lib"
echo "built the example with pkg-config's flags: $flags"

(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(ls "$build_dir"/tapbroker-client_*.deb | head -n 1)
echo "built $(basename "$deb")"
if [ "${CI:-}" = true ] || [ "${TAPBROKER_INSTALL_DEB:-}" = 1 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(realpath "$deb")" >/dev/null
  /usr/bin/tapclient demo
  stop_brokers_in /usr/bin
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tapbroker-client >/dev/null
fi
