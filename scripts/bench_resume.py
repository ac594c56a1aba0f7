"""A package download cut at half, then resumed.

    /usr/bin/python3 scripts/bench_resume.py

Serves a ~200 MiB package (with its size and SHA-256 in the manifest) from a server that drops
the first connection at half of it, runs the update worker twice under Wine, and prints how much
of the package each run transferred (from the server's own log). Goal: the resumed run transfers
at most 55 % of the package.
"""
import hashlib
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchdata  # noqa: E402
from benchlib import BUILD, FileServer, prepare, stop_wine, timed, winpath  # noqa: E402


def main():
    env = prepare(["update_runner"])
    archive, _ = benchdata.package("copy")  # ~200 MiB as stored
    work = os.path.join(benchdata.DATA, "resume")
    shutil.rmtree(work, ignore_errors=True)
    launcher_dir, root, cdn = (os.path.join(work, n) for n in ("download", "root", "cdn"))
    for folder in (launcher_dir, cdn):
        os.makedirs(folder)
    runner = os.path.join(launcher_dir, "runner.exe")
    shutil.copy(os.path.join(BUILD, "tests", "update_runner.exe"), runner)
    os.link(archive, os.path.join(cdn, "package.7z"))
    size = os.path.getsize(archive)
    digest = hashlib.sha256()
    with open(archive, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    log = os.path.join(work, "server.log")
    out = os.path.join(work, "out.txt")
    try:
        with FileServer(cdn, extra=["--cut-once", "0.5", "--log", log]) as server:
            with open(os.path.join(cdn, "version.json"), "w") as f:
                f.write('{"ServerVersionCode": 1, "WinPackageURL": "%s", "WinPackageSize": %d, '
                        '"WinPackageSHA256": "%s"}' % (server.url("package.7z"), size, digest.hexdigest()))
            with open(os.path.join(launcher_dir, "setting.ini"), "w") as f:
                f.write("[Vantrel]\r\nlocal_path=%s\r\nversion_url=%s\r\n" % (winpath(root), server.url("version.json")))
            results = []
            for _ in range(2):
                seconds, _, rc = timed(["wine", runner, winpath(out)], env)
                assert rc == 0
                report = open(out, encoding="utf-8").read()
                results.append((seconds, report.split("result=")[1].split()[0]))
    finally:
        stop_wine(env)
    sent = [int(line.split("sent=")[1]) for line in open(log) if line.startswith("/package.7z")]
    ranges = [line.split("range=")[1].split()[0] for line in open(log) if line.startswith("/package.7z")]
    shutil.rmtree(work, ignore_errors=True)
    print(f"package {size / (1 << 20):.0f} MiB")
    print(f"  first run:   result {results[0][1]} after {results[0][0]:.2f} s, transferred "
          f"{sent[0] / (1 << 20):.1f} MiB ({100.0 * sent[0] / size:.1f} %)")
    print(f"  resumed run: result {results[1][1]} after {results[1][0]:.2f} s, asked {ranges[1]}, transferred "
          f"{sent[1] / (1 << 20):.1f} MiB ({100.0 * sent[1] / size:.1f} %; goal at most 55 %)")


if __name__ == "__main__":
    main()
