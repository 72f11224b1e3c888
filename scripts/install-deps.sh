#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need. Idempotent.
set -euo pipefail
packages=(build-essential cmake ninja-build qt6-base-dev libgtest-dev libgmock-dev
          libbenchmark-dev clang-14 libclang-rt-14-dev pkgconf dpkg-dev iproute2
          libasio-dev nlohmann-json3-dev libcli11-dev abigail-tools zip unzip python3
          # The Python package and its tests.
          python3-dev pybind11-dev python3-pytest
          # The Windows build and its tests: the cross compiler, Wine, GoogleTest's sources.
          g++-mingw-w64-x86-64-posix wine64 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing ${missing[*]}..."
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
