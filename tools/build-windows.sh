#!/usr/bin/env bash
# Cross-builds the native Windows executable with MinGW-w64:
# build/windows/zodavov.exe, statically linked (it needs no DLL beside it).
# Installs the Debian packages it needs when they are missing.
#
#   tools/build-windows.sh            # the executable only
#   ZV_TESTS=ON tools/build-windows.sh   # and the test programs (run them under Wine with tools/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(cmake make g++-mingw-w64-x86-64 libz-mingw-w64-dev)
[ "${ZV_TESTS:-OFF}" = "ON" ] && packages+=(googletest wine wine64)
"$root/tools/install-packages.sh" "${packages[@]}"

cmake -S "$root" -B "$root/build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DZV_TESTS="${ZV_TESTS:-OFF}" -DZV_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
cmake --build "$root/build/windows" -j"$(nproc 2>/dev/null || echo 2)"
echo "== built $root/build/windows/zodavov.exe"
