"""The download cap of setting.ini's max_download_kbps, measured.

    /usr/bin/python3 scripts/bench_cap.py

Downloads a 64 MiB file from the loopback server with the launcher's downloader, uncapped and
under two caps, and prints the measured rate against each cap.
"""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchdata  # noqa: E402
import subprocess  # noqa: E402
from benchlib import BUILD, FileServer, prepare, stop_wine, winpath  # noqa: E402

CAPS_KIB = (8 << 10, 32 << 10)


def main():
    env = prepare(["benchmarks"])
    source = benchdata.big_file(64)
    work = os.path.join(benchdata.DATA, "cap")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.link(source, os.path.join(work, "file.bin"))
    size = os.path.getsize(source)
    rows = []
    try:
        with FileServer(work) as server:
            for cap in (0,) + CAPS_KIB:
                args = ["wine", os.path.join(BUILD, "bench", "download_bench.exe"), server.url("file.bin"),
                        winpath(os.path.join(work, "out.bin"))]
                if cap:
                    args.append(str(cap))
                done = subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                assert done.returncode == 0 and os.path.getsize(os.path.join(work, "out.bin")) == size
                rows.append((cap, size / float(done.stdout.split()[-1]) / 1024))
    finally:
        stop_wine(env)
        shutil.rmtree(work, ignore_errors=True)
    print(f"download of {size >> 20} MiB from the loopback server with the launcher's downloader:")
    for cap, rate in rows:
        if cap:
            print(f"  cap {cap:6d} KiB/s   measured {rate:9.0f} KiB/s   {100 * rate / cap:5.1f} % of the cap")
        else:
            print(f"  no cap             measured {rate:9.0f} KiB/s")


if __name__ == "__main__":
    main()
