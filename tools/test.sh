#!/usr/bin/env bash
# Builds zodavov three times and runs every test in each build: optimised,
# with AddressSanitizer and UndefinedBehaviorSanitizer, and cross-built for
# Windows with MinGW-w64 (the tests then run under Wine, and the Windows
# executable is compared with the Linux one by tools/windows-diff.py).
# Checks the format of every tracked C++ file and runs clang-tidy over src/.
# Installs the Debian packages it needs when they are missing. Warnings are
# errors.
#
#   tools/test.sh            # both builds, all tests, short fuzz runs
#   ZV_FUZZ_SECONDS=0 tools/test.sh   # skip the fuzz runs
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake make g++ zlib1g-dev libisal-dev libgtest-dev nlohmann-json3-dev binutils-powerpc-linux-gnu binutils clang-14 libclang-rt-14-dev
  g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 googletest python3 clang-tidy-14 clang-format-14)
"$root/tools/install-packages.sh" "${packages[@]}"

run_build() {
  local dir=$1; shift
  echo "== configure $dir ($*)"
  cmake -S "$root" -B "$dir" "$@" >/dev/null
  echo "== build $dir"
  cmake --build "$dir" -j"$jobs"
  echo "== test $dir"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

# The Windows build's tests run under Wine, with its own prefix in the build
# folder. A persistent wine server saves every test the server's start-up.
run_windows() {
  local dir=$root/build/windows
  echo "== configure $dir (MinGW-w64)"
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZV_TESTS=ON -DZV_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
  echo "== build $dir"
  cmake --build "$dir" -j"$jobs"
  export WINEPREFIX="$dir/wineprefix" WINEDEBUG=-all LANG=C.UTF-8
  if [ ! -d "$WINEPREFIX" ]; then
    echo "== wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
  fi
  wineserver -p || true  # already running is fine
  # Wine's helper processes start with the first program and stay with the
  # server; started here, they hold no pipe of ctest's open.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  trap 'wineserver -k 2>/dev/null || true' EXIT
  echo "== test $dir (Wine)"
  # A Wine process now and then fails to start at all under load (no output,
  # exit in milliseconds); such a test is run once more. A real failure
  # fails twice.
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --repeat until-pass:2
  echo "== Windows and Linux executables compared"
  python3 "$root/tools/windows-diff.py" --quick
  wineserver -k || true
  trap - EXIT
}

# Every tracked C++ file is in the tree's one format (.clang-format).
echo "== format check"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$root" ls-files -z '*.cpp' '*.h'
else
  find src tests fuzz bench -name '*.cpp' -print0 -o -name '*.h' -print0
fi | xargs -0 clang-format-14 --dry-run -Werror

run_build "$root/build/release" -DCMAKE_BUILD_TYPE=Release
# clang-tidy over src/ with the optimised build's compile commands.
"$root/tools/tidy.sh" "$root/build/release"
run_build "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=ON
run_windows

if [ -x "$root/fuzz/run.sh" ] && [ "${ZV_FUZZ_SECONDS:-60}" != "0" ]; then
  echo "== short fuzz runs"
  "$root/fuzz/run.sh" "${ZV_FUZZ_SECONDS:-60}"
fi
echo "== all tests passed"
