"""The whole update against its parts.

    /usr/bin/python3 scripts/bench_update.py [--runs N]

Times, under the same Wine and from the same loopback server in one run: a full update of the
~200 MiB package (the worker run from a launcher folder of its own, the manifest naming the
package's size and SHA-256), the already-current course, and the package's download and
extraction alone; prints the ratio of the full update to the sum of the two parts, and the
hash's and the swap's own time.

Then a release of the same game made by the release tool, with its file index, so the full
update unpacks while it downloads: timed against its download alone and its extraction alone,
from the loopback server and from one throttled to about 40 MiB/s, with the decoder's busy share
while the download ran and the worker's peak memory.
"""
import argparse
import hashlib
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchdata  # noqa: E402
import subprocess  # noqa: E402
from benchlib import BUILD, REPO, FileServer, median, prepare, sh, stop_wine, timed, winpath  # noqa: E402

TOOL = os.path.join(REPO, "build", "tool", "tools", "quenby-release")
THROTTLE = 40 << 20


def indexed_release():
    """The bench game as the release tool publishes it: package, index and manifest."""
    out = os.path.join(benchdata.DATA, "indexed-release")
    if os.path.exists(os.path.join(out, ".complete")):
        return out
    key = os.path.join(benchdata.DATA, "release-secret.key")
    if not os.path.exists(key):
        sh([TOOL, "keygen", "--secret-key", key], stdout=subprocess.DEVNULL)
    shutil.rmtree(out, ignore_errors=True)
    sh([TOOL, "make", "--secret-key", key, "--game", benchdata.package_tree(), "--version", "1",
        "--base-url", "http://127.0.0.1:1/cdn", "--out", out], stderr=subprocess.DEVNULL)
    open(os.path.join(out, ".complete"), "w").close()
    return out


def streamed_figures(env, runs):
    """The full update with an index against its download and its extraction, on both servers."""
    release = indexed_release()
    package = os.path.join(release, "Vantrel-1.7z")
    work = os.path.join(benchdata.DATA, "streamed")
    shutil.rmtree(work, ignore_errors=True)
    cdn, launcher_dir, root = (os.path.join(work, n) for n in ("cdn", "download", "root"))
    for d in (cdn, launcher_dir):
        os.makedirs(d)
    for name in ("Vantrel-1.7z", "Vantrel-1.index"):
        os.link(os.path.join(release, name), os.path.join(cdn, name))
    runner = os.path.join(launcher_dir, "runner.exe")
    shutil.copy(os.path.join(BUILD, "tests", "update_runner.exe"), runner)
    out = os.path.join(work, "out.txt")
    figures = {}
    for label, rate in (("loopback", 0), ("throttled", THROTTLE)):
        full, worker, busy, peak, download, extract = [], [], [], [], [], []
        with FileServer(cdn, rate=rate) as server:
            manifest = open(os.path.join(release, "com.larkvane.vantrel.pcquenby.json")).read()
            open(os.path.join(cdn, "version.json"), "w").write(
                manifest.replace("http://127.0.0.1:1/cdn", server.url("").rstrip("/")))
            with open(os.path.join(launcher_dir, "setting.ini"), "w") as f:
                f.write("[Vantrel]\r\nlocal_path=%s\r\nversion_url=%s\r\n" % (winpath(root), server.url("version.json")))
            for _ in range(runs):
                shutil.rmtree(root, ignore_errors=True)
                t, _, rc = timed(["wine", runner, winpath(out)], env)
                report = dict(line.split("=", 1) for line in open(out, encoding="utf-8").read().splitlines() if "=" in line)
                assert rc == 0 and report["result"] == "0", report
                full.append(t)
                worker.append(int(report["elapsedMs"]) / 1000.0)
                downloaded, waited = int(report["streamedDownloadMs"]), int(report["streamedDecoderWaitedMs"])
                threads = int(report["streamedDecoders"])
                assert downloaded > 0 and threads > 0, "the full update did not unpack while downloading"
                busy.append(max(0.0, 1.0 - waited / (threads * downloaded)))  # the threads' average
                peak.append(int(report["peakWorkingSetMiB"]))
                t, _, rc = timed(["wine", os.path.join(BUILD, "bench", "download_bench.exe"),
                                  server.url("Vantrel-1.7z"), winpath(os.path.join(work, "dl.7z"))], env)
                assert rc == 0
                download.append(t)
                dest = os.path.join(work, "x")
                shutil.rmtree(dest, ignore_errors=True)
                os.makedirs(dest)
                t, _, rc = timed(["wine", os.path.join(BUILD, "bench", "extract_bench.exe"),
                                  winpath(os.path.join(work, "dl.7z")), winpath(dest) + "\\"], env)
                assert rc == 0
                extract.append(t)
        figures[label] = tuple(median(v) for v in (full, worker, busy, peak, download, extract))
    shutil.rmtree(work, ignore_errors=True)
    return os.path.getsize(package) / (1 << 20), figures


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--runs", type=int, default=3)
    a = p.parse_args()
    env = prepare(["benchmarks", "update_runner"])
    sh(["cmake", "--preset", "tool"], stdout=subprocess.DEVNULL)
    sh(["cmake", "--build", "--preset", "tool"], stdout=subprocess.DEVNULL)
    archive, _ = benchdata.package("lzma2")
    work = os.path.join(benchdata.DATA, "update")
    shutil.rmtree(work, ignore_errors=True)
    launcher_dir = os.path.join(work, "download")
    root = os.path.join(work, "root")
    os.makedirs(launcher_dir)
    runner = os.path.join(launcher_dir, "runner.exe")
    shutil.copy(os.path.join(BUILD, "tests", "update_runner.exe"), runner)
    cdn = os.path.join(work, "cdn")
    os.makedirs(cdn)
    os.link(archive, os.path.join(cdn, "package.7z"))
    full, worker, current, download, extract = [], [], [], [], []
    try:
        with FileServer(cdn) as server:
            with open(os.path.join(cdn, "version.json"), "w") as f:
                digest = hashlib.sha256()
                with open(archive, "rb") as pkg:
                    for block in iter(lambda: pkg.read(1 << 20), b""):
                        digest.update(block)
                f.write('{"ServerVersionCode": 1, "WinPackageURL": "%s", "WinPackageSize": %d, '
                        '"WinPackageSHA256": "%s"}' % (server.url("package.7z"), os.path.getsize(archive),
                                                      digest.hexdigest()))
            with open(os.path.join(launcher_dir, "setting.ini"), "w") as f:
                f.write("[Vantrel]\r\nlocal_path=%s\r\nversion_url=%s\r\n" % (winpath(root), server.url("version.json")))
            out = winpath(os.path.join(work, "out.txt"))
            for _ in range(a.runs):
                shutil.rmtree(root, ignore_errors=True)
                t, _, rc = timed(["wine", runner, out], env)
                report = open(os.path.join(work, "out.txt"), encoding="utf-8").read()
                assert rc == 0 and "result=0" in report
                full.append(t)
                worker.append(int(report.split("elapsedMs=")[1].split()[0]) / 1000.0)
                t, _, rc = timed(["wine", runner, out], env)
                assert rc == 0 and "packageProgress=0" in open(os.path.join(work, "out.txt")).read()
                current.append(t)
                t, _, rc = timed(["wine", os.path.join(BUILD, "bench", "download_bench.exe"),
                                  server.url("package.7z"), winpath(os.path.join(work, "dl.7z"))], env)
                assert rc == 0
                download.append(t)
                dest = os.path.join(work, "x")
                shutil.rmtree(dest, ignore_errors=True)
                os.makedirs(dest)
                t, _, rc = timed(["wine", os.path.join(BUILD, "bench", "extract_bench.exe"),
                                  winpath(os.path.join(work, "dl.7z")), winpath(dest) + "\\"], env)
                assert rc == 0
                extract.append(t)
            parts = os.path.join(work, "parts")
            os.makedirs(parts, exist_ok=True)
            r = sh(["wine", os.path.join(BUILD, "bench", "update_parts_bench.exe"),
                    winpath(os.path.join(work, "dl.7z")), winpath(parts)], env=env,
                   stdout=subprocess.PIPE, text=True)
            own = dict(kv.split("=") for kv in r.stdout.split())
        streamed_size, streamed = streamed_figures(env, a.runs)
    finally:
        stop_wine(env)
        shutil.rmtree(work, ignore_errors=True)
    f, w, c, d, x = median(full), median(worker), median(current), median(download), median(extract)
    size = os.path.getsize(archive) / (1 << 20)
    print(f"package {size:.0f} MiB packed, medians of {a.runs} runs:")
    print(f"  full update      {f:7.2f} s   (the worker itself: {w:.2f} s)")
    print(f"  already current  {c:7.2f} s")
    print(f"  download alone   {d:7.2f} s   extraction alone {x:7.2f} s   sum {d + x:7.2f} s")
    print(f"  full update / (download + extraction) = {f / (d + x):.3f}   worker alone: {w / (d + x):.3f}")
    print(f"  SHA-256 on the way in {float(own['hash']):.3f} s ({own['hash_mib_s']} MiB/s)   "
          f"swap (renames) {float(own['swap']) * 1000:.1f} ms   deleting the old game {float(own['delete_old']):.2f} s")
    print("  (every figure but the worker's and the last line's is a whole process under Wine, start-up and exit included)")
    print(f"full update of the release tool's {streamed_size:.0f} MiB package with its index (unpacked while it downloads), "
          f"medians of {a.runs} runs:")
    for label, goal in (("loopback", "full / (download + extraction) <= 0.8"), ("throttled", "full / download <= 1.1")):
        f, w, b, m, d, x = streamed[label]
        ratio = f / (d + x) if label == "loopback" else f / d
        title = "loopback" if label == "loopback" else f"throttled to {THROTTLE >> 20} MiB/s"
        print(f"  {title:22} full update {f:6.2f} s (worker {w:.2f} s)   download alone {d:6.2f} s   "
              f"extraction alone {x:6.2f} s")
        print(f"  {'':22} ratio {ratio:.3f} (goal: {goal})   decoder threads busy {100 * b:.0f} % of the download   "
              f"peak working set {m:.0f} MiB")


if __name__ == "__main__":
    main()
