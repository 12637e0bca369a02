#!/usr/bin/env python3
"""Builds a large, realistic input module for the benchmark with the real
PowerPC cross toolchain: many C translation units of generated game-like code
(arithmetic over global tables, calls between nearby functions, switches that
become jump tables, calls into an imported module), read-only tables of text,
numbers, and pointers to functions and strings, writable records holding
pointers, export tables for functions and data, import sections for another
module, and a few incompressible blobs. Linked with `ld -q`, so the code and
data keep their relocations as they do in a studio's build.

The bytes depend only on the size and the fixed seed. The size is the
approximate size of the linked file in MiB (8, 32, 64, ...): about 46 % code,
20 % code relocations, 15 % read-only data and the rest data, symbols and
data relocations, in the proportions of a large game module.

Usage: gen_module.py SIZE_MIB OUTPUT.elf [--jobs N]
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
LINKER_SCRIPT = os.path.join(ROOT, "tools", "corpus", "module.ld")
ELFPATCH = os.path.join(ROOT, "tools", "corpus", "elfpatch.py")
CROSS = os.environ.get("CROSS_PREFIX", "powerpc-linux-gnu-")
CFLAGS = ["-O2", "-fno-pic", "-fno-PIC", "-mno-sdata", "-msdata=none", "-ffreestanding", "-nostdlib",
          "-fno-common", "-fno-asynchronous-unwind-tables", "-fno-unwind-tables", "-fno-stack-protector",
          "-fno-ident", "-fno-inline", "-w"]

# Units of generated code; calls stay within a few units of the caller so
# every branch reaches its target whatever the module's size.
FUNCS_PER_UNIT = 400
CALL_WINDOW = 3
IMPORTED_FUNCS = 48
IMPORTED_OBJECTS = 8
EXPORTED_FUNCS = 256
EXPORTED_OBJECTS = 64

WORDS = ("actor anim audio bone camera cull decal entity fade frame grid hud input joint "
         "level light mesh node path physics player queue ray render scene script shader "
         "shadow sound sprite state stream texture tile timer track vector voice weapon world "
         "zone alpha blend clip depth flag layer mask mode pass rate scale slot span stage").split()

# Bytes of linked file one unit gives (code, tables, relocations, symbols),
# measured with gcc 12 -O2; the unit count follows from it.
FILE_BYTES_PER_UNIT = 120000


def fn_name(unit, k):
    return "u%d_f%d" % (unit, k)


def expr(rng, depth, vars_):
    if depth == 0 or rng.random() < 0.3:
        if rng.random() < 0.6:
            return rng.choice(vars_)
        return str(rng.randrange(1, 5000))
    op = rng.choice(["+", "-", "*", "^", "|", "&", ">>", "<<"])
    a, b = expr(rng, depth - 1, vars_), expr(rng, depth - 1, vars_)
    if op in (">>", "<<"):
        b = str(rng.randrange(1, 13))
    return "(%s %s %s)" % (a, op, b)


def gen_function(rng, unit, k, units, imports):
    vars_ = ["a", "b", "x", "y"]
    lines = ["int %s(int a, int b)" % fn_name(unit, k), "{"]
    lines.append("    int x = %s + u%d_tab[(a + %d) & 255];" % (expr(rng, 2, ["a", "b"]), unit, rng.randrange(256)))
    lines.append("    int y = u%d_state[(b ^ %d) & 63] - %d;" % (unit, rng.randrange(64), rng.randrange(1000)))
    for _ in range(rng.randrange(1, 4)):
        kind = rng.random()
        if kind < 0.35:
            u = max(0, min(units - 1, unit + rng.randrange(-CALL_WINDOW, CALL_WINDOW + 1)))
            lines.append("    x += %s(%s, %s);" % (fn_name(u, rng.randrange(FUNCS_PER_UNIT)),
                                                  expr(rng, 1, vars_), expr(rng, 1, vars_)))
        elif kind < 0.45 and imports:
            lines.append("    x ^= gfx_f%d(%s, y);" % (rng.randrange(IMPORTED_FUNCS), expr(rng, 1, vars_)))
            lines.append("    y += gfx_v%d[x & 15];" % rng.randrange(IMPORTED_OBJECTS))
        elif kind < 0.6:
            cases = ["        case %d: y = %s; break;" % (c, expr(rng, 2, vars_)) for c in range(rng.randrange(5, 9))]
            lines.append("    switch (x & 15) {")
            lines += cases
            lines.append("        default: y ^= %d;" % rng.randrange(99999))
            lines.append("    }")
        elif kind < 0.75:
            lines.append("    for (int i = 0; i < (b & 7); ++i) y += u%d_tab[(x + i * %d) & 255] ^ i;"
                         % (unit, rng.randrange(1, 40)))
        elif kind < 0.88:
            lines.append("    u%d_state[(x >> %d) & 63] += %s;" % (unit, rng.randrange(1, 9), expr(rng, 2, vars_)))
        else:
            lines.append("    if (%s > %d) y = (int)u%d_names[(a + %d) & 31][%d];"
                         % (expr(rng, 1, vars_), rng.randrange(4000), unit, rng.randrange(32), rng.randrange(4)))
    lines.append("    return %s;" % expr(rng, 2, vars_))
    lines.append("}")
    return lines


def gen_unit(seed, unit, units, imports):
    rng = random.Random(seed * 1000003 + unit)
    out = ["/* unit %d of a generated module */" % unit]
    for i in range(IMPORTED_FUNCS):
        out.append("extern int gfx_f%d(int, int);" % i)
    for i in range(IMPORTED_OBJECTS):
        out.append("extern int gfx_v%d[16];" % i)
    for u in range(max(0, unit - CALL_WINDOW), min(units, unit + CALL_WINDOW + 1)):
        out.append("extern int %s;" % ", ".join("%s(int, int)" % fn_name(u, k) for k in range(FUNCS_PER_UNIT)))
    # Read-only tables: numbers with a trend and noise, names, pointers.
    out.append("const int u%d_tab[256] = {%s};" % (unit, ", ".join(
        str((i * 37 + rng.randrange(64)) & 0xFFFF) for i in range(256))))
    names = ['"%s_%s_%d"' % (rng.choice(WORDS), rng.choice(WORDS), rng.randrange(100)) for _ in range(32)]
    out.append("const char *const u%d_names[32] = {%s};" % (unit, ", ".join(names)))
    text = " ".join(rng.choice(WORDS) for _ in range(2000))
    out.append('const char u%d_text[] = "%s";' % (unit, text))
    out.append("int (*const u%d_calls[%d])(int, int) = {%s};" % (unit, FUNCS_PER_UNIT, ", ".join(
        fn_name(unit, k) for k in range(FUNCS_PER_UNIT))))
    # Writable state and records that point into code and read-only data.
    out.append("int u%d_state[64] = {%s};" % (unit, ", ".join(str(rng.randrange(1000)) for _ in range(64))))
    out.append("struct u%d_rec { int id; int (*fn)(int, int); const char *name; const int *row; };" % unit)
    out.append("struct u%d_rec u%d_recs[128] = {%s};" % (unit, unit, ", ".join(
        "{%d, %s, %s, &u%d_tab[%d]}" % (i, fn_name(unit, rng.randrange(FUNCS_PER_UNIT)), names[i % 32],
                                        unit, rng.randrange(256)) for i in range(128))))
    for k in range(FUNCS_PER_UNIT):
        out += gen_function(rng, unit, k, units, imports)
    return "\n".join(out) + "\n"


def export_table(section, flags, entries, label):
    names = [name for name, _ in entries]
    signature = zlib.crc32(b"".join(n.encode() + b"\0" for n in names) + bytes(14))
    out = ['        .section %s,"%s",@0x80000001' % (section, flags), "        .balign 4", "%s:" % label,
           "        .long %d" % len(entries), "        .long 0x%08x" % signature]
    for i, (name, target) in enumerate(entries):
        out.append("        .long %s" % target)
        out.append("        .long %s_n%d - %s" % (label, i, label))
    for i, name in enumerate(names):
        out.append("%s_n%d:" % (label, i))
        out.append('        .asciz "%s"' % name)
    return out


def import_section(section, flags, module, symbols, kind):
    count = len(symbols)
    size = max(8 + 8 * count, len(module) + 9)
    out = ['        .section %s,"%s",@0x80000002' % (section, flags), "        .balign 4", "%s_start:" % kind,
           "        .long 0, 0", '        .asciz "%s"' % module,
           "        .space %d" % (size - 8 - len(module) - 1)]
    for i, s in enumerate(symbols):
        out += ["        .globl %s" % s, "        .type %s, @%s" % (s, "function" if kind == "fi" else "object"),
                "        .set %s, %s_start + %d" % (s, kind, 8 + 8 * i)]
    return out


def gen_tables(seed, units, blob_dir):
    rng = random.Random(seed)
    out = ["/* export and import tables and incompressible blobs of a generated module */"]
    fx = [(fn_name(u, k), fn_name(u, k)) for u, k in
          sorted({(rng.randrange(units), rng.randrange(FUNCS_PER_UNIT)) for _ in range(EXPORTED_FUNCS)})]
    dx = [("u%d_state" % u, "u%d_state" % u) for u in sorted({rng.randrange(units) for _ in range(EXPORTED_OBJECTS)})]
    out += export_table(".fexports", "ax", fx, ".Lfx")
    out += export_table(".dexports", "a", dx, ".Ldx")
    out += import_section(".fimport_gfx.vkm", "ax", "gfx.vkm", ["gfx_f%d" % i for i in range(IMPORTED_FUNCS)], "fi")
    out += import_section(".dimport_gfx.vkm", "aw", "gfx.vkm", ["gfx_v%d" % i for i in range(IMPORTED_OBJECTS)],
                          "di")
    # A few blobs of random bytes (packed assets), about 3 % of the module.
    out.append('        .section .rodata.blobs,"a",@progbits')
    blob_bytes = units * 1400
    for i in range(4):
        path = os.path.join(blob_dir, "blob%d.bin" % i)
        with open(path, "wb") as f:
            f.write(rng.randbytes(blob_bytes // 4))
        out += ["        .balign 16", "        .globl asset_blob%d" % i, "asset_blob%d:" % i,
                '        .incbin "%s"' % path, "        .size asset_blob%d, . - asset_blob%d" % (i, i)]
    out.append('        .section .note.GNU-stack,"",@progbits')
    return "\n".join(out) + "\n"


START = """/* entry point of a generated module */
extern int u0_f0(int, int);
void _start(void) { u0_f0(1, 2); }
"""


def run_jobs(commands, jobs):
    running = []
    for cmd in commands:
        while len(running) >= jobs:
            p = running.pop(0)
            if p.wait() != 0:
                sys.exit("gen_module: %s failed" % " ".join(p.args))
        running.append(subprocess.Popen(cmd))
    for p in running:
        if p.wait() != 0:
            sys.exit("gen_module: %s failed" % " ".join(p.args))


def main():
    args = sys.argv[1:]
    jobs = 2
    if "--jobs" in args:
        i = args.index("--jobs")
        jobs = int(args[i + 1])
        del args[i:i + 2]
    if len(args) != 2:
        sys.exit("usage: gen_module.py SIZE_MIB OUTPUT.elf [--jobs N]")
    size_mib, output = float(args[0]), args[1]
    for tool in (CROSS + "gcc", CROSS + "ld"):
        if not shutil.which(tool):
            sys.exit("gen_module: %s not found (apt-get install gcc-powerpc-linux-gnu binutils-powerpc-linux-gnu)"
                     % tool)
    units = max(2, int(round(size_mib * 1048576 / FILE_BYTES_PER_UNIT)))
    seed = 0x5EED0000 + int(size_mib * 16)
    work = tempfile.mkdtemp(prefix="zv-bench-")
    try:
        sources = []
        for u in range(units):
            path = os.path.join(work, "u%d.c" % u)
            # Only the units near the end of the code call the imported module,
            # whose section the linker places right behind the code.
            with open(path, "w") as f:
                f.write(gen_unit(seed, u, units, imports=u >= units - 8))
            sources.append(path)
        start = os.path.join(work, "start.c")
        with open(start, "w") as f:
            f.write(START)
        sources.append(start)
        tables = os.path.join(work, "tables.S")
        with open(tables, "w") as f:
            f.write(gen_tables(seed, units, work))
        sources.append(tables)
        objects = [s.rsplit(".", 1)[0] + ".o" for s in sources]
        run_jobs([[CROSS + "gcc"] + CFLAGS + ["-c", s, "-o", o] for s, o in zip(sources, objects)], jobs)
        subprocess.check_call([CROSS + "ld", "-q", "-n", "-T", LINKER_SCRIPT, "-o", output] + objects)
        subprocess.check_call([sys.executable, ELFPATCH, output, "--set-type", ".fexports", "0x80000001",
                               "--set-type", ".dexports", "0x80000001", "--set-type", ".fimport_gfx.vkm",
                               "0x80000002", "--set-type", ".dimport_gfx.vkm", "0x80000002"])
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
