"""The streaming extractor against the SDK's reference extractor (C/Util/7z/7zMain.c).

    /usr/bin/python3 scripts/bench_extract.py [--runs N]

Same compiler, same Wine, one run: a multi-chunk LZMA2 package of about 1 GiB in one solid block
(the launcher decodes it on several threads; the reference needs the whole block in memory), and
LZMA and BCJ2 packages of about 200 MiB (one thread on both sides). Prints throughput (unpacked
MiB per second, whole processes under Wine), the ratio, and each side's peak resident memory
against the goal of dictionary + 64 MiB.
"""
import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchdata  # noqa: E402
from benchlib import BUILD, median, prepare, stop_wine, timed, winpath  # noqa: E402

MiB = 1 << 20
# Dictionary sizes the packages are made with (see benchdata.package).
DICTIONARY = {"lzma2-mt": 8 * MiB, "lzma": 8 * MiB, "lzma2": 8 * MiB, "bcj2": 16 * MiB}
GOALS = {"lzma2-mt": 1.6, "lzma": 1.0, "lzma2": 1.0, "bcj2": 1.0}


def bench(env, runs, kind):
    archive, largest = benchdata.package(kind)
    tree = benchdata.big_tree() if kind == "lzma2-mt" else benchdata.package_tree()
    tree_bytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(tree)
                     for f in fs if f != ".complete")
    dest = os.path.join(benchdata.DATA, "extract-out")
    ours, theirs, ours_mem, theirs_mem = [], [], [], []
    for _ in range(runs):
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        t, mem, rc = timed(["wine", os.path.join(BUILD, "bench", "extract_bench.exe"), winpath(archive),
                            winpath(dest) + "\\"], env)
        assert rc == 0, rc
        ours.append(t)
        ours_mem.append(mem)
        shutil.rmtree(dest)
        os.makedirs(dest)
        t, mem, rc = timed(["wine", os.path.join(BUILD, "bench", "sdk_7zdec.exe"), "x", winpath(archive)],
                           env, cwd=dest)
        assert rc == 0, rc
        theirs.append(t)
        theirs_mem.append(mem)
    shutil.rmtree(dest, ignore_errors=True)
    a, b = tree_bytes / MiB / median(ours), tree_bytes / MiB / median(theirs)
    goal_mem = DICTIONARY[kind] / MiB + 64
    print(f"{kind:8s} {tree_bytes / MiB:5.0f} MiB (largest block {largest / MiB:.0f} MiB): "
          f"launcher {a:6.1f} MiB/s   reference {b:6.1f} MiB/s   ratio {a / b:.2f} (goal {GOALS[kind]})")
    print(f"         peak resident: launcher {max(ours_mem):.0f} MiB   reference {max(theirs_mem):.0f} MiB"
          f"   goal: dictionary + 64 = {goal_mem:.0f} MiB (plus Wine's own)")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--runs", type=int, default=3)
    a = p.parse_args()
    env = prepare(["benchmarks"])
    try:
        print(f"{os.cpu_count()} cores; medians of {a.runs} runs")
        for kind in ("lzma2-mt", "lzma", "bcj2"):
            bench(env, a.runs, kind)
    finally:
        stop_wine(env)


if __name__ == "__main__":
    main()
