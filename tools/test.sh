#!/usr/bin/env bash
# Builds zodavov twice and runs every test in both builds: once optimised,
# once with AddressSanitizer and UndefinedBehaviorSanitizer. Installs the
# Debian packages it needs when they are missing. Warnings are errors.
#
#   tools/test.sh            # both builds, all tests, short fuzz runs
#   ZV_FUZZ_SECONDS=0 tools/test.sh   # skip the fuzz runs
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake make g++ zlib1g-dev libgtest-dev nlohmann-json3-dev python3 binutils-powerpc-linux-gnu binutils clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi

run_build() {
  local dir=$1; shift
  echo "== configure $dir ($*)"
  cmake -S "$root" -B "$dir" "$@" >/dev/null
  echo "== build $dir"
  cmake --build "$dir" -j"$jobs"
  echo "== test $dir"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

run_build "$root/build/release" -DCMAKE_BUILD_TYPE=Release
run_build "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=ON

if [ -x "$root/fuzz/run.sh" ] && [ "${ZV_FUZZ_SECONDS:-60}" != "0" ]; then
  echo "== short fuzz runs"
  "$root/fuzz/run.sh" "${ZV_FUZZ_SECONDS:-60}"
fi
echo "== all tests passed"
