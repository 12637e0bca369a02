#!/usr/bin/env python3
"""Times the converter against the floors of the same work, in one run.

For each module size (MiB) it builds the module with gen_module.py (kept in
build/bench/ for the next run), then alternates, RUNS times:
  floor-z     zv_floor compress: crc32 + compress2 at the level over exactly
              the sections the converter compresses, one thread
  zodavov T=1 the default conversion with ZODAVOV_THREADS=1
  zodavov     the default conversion, default thread count
  floor-zx    zv_floor copy: map the input, crc32 its sections, write a file
              of the size of the module -zx writes
  zodavov -zx the conversion without compression
and prints, per command, the median and fastest wall time, the median CPU
time (user + system) and the peak resident memory, then the ratios of the
medians and of the fastest runs: T=1 and default against floor-z, -zx
against floor-zx. All runs pass -nolib and write into a scratch folder.

Usage: bench/compare.py [--runs N] [--level L] [--build DIR] SIZE_MIB...
       (default: --runs 7 --level 6 --build build/release, size 32)
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def run(cmd, env):
    """Runs cmd; returns (wall seconds, cpu seconds, peak RSS in MiB)."""
    with tempfile.TemporaryFile() as log:
        start = time.perf_counter()
        proc = subprocess.Popen(cmd, env=env, stdout=log, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            log.seek(0)
            sys.exit("compare: %s failed (%d):\n%s" % (" ".join(cmd), proc.returncode,
                                                       log.read().decode(errors="replace")))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def build(build_dir):
    subprocess.check_call(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release"],
                          stdout=subprocess.DEVNULL)
    subprocess.check_call(["cmake", "--build", build_dir, "-j2", "--target", "zodavov", "zv_floor"],
                          stdout=subprocess.DEVNULL)


def module_for(size):
    path = os.path.join(ROOT, "build", "bench", "module-%g.elf" % size)
    if not os.path.exists(path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        print("generating %s ..." % path, flush=True)
        subprocess.check_call([sys.executable, os.path.join(HERE, "gen_module.py"), str(size), path + ".tmp"])
        os.replace(path + ".tmp", path)
    return path


def bench_size(size, args, tool, floor):
    source = module_for(size)
    work = tempfile.mkdtemp(prefix="zv-compare-")
    try:
        elf = os.path.join(work, "module.elf")
        shutil.copyfile(source, elf)
        vkm = os.path.join(work, "module.vkm")
        plain = os.path.join(work, "plain.vkm")
        env = dict(os.environ, EDBA_ROOT=os.path.join(ROOT, "samples", "sdk"))
        env1 = dict(env, ZODAVOV_THREADS="1")
        env.pop("ZODAVOV_THREADS", None)
        level = ["-z%d" % args.level] if args.level != 6 else []
        # The plain module holds the bytes the converter compresses.
        run([tool, "-zx", "-nolib", elf], env)
        os.replace(vkm, plain)
        plain_size = os.path.getsize(plain)  # what -zx writes: its floor writes as much
        run([tool, "-nolib"] + level + [elf], env)
        out_size = os.path.getsize(vkm)
        commands = [
            ("floor-z", [floor, "compress", str(args.level), plain], env),
            ("zodavov T=1", [tool, "-nolib"] + level + [elf], env1),
            ("zodavov", [tool, "-nolib"] + level + [elf], env),
            ("floor-zx", [floor, "copy", elf, str(plain_size), os.path.join(work, "copy.bin")], env),
            ("zodavov -zx", [tool, "-zx", "-nolib", elf], env),
        ]
        results = {name: [] for name, _, _ in commands}
        for _ in range(args.runs):
            for name, cmd, e in commands:
                results[name].append(run(cmd, e))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("\n%g MiB module (%d bytes in, %d bytes out), level %d, %d runs, %d hardware threads"
          % (size, os.path.getsize(source), out_size, args.level, args.runs, os.cpu_count() or 1))
    print("%-12s %10s %10s %10s %10s" % ("command", "median s", "fastest s", "cpu s", "peak MiB"))
    med, best = {}, {}
    for name, _, _ in commands:
        rows = results[name]
        med[name] = statistics.median(r[0] for r in rows)
        best[name] = min(r[0] for r in rows)
        print("%-12s %10.3f %10.3f %10.3f %10.1f" % (name, med[name], best[name],
                                                     statistics.median(r[1] for r in rows),
                                                     max(r[2] for r in rows)))
    print("%-24s %8s %8s" % ("ratio", "median", "fastest"))
    for a, b in (("zodavov T=1", "floor-z"), ("zodavov", "floor-z"), ("zodavov -zx", "floor-zx")):
        print("%-24s %8.3f %8.3f" % ("%s / %s" % (a, b), med[a] / med[b], best[a] / best[b]))


def main():
    parser = argparse.ArgumentParser(description="Times zodavov against its floors.")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--level", type=int, default=6, choices=range(1, 10))
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("sizes", nargs="*", type=float, default=[32])
    args = parser.parse_args()
    build(args.build)
    tool = os.path.join(args.build, "zodavov")
    floor = os.path.join(args.build, "zv_floor")
    for size in args.sizes:
        bench_size(size, args, tool, floor)


if __name__ == "__main__":
    main()
