#!/usr/bin/env bash
# Rebuilds the corpus of real PowerPC input modules from the sources in this
# folder with Debian's cross toolchain (gcc-powerpc-linux-gnu and
# binutils-powerpc-linux-gnu). Each module is compiled freestanding, linked
# with `ld -q` against module.ld so its relocations stay in the executable,
# and then given the platform's section details with elfpatch.py; check.py
# verifies the result.
#
# Usage: tools/corpus/build.sh [OUTPUT_DIR]   (default: tests/corpus)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/../../tests/corpus}
mkdir -p "$out"
out=$(cd "$out" && pwd)

cross=${CROSS_PREFIX:-powerpc-linux-gnu-}
cc=${cross}gcc
ld=${cross}ld
for tool in "$cc" "$ld" python3; do
    command -v "$tool" >/dev/null || {
        echo "build.sh: $tool not found (apt-get install gcc-powerpc-linux-gnu binutils-powerpc-linux-gnu)" >&2
        exit 1
    }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# No libc, no position-independent code, no small data unless a module asks
# for it, no unwind tables and no compiler identification (so the bytes do
# not depend on the compiler's version string).
cflags=(-O2 -fno-pic -fno-PIC -mno-sdata -msdata=none -ffreestanding -nostdlib
        -fno-common -fno-asynchronous-unwind-tables -fno-unwind-tables
        -fno-stack-protector -fno-ident -Wall -Wextra -Werror)
# -q keeps the relocations as SHT_RELA sections; -n leaves the sections
# unpadded to pages, so the files stay small.
ldflags=(-q -n -T "$here/module.ld")

# The assembler already gives the export and import sections their platform
# types and the linker keeps them; setting them again after the link keeps
# the corpus right with a linker that does not. The thread-local flag has no
# assembler spelling and is always added here.
exports_type=0x80000001
imports_type=0x80000002
tls_flag=0x04000000

# compile OBJECT SOURCE [EXTRA FLAGS...]
compile() {
    local obj=$1 src=$2
    shift 2
    "$cc" "${cflags[@]}" "$@" -c "$src" -o "$work/$obj"
}

# link MODULE OBJECT...
link() {
    local module=$1
    shift
    local objs=()
    for o in "$@"; do objs+=("$work/$o"); done
    "$ld" "${ldflags[@]}" -o "$out/$module" "${objs[@]}"
    chmod 0644 "$out/$module"
}

patch() {
    python3 "$here/elfpatch.py" "$@"
}

src=$here/src

# basic.elf: code, .rodata, .data, .bss, two function exports, one data export.
compile basic.o "$src/basic.c"
compile basic_exports.o "$src/basic_exports.S"
link basic.elf basic.o basic_exports.o
patch "$out/basic.elf" --set-type .fexports $exports_type --set-type .dexports $exports_type

# imports.elf: calls two functions and reads one object of other.vkm.
compile imports.o "$src/imports.c"
compile imports_sections.o "$src/imports_sections.S"
link imports.elf imports.o imports_sections.o
patch "$out/imports.elf" --set-type .fimport_other.vkm $imports_type \
    --set-type .dimport_other.vkm $imports_type

# tls.elf: thread-local data, exported with the thread-local bit.
compile tls.o "$src/tls.c"
compile tls_exports.o "$src/tls_exports.S"
link tls.elf tls.o tls_exports.o
patch "$out/tls.elf" --or-flags .tdata $tls_flag --or-flags .tbss $tls_flag \
    --set-type .fexports $exports_type --set-type .dexports $exports_type

# funcexports.elf: three function exports and no data export table.
compile funcexports.o "$src/funcexports.c"
compile funcexports_exports.o "$src/funcexports_exports.S"
link funcexports.elf funcexports.o funcexports_exports.o
patch "$out/funcexports.elf" --set-type .fexports $exports_type

# dataexports.elf: three data exports (.data, .rodata, .bss) and no function
# export table.
compile dataexports.o "$src/dataexports.c"
compile dataexports_exports.o "$src/dataexports_exports.S"
link dataexports.elf dataexports.o dataexports_exports.o
patch "$out/dataexports.elf" --set-type .dexports $exports_type

# vkx.elf: EABI small data, so _SDA_BASE_ lands above 0x8000.
compile vkx.o "$src/vkx.c" -meabi -msdata=eabi -G 8
link vkx.elf vkx.o

# big.elf: a few hundred KiB of generated tables and functions.
python3 "$here/gen_big.py" "$work/big_data.c"
compile big.o "$src/big.c"
compile big_data.o "$work/big_data.c"
link big.elf big.o big_data.o

# codeonly.elf: code and .bss only.
compile codeonly.o "$src/codeonly.c"
link codeonly.elf codeonly.o

# endmarker.elf: tables walked up to markers behind them, an empty array in
# its own empty section and a label in another empty section.
compile endmarker.o "$src/endmarker.c"
compile endmarker_label.o "$src/endmarker_label.S"
link endmarker.elf endmarker.o endmarker_label.o

# suffixnames.elf: imports whose names the linker stores inside the longer
# names of the module's own functions (init in game_init).
compile suffixnames.o "$src/suffixnames.c"
compile suffixnames_imports.o "$src/suffixnames_imports.S"
link suffixnames.elf suffixnames.o suffixnames_imports.o
patch "$out/suffixnames.elf" --set-type .fimport_engine.vkm $imports_type

# Every module must show the properties the tests rely on.
python3 "$here/check.py" "$out"
echo "corpus written to $out"
