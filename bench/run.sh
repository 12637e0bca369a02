#!/usr/bin/env bash
# Times the conversion of each real module (optimised build), N runs each,
# with compression on and off: the compressed runs show how much of the run
# time zlib takes.
#
#   bench/run.sh [runs]     (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-20}
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/release" -j"$(nproc 2>/dev/null || echo 2)" --target zodavov >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export EDBA_ROOT="$root/samples/sdk"
printf '%-14s %10s %12s %12s\n' module bytes "ms (-z)" "ms (-zx)"
for f in "$root"/tests/corpus/*.elf; do
  name=$(basename "$f")
  cp "$f" "$work/$name"
  times=()
  for mode in "" "-zx"; do
    start=$(date +%s%N)
    for _ in $(seq "$runs"); do
      "$root/build/release/zodavov" $mode -nolib "$work/$name" >/dev/null
    done
    end=$(date +%s%N)
    times+=("$(( (end - start) / runs / 1000000 ))")
  done
  printf '%-14s %10d %12s %12s\n' "$name" "$(stat -c %s "$f")" "${times[0]}" "${times[1]}"
done
