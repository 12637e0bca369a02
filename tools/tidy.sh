#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over every source file of src/
# with the compile commands of the optimised build, and fails on any finding.
# ZV_TIDY_NAMING=0 leaves out the naming check.
#
#   tools/tidy.sh [build folder]    # default build/release, configured when missing
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build/release}
naming=${ZV_TIDY_NAMING:-1}

if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
checks=""
[ "$naming" = "1" ] || checks="-readability-identifier-naming"
# The compile commands are g++'s: clang does not know g++'s own warning
# switches, and its -Wconversion would add the sign conversions g++ leaves out.
echo "== clang-tidy over src/ (${checks:-all checks})"
log="$build/tidy.log"
status=0
run-clang-tidy-14 -quiet -p "$build" -j"$(nproc 2>/dev/null || echo 2)" ${checks:+-checks="$checks"} \
  -extra-arg=-Wno-unknown-warning-option -extra-arg=-Wno-sign-conversion "$root/src/" >"$log" 2>&1 || status=$?
# (run-clang-tidy-14 always asks for colour; the log is read as plain text.)
sed -e 's/\x1b\[[0-9;]*m//g' "$log" |
  grep -v -E '^clang-tidy-14 |^[0-9]+ warnings? (and [0-9]+ errors? )?generated|^Suppressed [0-9]+ warnings|^Use -header-filter' || true
if [ "$status" -ne 0 ]; then
  echo "== clang-tidy found faults (above; the whole output is in $log)"
  exit 1
fi
echo "== clang-tidy: no findings"
