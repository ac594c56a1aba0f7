"""Download and extraction throughput of the launcher against the reference tools.

    /usr/bin/python3 scripts/bench_transfer.py [--runs N]

Download: a 256 MiB file from a loopback server with the launcher's downloader and with curl's
command-line tool built from the same libcurl sources. Extraction: a ~200 MiB package (LZMA2, and
BCJ2) with the launcher's extractor and with the SDK's reference extractor. Both sides run under
the same Wine prefix, alternately, and are timed as whole processes.
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchdata  # noqa: E402
from benchlib import BUILD, REPO, FileServer, median, prepare, stop_wine, timed, winpath  # noqa: E402

MiB = 1 << 20


def curl_tool():
    out = subprocess.run(["bash", os.path.join(REPO, "scripts", "setup.sh"), "--curl-tool"],
                         check=True, capture_output=True, text=True).stdout
    return out.strip().splitlines()[-1]


def bench_download(env, runs):
    data = benchdata.big_file(256)
    size = os.path.getsize(data)
    tool = curl_tool()
    out = os.path.join(benchdata.DATA, "download-out.bin")
    ours, theirs = [], []
    with FileServer(os.path.dirname(data)) as server:
        url = server.url(os.path.basename(data))
        for _ in range(runs):
            t, _, rc = timed(["wine", os.path.join(BUILD, "bench", "download_bench.exe"), url,
                              winpath(out)], env)
            assert rc == 0 and os.path.getsize(out) == size, rc
            ours.append(t)
            t, _, rc = timed(["wine", tool, "-s", "-o", winpath(out), url], env)
            assert rc == 0 and os.path.getsize(out) == size, rc
            theirs.append(t)
    os.remove(out)
    a, b = size / MiB / median(ours), size / MiB / median(theirs)
    print(f"download 256 MiB: launcher {a:8.1f} MiB/s   curl tool {b:8.1f} MiB/s   ratio {a / b:.3f}")


def bench_extract(env, runs, kind):
    archive, largest = benchdata.package(kind)
    tree_bytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(benchdata.package_tree())
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
    print(f"extract {kind:5s} {tree_bytes / MiB:.0f} MiB: launcher {a:7.1f} MiB/s   reference {b:7.1f} MiB/s"
          f"   ratio {a / b:.3f}")
    print(f"  peak memory: launcher {max(ours_mem):.0f} MiB   reference {max(theirs_mem):.0f} MiB"
          f"   largest folder {largest / MiB:.0f} MiB   limit {largest / MiB + 32:.0f} MiB")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--only", choices=["download", "extract"])
    a = p.parse_args()
    env = prepare(["benchmarks"])
    try:
        if a.only != "extract":
            bench_download(env, a.runs)
        if a.only != "download":
            bench_extract(env, a.runs, "lzma2")
            bench_extract(env, a.runs, "bcj2")
    finally:
        stop_wine(env)


if __name__ == "__main__":
    main()
