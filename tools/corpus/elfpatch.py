#!/usr/bin/env python3
"""Edits section headers of a linked ELF32 file in place, for the platform
details the GNU linker cannot express: ORing a flag such as the thread-local
flag 0x04000000 into a section's sh_flags, and setting a section's sh_type
(for example 0x80000001 for an export table).

Usage:
    elfpatch.py FILE [--or-flags SECTION VALUE]... [--set-type SECTION VALUE]...

VALUE is any Python integer literal (0x04000000, 2147483649, ...). Each named
section must exist; the file is left untouched when any edit fails. Both byte
orders are understood; the modules of this corpus are big-endian.
"""

import struct
import sys

SHDR_SIZE = 40
SH_TYPE = 4
SH_FLAGS = 8


def fail(message):
    sys.exit("elfpatch: " + message)


def parse_args(argv):
    if len(argv) < 2:
        fail("usage: elfpatch.py FILE [--or-flags SECTION VALUE]... "
             "[--set-type SECTION VALUE]...")
    path, edits, i = argv[1], [], 2
    while i < len(argv):
        op = argv[i]
        if op not in ("--or-flags", "--set-type"):
            fail("unknown edit '%s'" % op)
        if i + 2 >= len(argv):
            fail("edit '%s' needs a section name and a value" % op)
        try:
            value = int(argv[i + 2], 0)
        except ValueError:
            fail("bad value '%s'" % argv[i + 2])
        if not 0 <= value <= 0xFFFFFFFF:
            fail("value '%s' does not fit in 32 bits" % argv[i + 2])
        edits.append((op, argv[i + 1], value))
        i += 3
    return path, edits


def section_table(data):
    if len(data) < 52 or data[:4] != b"\x7fELF" or data[4] != 1:
        fail("not an ELF32 file")
    order = "<" if data[5] == 1 else ">"
    shoff, = struct.unpack_from(order + "I", data, 32)
    shentsize, shnum, shstrndx = struct.unpack_from(order + "HHH", data, 46)
    if shentsize != SHDR_SIZE or shoff + shnum * SHDR_SIZE > len(data):
        fail("section header table does not fit the file")
    if shstrndx >= shnum:
        fail("no section-name table")
    return order, shoff, shnum, shstrndx


def section_names(data, order, shoff, shnum, shstrndx):
    base = shoff + shstrndx * SHDR_SIZE
    str_off, str_size = struct.unpack_from(order + "II", data, base + 16)
    if str_off + str_size > len(data):
        fail("section-name table runs past the end of the file")
    table = bytes(data[str_off:str_off + str_size])
    names = {}
    for index in range(1, shnum):
        name_off, = struct.unpack_from(order + "I", data, shoff + index * SHDR_SIZE)
        end = table.find(b"\0", name_off)
        if name_off < str_size and end >= 0:
            names.setdefault(table[name_off:end].decode("latin-1"), index)
    return names


def main(argv):
    path, edits = parse_args(argv)
    with open(path, "rb") as f:
        data = bytearray(f.read())
    order, shoff, shnum, shstrndx = section_table(data)
    names = section_names(data, order, shoff, shnum, shstrndx)
    for op, name, value in edits:
        if name not in names:
            fail("%s: no section named '%s'" % (path, name))
        header = shoff + names[name] * SHDR_SIZE
        if op == "--or-flags":
            flags, = struct.unpack_from(order + "I", data, header + SH_FLAGS)
            struct.pack_into(order + "I", data, header + SH_FLAGS, flags | value)
        else:
            struct.pack_into(order + "I", data, header + SH_TYPE, value)
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv)
