"""Download and extraction throughput of the launcher against the reference tools.

    /usr/bin/python3 scripts/bench_transfer.py [--runs N]

Download: a 256 MiB file from a loopback server with the launcher's downloader and with curl's
command-line tool built from the same libcurl sources. Extraction: a ~200 MiB package (LZMA2, and
BCJ2) with the launcher's extractor and with the SDK's reference extractor. Both sides run under
the same Wine prefix, alternately, and are timed as whole processes.
"""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_extract  # noqa: E402
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
            bench_extract.bench(env, a.runs, "lzma2")
            bench_extract.bench(env, a.runs, "bcj2")
    finally:
        stop_wine(env)


if __name__ == "__main__":
    main()
