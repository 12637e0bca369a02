#!/usr/bin/env python3
"""Differential check of the Windows build against the Linux build.

Runs build/windows/zodavov.exe under Wine and build/release/zodavov on the same
inputs (the corpus, the kept fuzzing findings and damaged copies of corpus
modules) under several option sets, in folders whose paths have the same
length on both hosts. The module and library bytes must be identical; the
exit statuses (the Linux one is the low byte of the Windows one) and the
messages must be the same once CR LF, the folder prefix and the path
separators in it are made alike.

    tools/windows-diff.py [--quick] [--keep]

Needs both builds (tools/build-windows.sh and a Release build in
build/release) and Wine. Exits 1 and lists every difference when there is one.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EPOCH = "1700000000"

OPTION_SETS = [
    [],
    ["-v"],
    ["-old"],
    ["-old", "-s", "-zx"],
    ["-f", "-z9", "-nolib"],
    ["-v2", "-t", "GAME_ID=17", "-padall", "10"],
    ["-sizedata", "4096", "-sizetext", "4096", "-sizeload", "4096", "-sizetemp", "4096", "-sizefileinfo", "512"],
    ["-d", "-checknosda", "-stack", "131072", "-h", "100", "-warnemptyrela", "-l", "lib.a"],
]


def damaged_copies(data, count, seed):
    """Deterministic damaged variants: bytes overwritten in the headers and
    tables, and cut-off files."""
    rnd = random.Random(seed)
    out = []
    for i in range(count):
        b = bytearray(data)
        if i % 4 == 3:
            b = b[: rnd.randrange(261, len(b))]
        else:
            for _ in range(1 + i % 3):
                at = rnd.randrange(0, min(len(b), 4096)) if i % 2 else rnd.randrange(0, len(b))
                b[at] = rnd.randrange(256)
        out.append(bytes(b))
    return out


def inputs(quick):
    cases = []
    corpus = os.path.join(ROOT, "tests", "corpus")
    for name in sorted(os.listdir(corpus)):
        if not name.endswith(".elf"):
            continue
        data = open(os.path.join(corpus, name), "rb").read()
        cases.append((name, data))
        for i, d in enumerate(damaged_copies(data, 2 if quick else 8, name)):
            cases.append((f"{name}~{i}", d))
    regressions = os.path.join(ROOT, "fuzz", "regressions", "convert")
    for name in sorted(os.listdir(regressions)):
        cases.append((f"regression/{name}", open(os.path.join(regressions, name), "rb").read()))
    return cases


def win_path(unix):
    return "Z:" + unix.replace("/", "\\")


def run(cmd, cwd, env):
    # Output through a file, not a pipe: Wine's helper processes would inherit
    # the pipe and keep it open after the program has ended.
    with tempfile.TemporaryFile() as out:
        p = subprocess.run(cmd, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                           timeout=120)
        out.seek(0)
        return p.returncode, out.read()


def normalise(text, win_prefix, lin_prefix, exe_names):
    text = text.replace(b"\r\n", b"\n")
    # The banner names the time each build was made.
    text = re.sub(rb"\(VKM v([0-9.]+) [A-Z][a-z]{2} [ 0-9]{2} [0-9]{4} [0-9:]{8}\)", rb"(VKM v\1 <build date>)", text)
    for exe in exe_names:
        text = text.replace(exe.encode(), b"zodavov")
    # This message shows where the table lies in memory, which no two runs share.
    text = re.sub(rb"(can't get its data )0x[0-9A-F]{8}", rb"\1<address>", text)
    # A Windows path in the run's folder: its prefix and separators in Linux form.
    pattern = re.escape(win_prefix.encode()) + rb"[^\s\"]*"
    text = re.sub(pattern, lambda m: m.group(0).replace(win_prefix.encode(), lin_prefix.encode()).replace(b"\\", b"/"),
                  text)
    return text


def outputs(folder):
    found = {}
    for name in sorted(os.listdir(folder)):
        if name != "in.elf" and not name.startswith("in.elf"):
            found[name] = open(os.path.join(folder, name), "rb").read()
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quick", action="store_true", help="fewer damaged inputs")
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    args = ap.parse_args()
    lin_exe = os.environ.get("ZV_LINUX_BINARY", os.path.join(ROOT, "build", "release", "zodavov"))
    win_exe = os.environ.get("ZV_WINDOWS_BINARY", os.path.join(ROOT, "build", "windows", "zodavov.exe"))
    for exe in (lin_exe, win_exe):
        if not os.path.exists(exe):
            sys.exit(f"missing {exe}: build it first")
    work = tempfile.mkdtemp(prefix="zvdiff.", dir="/tmp")
    # /tmp/zvdiff.XXXXXXXX/lin and Z:\tmp\zvdiff.XXXXXXXX\w have the same length.
    lin_dir, win_dir = os.path.join(work, "lin"), os.path.join(work, "w")
    assert len(lin_dir) == len(win_path(win_dir))
    env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH, LANG="C.UTF-8", WINEDEBUG="-all")
    env.setdefault("WINEPREFIX", os.path.join(ROOT, "build", "windows", "wineprefix"))
    env.pop("GHS_ROOT", None)
    server = subprocess.Popen(["wineserver", "-p"], env=env)
    server.wait()
    differences = runs = 0
    try:
        for top in (lin_dir, win_dir):
            tags = os.path.join(top, "sdk", "system", "include")
            os.makedirs(tags)
            with open(os.path.join(tags, "vkm_tags.txt"), "w") as f:
                f.write("SDK_LEVEL=3\r\nREGION=eu\n")

        def run_both(data, options):
            results = []
            for top, exe, windows in ((lin_dir, lin_exe, False), (win_dir, win_exe, True)):
                folder = os.path.join(top, "r")
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
                with open(os.path.join(folder, "in.elf"), "wb") as f:
                    f.write(data)
                sdk = os.path.join(top, "sdk")
                root = win_path(folder) if windows else folder
                run_env = dict(env, EDBA_ROOT=win_path(sdk) if windows else sdk)
                cmd = ([ "wine", exe] if windows else [exe]) + options + ["-dbg_source_root", root, "in.elf"]
                status, out = run(cmd, folder, run_env)
                # Wine itself losing its server under load is not the
                # program's doing: that run is made again (twice at most).
                for _ in range(2):
                    if not (windows and b"wine client error" in out):
                        break
                    for entry in os.listdir(folder):
                        if entry != "in.elf":
                            os.remove(os.path.join(folder, entry))
                    status, out = run(cmd, folder, run_env)
                out = normalise(out, win_path(win_dir), lin_dir, [win_path(win_exe), lin_exe]) if windows else \
                    normalise(out, lin_dir, lin_dir, [lin_exe])
                results.append((status, out, outputs(folder)))
            return results

        def compare(results):
            (ls, lo, lf), (ws, wo, wf) = results
            problems = []
            if ls != (ws & 0xFF):
                problems.append(f"exit status: linux {ls}, windows 0x{ws & 0xFFFFFFFF:08X}")
            if lo != wo:
                problems.append("messages differ:\n--- linux\n" + lo.decode(errors="replace") + "--- windows\n" +
                                wo.decode(errors="replace"))
            if sorted(lf) != sorted(wf):
                problems.append(f"files: linux {sorted(lf)}, windows {sorted(wf)}")
            for f in sorted(set(lf) & set(wf)):
                if lf[f] != wf[f]:
                    problems.append(f"{f} differs")
            return problems

        for name, data in inputs(args.quick):
            for options in OPTION_SETS:
                runs += 1
                problems = compare(run_both(data, options))
                if problems:
                    # A run Wine lost on its own (seen once in many hundred:
                    # exit status 1, the same messages, no file) is made again
                    # once; a difference the program makes shows again.
                    again = compare(run_both(data, options))
                    if not again:
                        print(f"== {name} {' '.join(options)}: differed once, agreed when run again")
                        continue
                    problems = again
                if problems:
                    differences += 1
                    print(f"== {name} {' '.join(options)}")
                    for p in problems:
                        print("   " + p)
    finally:
        subprocess.run(["wineserver", "-k"], env=env)
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print(f"{runs} runs, {differences} with differences")
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
