#!/usr/bin/env bash
# Builds zodavov (optimised) and converts the bundled sample module: the
# module's VKM and its import library land in out/, and the tool's verbose
# listing shows what went where; vkmdump then shows the module written.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
if ! dpkg -s cmake g++ zlib1g-dev libgtest-dev nlohmann-json3-dev >/dev/null 2>&1; then
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq cmake make g++ zlib1g-dev libgtest-dev nlohmann-json3-dev
fi
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/release" -j"$(nproc 2>/dev/null || echo 2)" --target zodavov vkmdump >/dev/null
mkdir -p "$root/out"
cp "$root/tests/corpus/basic.elf" "$root/out/basic.elf"
export EDBA_ROOT="$root/samples/sdk"
export GHS_ROOT="$root/samples/toolchain"
set +e
"$root/build/release/zodavov" -v -dbg_source_root "$root" "$root/out/basic.elf"
status=$?
set -e
echo
echo "exit value: $status"
ls -l "$root/out"
if [ $status -eq 0 ]; then
  echo
  (cd "$root" && "$root/build/release/vkmdump" out/basic.vkm)
fi
exit $status
