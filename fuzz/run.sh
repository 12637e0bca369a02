#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number
# of seconds (default 60) from the seed corpus: the real modules of
# tests/corpus with several option bytes (and, for the module viewer's
# reader, those modules converted with several options), plus the regression
# inputs kept in fuzz/regressions/. New interesting inputs go to build/fuzz/corpus-*; a crash
# leaves its input in build/fuzz/ and fails the run.
#
#   fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
out="$root/build/fuzz"
cxx=$(command -v clang++-14 || command -v clang++)
cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_TESTS=OFF -DZV_FUZZ=ON \
  -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$out" -j"$(nproc 2>/dev/null || echo 2)" --target fuzz_convert fuzz_cmdline fuzz_dump zodavov >/dev/null

seeds="$out/seeds-convert"
rm -rf "$seeds" && mkdir -p "$seeds" "$out/corpus-convert" "$out/corpus-cmdline" "$out/corpus-dump"
for f in "$root"/tests/corpus/*.elf; do
  for bits in 00 01 03 04 08 40 80 c1; do
    { printf "\\x$bits"; cat "$f"; } > "$seeds/$(basename "$f" .elf)-$bits"
  done
done
if [ -d "$root/fuzz/regressions/convert" ]; then cp "$root"/fuzz/regressions/convert/* "$seeds"/ 2>/dev/null || true; fi
cl_seeds="$out/seeds-cmdline"
rm -rf "$cl_seeds" && mkdir -p "$cl_seeds"
printf -- '-v\0-t\0A=1\0-stack\0004096\0-z5\0-dbg_source_root\0/tmp\0-sizefileinfo\000096\xffA=1\n# c\n  B=x=y # n\n' > "$cl_seeds/basic"
if [ -d "$root/fuzz/regressions/cmdline" ]; then cp "$root"/fuzz/regressions/cmdline/* "$cl_seeds"/ 2>/dev/null || true; fi

dump_seeds="$out/seeds-dump"
rm -rf "$dump_seeds" && mkdir -p "$dump_seeds/work"
for f in "$root"/tests/corpus/*.elf; do
  name=$(basename "$f" .elf)
  for opts in "" "-zx" "-old -s" "-f -d"; do
    cp "$f" "$dump_seeds/work/$name.elf"
    # shellcheck disable=SC2086
    (cd "$dump_seeds/work" && EDBA_ROOT="$root/samples/sdk" "$out/zodavov" $opts -nolib "$name.elf" >/dev/null 2>&1) || true
    for m in "$dump_seeds/work/$name".vk?; do
      if [ -f "$m" ]; then mv "$m" "$dump_seeds/$name-${opts// /}.${m##*.}"; fi
    done
  done
done
rm -rf "$dump_seeds/work"
if [ -d "$root/fuzz/regressions/dump" ]; then cp "$root"/fuzz/regressions/dump/* "$dump_seeds"/ 2>/dev/null || true; fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$out"
# Runs one target; on a finding prints the sanitizer's report (not only the
# statistics) so the CI log says what broke and where.
run_target() {
  local name=$1 log="$out/$1.log"
  shift
  echo "== $name for ${seconds}s"
  if ! "./$name" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 "$@" >"$log" 2>&1; then
    grep -m1 -A40 -E "runtime error|ERROR:" "$log" || tail -n 60 "$log"
    echo "== $name found a fault; its input is in $out"
    return 1
  fi
  tail -n 6 "$log"
}
run_target fuzz_convert -rss_limit_mb=4096 -max_len=1048576 corpus-convert "$seeds"
run_target fuzz_cmdline -rss_limit_mb=2048 corpus-cmdline "$cl_seeds"
run_target fuzz_dump -rss_limit_mb=2048 -max_len=262144 corpus-dump "$dump_seeds"
