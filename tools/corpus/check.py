#!/usr/bin/env python3
"""Checks the built corpus modules for the properties the tests rely on:
big-endian ELF32 PowerPC executables whose section contents do not overlap
and whose data and function symbols lie inside their sections; code, data
and export tables in their address ranges; relocation sections that stay in
the file; export tables whose counts, name offsets, thread-local bits and
relocations agree and whose signature words are the CRC-32 an importer's
import section gets; import sections laid out as an import library gives them;
thread-local sections that carry the platform flag and match the PT_TLS
header; and a small-data base only where the module uses small data.

Usage: check.py DIR   (prints one line per module, exits 1 on any fault)
"""

import os
import struct
import sys
import zlib

SHT_PROGBITS, SHT_SYMTAB, SHT_RELA, SHT_NOBITS = 1, 2, 4, 8
SHT_EXPORTS, SHT_IMPORTS = 0x80000001, 0x80000002
SHF_WRITE, SHF_ALLOC, SHF_EXEC, SHF_PLATFORM_TLS = 0x1, 0x2, 0x4, 0x04000000
PT_TLS = 7
R_PPC_ADDR32, R_PPC_REL24, R_PPC_DTPREL32 = 1, 10, 78
STT_OBJECT, STT_FUNC, STT_TLS = 1, 2, 6

# What each module must contain beyond the common rules.
EXPECTED = {
    "basic.elf": {"sections": [".text", ".rodata", ".data", ".bss", ".fexports", ".dexports"],
                  "exports": {".fexports": 2, ".dexports": 1}, "vkx": False},
    "imports.elf": {"sections": [".text", ".fimport_other.vkm", ".dimport_other.vkm"],
                    "imports": {".fimport_other.vkm": 2, ".dimport_other.vkm": 1},
                    "rel24_to_imports": 4, "vkx": False},
    "tls.elf": {"sections": [".text", ".tdata", ".tbss", ".fexports", ".dexports"],
                "exports": {".fexports": 1, ".dexports": 2}, "tls": True, "vkx": False},
    "vkx.elf": {"sections": [".text", ".data", ".sdata", ".sbss"], "vkx": True},
    "big.elf": {"sections": [".text", ".rodata", ".data", ".bss"], "min_size": 256 * 1024,
                "vkx": False},
    "codeonly.elf": {"sections": [".text", ".bss"], "no_contents": [".rodata", ".data"],
                     "vkx": False},
    "funcexports.elf": {"sections": [".text", ".fexports"], "absent": [".dexports"],
                        "exports": {".fexports": 3}, "vkx": False},
    "endmarker.elf": {"sections": [".text", ".data", ".table"], "empty": [".table_end", ".data_end"],
                      "vkx": False},
    "suffixnames.elf": {"sections": [".text", ".fimport_engine.vkm"],
                        "imports": {".fimport_engine.vkm": 2}, "rel24_to_imports": 4,
                        "vkx": False},
    "dataexports.elf": {"sections": [".text", ".data", ".rodata", ".bss", ".dexports",
                                     ".rela.dexports"],
                        "absent": [".fexports"], "exports": {".dexports": 3}, "vkx": False},
}


class Module:
    """A parsed big-endian ELF32 file: header fields, sections, symbols."""

    def __init__(self, path):
        self.data = open(path, "rb").read()
        d = self.data
        if d[:4] != b"\x7fELF" or d[4] != 1 or d[5] != 2:
            raise ValueError("not a big-endian ELF32 file")
        (self.type, self.machine, _, _, phoff, shoff, _, _, phentsize, phnum,
         shentsize, shnum, shstrndx) = struct.unpack_from(">HHIIIIIHHHHHH", d, 16)
        self.sections = [dict(zip(
            ("name", "type", "flags", "addr", "offset", "size", "link", "info", "align", "entsize"),
            struct.unpack_from(">10I", d, shoff + i * shentsize))) for i in range(shnum)]
        names = self.sections[shstrndx]
        for s in self.sections:
            s["name"] = self.cstr(names["offset"] + s["name"])
        self.phdrs = [dict(zip(
            ("type", "offset", "vaddr", "paddr", "filesz", "memsz", "flags", "align"),
            struct.unpack_from(">8I", d, phoff + i * phentsize))) for i in range(phnum)]
        self.symbols = []
        for s in self.sections:
            if s["type"] == SHT_SYMTAB:
                strtab = self.sections[s["link"]]
                for k in range(s["size"] // 16):
                    name, value, size, info, _, shndx = struct.unpack_from(
                        ">IIIBBH", d, s["offset"] + 16 * k)
                    self.symbols.append({"name": self.cstr(strtab["offset"] + name),
                                         "value": value, "size": size,
                                         "type": info & 0xF, "shndx": shndx})

    def cstr(self, offset):
        end = self.data.index(b"\0", offset)
        return self.data[offset:end].decode("latin-1")

    def section(self, name):
        for i, s in enumerate(self.sections):
            if s["name"] == name:
                return i, s
        return None, None

    def word(self, section, offset):
        return struct.unpack_from(">I", self.data, section["offset"] + offset)[0]

    def relocations_for(self, index):
        out = []
        for s in self.sections:
            if s["type"] == SHT_RELA and s["info"] == index:
                for k in range(s["size"] // 12):
                    off, info, addend = struct.unpack_from(">IIi", self.data, s["offset"] + 12 * k)
                    out.append({"offset": off, "type": info & 0xFF,
                                "symbol": self.symbols[info >> 8], "addend": addend})
        return out


def check_ranges(m, faults):
    for s in m.sections[1:]:
        if not s["flags"] & SHF_ALLOC or s["type"] == SHT_IMPORTS:
            continue
        a = s["addr"]
        if s["type"] == SHT_EXPORTS:
            ok = a >= 0xC0000000 and not s["flags"] & SHF_WRITE
        elif s["flags"] & SHF_EXEC:
            ok = 0x02000000 <= a <= 0x0FFFFFFF
        else:
            ok = 0x10000000 <= a <= 0xBFFFFFFF
        if not ok:
            faults.append("%s at 0x%08x is outside its range" % (s["name"], a))


def check_file_layout(m, faults):
    """Section contents lie inside the file without overlapping, and every
    data or function symbol lies inside the allocated section it names."""
    spans = sorted((s["offset"], s["offset"] + s["size"], s["name"]) for s in m.sections[1:]
                   if s["size"] and s["type"] != SHT_NOBITS)
    for (_, end, name), (start, _, other) in zip(spans, spans[1:]):
        if start < end:
            faults.append("%s overlaps %s in the file" % (name, other))
    if spans and spans[-1][1] > len(m.data):
        faults.append("%s runs past the end of the file" % spans[-1][2])
    for sym in m.symbols:
        if sym["type"] not in (STT_OBJECT, STT_FUNC) or not 0 < sym["shndx"] < len(m.sections):
            continue
        s = m.sections[sym["shndx"]]
        if s["size"] and s["flags"] & SHF_ALLOC and \
                sym["value"] - s["addr"] + sym["size"] > s["size"]:
            faults.append("symbol %s lies outside %s" % (sym["name"], s["name"]))


def import_signature(names):
    """The signature word of an export table: the CRC-32 (zlib) of the names in
    entry order, each with its terminating zero, followed by 14 zero bytes. The
    converter computes the same value over an importer's import section, and
    the loader compares the two."""
    data = b"".join(n.encode("latin-1") + b"\0" for n in names) + bytes(14)
    return zlib.crc32(data) & 0xFFFFFFFF


def check_exports(m, name, count, faults):
    index, s = m.section(name)
    if s is None or s["type"] != SHT_EXPORTS:
        return faults.append("%s missing or not of the export type" % name)
    if bool(s["flags"] & SHF_EXEC) != (name == ".fexports"):
        faults.append("%s has the wrong executable flag" % name)
    if m.word(s, 0) != count:
        faults.append("%s counts %d entries, want %d" % (name, m.word(s, 0), count))
    names = [m.cstr(s["offset"] + (m.word(s, 12 + 8 * k) & 0x7FFFFFFF)) for k in range(count)]
    if m.word(s, 4) != import_signature(names):
        faults.append("%s signature 0x%08x, want 0x%08x"
                      % (name, m.word(s, 4), import_signature(names)))
    relocs = m.relocations_for(index)
    if len(relocs) != count:
        return faults.append("%s has %d relocations, want %d" % (name, len(relocs), count))
    for k, r in enumerate(relocs):
        name_word = m.word(s, 12 + 8 * k)
        offset, tls = name_word & 0x7FFFFFFF, bool(name_word >> 31)
        if r["offset"] - s["addr"] != 8 + 8 * k or offset >= s["size"]:
            faults.append("%s entry %d is misplaced" % (name, k))
            continue
        entry_name = m.cstr(s["offset"] + offset)
        if entry_name != r["symbol"]["name"]:
            faults.append("%s entry %d names %s but points at %s"
                          % (name, k, entry_name, r["symbol"]["name"]))
        want_tls = r["symbol"]["type"] == STT_TLS
        if tls != want_tls or (r["type"] == R_PPC_DTPREL32) != want_tls:
            faults.append("%s entry %d has a wrong thread-local marking" % (name, k))
        if not want_tls and r["type"] != R_PPC_ADDR32:
            faults.append("%s entry %d relocation type %d" % (name, k, r["type"]))


def check_imports(m, name, count, faults):
    index, s = m.section(name)
    if s is None or s["type"] != SHT_IMPORTS:
        return faults.append("%s missing or not of the import type" % name)
    module = m.cstr(s["offset"] + 8)
    if "_" + module != name[len(".fimport"):]:
        faults.append("%s carries the module name %s" % (name, module))
    if s["size"] != max(8 * count + 8, len(module) + 9):
        faults.append("%s has size %d" % (name, s["size"]))
    slots = sorted(sym["value"] - s["addr"] for sym in m.symbols
                   if sym["shndx"] == index and sym["type"] != 3)
    if slots != [8 + 8 * k for k in range(count)]:
        faults.append("%s slots at %s" % (name, slots))


def check_tls(m, faults):
    tls = [s for s in m.sections if s["flags"] & SHF_PLATFORM_TLS and s["size"]]
    headers = [p for p in m.phdrs if p["type"] == PT_TLS]
    if not tls or not headers:
        return faults.append("no thread-local sections or no PT_TLS header")
    lo = min(s["addr"] for s in tls)
    hi = max(s["addr"] + s["size"] for s in tls)
    align = max(s["align"] for s in tls)
    p = headers[0]
    if (p["vaddr"], p["memsz"], p["align"]) != (lo, hi - lo, align):
        faults.append("PT_TLS does not match the thread-local sections")


def check_module(path, want):
    m = Module(path)
    faults = []
    if m.type != 2 or m.machine != 20:
        faults.append("not a PowerPC executable")
    names = [s["name"] for s in m.sections]
    for n in want["sections"]:
        if n not in names or m.section(n)[1]["size"] == 0:
            faults.append("section %s missing or empty" % n)
    for n in want.get("absent", []):
        if n in names:
            faults.append("section %s should be absent" % n)
    for n in want.get("empty", []):
        if n not in names or m.section(n)[1]["size"] != 0:
            faults.append("section %s should be there, empty" % n)
    for n in want.get("no_contents", []):
        s = m.section(n)[1]
        if s is not None and s["size"] != 0:
            faults.append("section %s should have no contents" % n)
    if not any(s["type"] == SHT_RELA and m.sections[s["info"]]["type"] == SHT_PROGBITS
               and m.sections[s["info"]]["flags"] & SHF_ALLOC for s in m.sections):
        faults.append("no relocation section for an allocated PROGBITS section")
    check_ranges(m, faults)
    check_file_layout(m, faults)
    for n, count in want.get("exports", {}).items():
        check_exports(m, n, count, faults)
    for n, count in want.get("imports", {}).items():
        check_imports(m, n, count, faults)
    if "rel24_to_imports" in want:
        text = m.section(".text")[0]
        calls = [r for r in m.relocations_for(text) if r["type"] == R_PPC_REL24
                 and m.sections[r["symbol"]["shndx"]]["type"] == SHT_IMPORTS]
        if len(calls) != want["rel24_to_imports"]:
            faults.append("%d calls into import sections" % len(calls))
    if want.get("tls"):
        check_tls(m, faults)
    sda = [s["value"] for s in m.symbols if s["name"] == "_SDA_BASE_"]
    if want["vkx"] != bool(sda and sda[-1] > 0x8000):
        faults.append("small-data base %s" % sda)
    if len(m.data) < want.get("min_size", 0):
        faults.append("only %d bytes" % len(m.data))
    return faults


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check.py DIR")
    failed = False
    for module, want in EXPECTED.items():
        faults = check_module(os.path.join(sys.argv[1], module), want)
        print("%-16s %s" % (module, "ok" if not faults else "; ".join(faults)))
        failed = failed or bool(faults)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
