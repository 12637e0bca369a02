#!/usr/bin/env python3
"""Checks vkmdump's JSON output against the schema in docs/vkmdump-json.md.

    check_json_schema.py FILE COUNT [INDEX...]

FILE holds the output of one run: one document, or an array of them. COUNT
is how many documents it must hold; the INDEXes name the documents whose
"problems" list must be non-empty (all others must have none). Prints
"N documents match schema 1" and exits 0, or names the first mismatch and
exits 1.
"""
import json
import sys

SCHEMA = 1
U32 = (0, 0xFFFFFFFF)
FILEINFO_NUMBERS = [
    "magic", "text_size", "text_align", "data_size", "data_align", "load_size", "load_align", "temp_size",
    "tramp_adj", "sda_base", "sda2_base", "stack_size", "file_name_offset", "flags", "heap_size", "tags_offset",
    "fixed_value", "compression_level", "tramp_addition", "trailer_size", "sdk_version", "sdk_revision",
    "reserved", "tls_align_shift", "file_info_area_size",
]
SECTION_NUMBERS = ["index", "type_value", "flags", "address", "size", "offset", "stored_size", "link", "info",
                   "addralign", "entsize"]
GROUPS = {"DATA", "LOAD", "TEXT", "TEMP"}


def fail(where, what):
    print(f"{where}: {what}")
    sys.exit(1)


def number(where, value, low=U32[0], high=U32[1]):
    # Numbers are JSON numbers, never strings; bool is not a number here.
    if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
        fail(where, f"expected an unsigned 32-bit number, got {value!r}")


def kind(where, value, types):
    if not isinstance(value, types) or (isinstance(value, bool) and bool not in types):
        fail(where, f"expected {types}, got {value!r}")


def check_module(where, doc):
    for key in ("schema", "file", "kind", "byte_order", "fileinfo", "sections", "problems", "regions", "verified"):
        if key not in doc:
            fail(where, f"missing key {key!r}")
    if doc["kind"] not in ("VKM", "VKX"):
        fail(where, f"kind {doc['kind']!r}")
    if doc["byte_order"] not in ("big", "little"):
        fail(where, f"byte_order {doc['byte_order']!r}")
    number(where + ".file_size", doc["file_size"], 0, 2**32)
    fi = doc["fileinfo"]
    if fi is not None:
        for key in FILEINFO_NUMBERS:
            number(f"{where}.fileinfo.{key}", fi[key])
        kind(f"{where}.fileinfo.file_name", fi["file_name"], (str,))
        kind(f"{where}.fileinfo.tags", fi["tags"], (dict,))
        for name, value in fi["tags"].items():
            kind(f"{where}.fileinfo.tags.{name}", value, (str,))
        for key in ("dynamic_only", "vkx", "tls"):
            kind(f"{where}.fileinfo.{key}", fi[key], (bool,))
        if (doc["kind"] == "VKX") != fi["vkx"]:
            fail(where, "kind and fileinfo.vkx disagree")
    kind(where + ".sections", doc["sections"], (list,))
    for i, s in enumerate(doc["sections"]):
        w = f"{where}.sections[{i}]"
        for key in SECTION_NUMBERS:
            number(f"{w}.{key}", s[key])
        if s["index"] != i:
            fail(w, "index out of order")
        kind(w + ".name", s["name"], (str,))
        kind(w + ".type", s["type"], (str,))
        kind(w + ".compressed", s["compressed"], (bool,))
        if s["group"] is not None and s["group"] not in GROUPS:
            fail(w, f"group {s['group']!r}")
        if s["crc"] is not None:
            number(w + ".crc", s["crc"])
        if s["crc_ok"] is not None:
            kind(w + ".crc_ok", s["crc_ok"], (bool,))
            if s["crc"] is None:
                fail(w, "crc_ok without crc")
        if s["compressed"] and s["stored_size"] >= s["size"]:
            fail(w, "a compressed section that did not shrink")
    if [r["group"] for r in doc["regions"]] != ["DATA", "LOAD", "TEXT", "TEMP"]:
        fail(where, "regions out of order")
    for r in doc["regions"]:
        for key in ("sections", "memory_size"):
            number(f"{where}.regions.{r['group']}.{key}", r[key])
        stored = sum(s["stored_size"] for s in doc["sections"] if s["group"] == r["group"])
        if stored != r["stored_bytes"]:
            fail(where, f"region {r['group']} stores {r['stored_bytes']}, its sections {stored}")
    for key in ("imports", "exports", "symbols"):
        if key in doc:
            kind(f"{where}.{key}", doc[key], (list,))


def main():
    path, count = sys.argv[1], int(sys.argv[2])
    damaged = {int(i) for i in sys.argv[3:]}
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    docs = data if isinstance(data, list) else [data]
    if len(docs) != count:
        fail(path, f"{len(docs)} documents, expected {count}")
    for i, doc in enumerate(docs):
        where = f"document {i} ({doc.get('file')})"
        if doc.get("schema") != SCHEMA:
            fail(where, f"schema {doc.get('schema')!r}")
        kind(where + ".file", doc["file"], (str,))
        kind(where + ".problems", doc["problems"], (list,))
        for p in doc["problems"]:
            kind(where + ".problems[]", p, (str,))
        if "error" in doc:
            kind(where + ".error", doc["error"], (str,))
        else:
            check_module(where, doc)
        if bool(doc["problems"]) != (i in damaged):
            fail(where, f"problems {doc['problems']!r}")
    print(f"{len(docs)} documents match schema {SCHEMA}")


if __name__ == "__main__":
    main()
