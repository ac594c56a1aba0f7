"""Updates by byte ranges against full updates, on a game of about 1 GiB.

    /usr/bin/python3 scripts/bench_delta.py

Release 1: about 2,000 small files and four files of about 200 MiB, partly compressible.
Release 2 changes 20 small files, adds 5, removes 3, renames 2 and rewrites 2 MiB in place inside
one big file. Both are made by the release tool and served from 127.0.0.1 by scripts/serve.py,
which logs every request. The worker runs from a launcher folder of its own (update_runner).
Prints the bytes fetched against the packed bytes of the blocks and chunks that hold the changes,
the requests, the index against the package, the delta update's time against a full update of
the same release, -repair on an intact game, and the package sizes of both layouts.
"""
import hashlib
import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchdata  # noqa: E402
from benchlib import BUILD, REPO, FileServer, prepare, sh, stop_wine, timed, winpath  # noqa: E402

TOOL = os.path.join(REPO, "build", "tool", "tools", "quenby-release")


def make_games(root):
    done = os.path.join(root, ".complete")
    if os.path.exists(done):
        return os.path.join(root, "game1"), os.path.join(root, "game2")
    shutil.rmtree(root, ignore_errors=True)
    r = random.Random(18)
    words = [bytes(r.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(r.randint(2, 9))) for _ in range(4000)]

    def data(n):  # about half compressible
        out = bytearray()
        while len(out) < n:
            out += b" ".join(r.choice(words) for _ in range(2000))
            out += r.randbytes(12000)
        return bytes(out[:n])

    g1 = os.path.join(root, "game1")
    os.makedirs(os.path.join(g1, "data"))
    shutil.copy(os.path.join(BUILD, "tests", "e2e", "Vantrel.exe"), os.path.join(g1, "Vantrel.exe"))
    for i in range(2000):
        path = os.path.join(g1, "data", "pack%02d" % (i // 100), "item%04d.dat" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").write(data(r.randrange(4000, 100000)))
    for k in range(4):
        with open(os.path.join(g1, "data", "world%d.pak" % k), "wb") as f:
            for _ in range(25):
                f.write(data(8 << 20))
    g2 = os.path.join(root, "game2")
    shutil.copytree(g1, g2)
    items = sorted(os.path.join(dp, f) for dp, _, fs in os.walk(os.path.join(g2, "data")) for f in fs
                   if f.startswith("item"))
    picked = r.sample(items, 25)
    for path in picked[:20]:
        open(path, "wb").write(data(r.randrange(4000, 100000)))
    for path in picked[20:23]:
        os.remove(path)
    for path in picked[23:25]:
        os.rename(path, path.replace("item", "renamed"))
    for i in range(5):
        open(os.path.join(g2, "data", "pack07", "added%d.dat" % i), "wb").write(data(50000))
    with open(os.path.join(g2, "data", "world2.pak"), "r+b") as f:
        f.seek(97 << 20)
        f.write(r.randbytes(2 << 20))
    open(done, "w").close()
    return g1, g2


def release(game, version, out, layout="delta", previous=None):
    if os.path.exists(os.path.join(out, ".complete")):
        return
    shutil.rmtree(out, ignore_errors=True)
    args = [TOOL, "make", "--secret-key", KEY, "--game", game, "--version", str(version),
            "--base-url", "http://127.0.0.1:1/cdn", "--out", out, "--layout", layout]
    if previous:
        args += ["--previous", previous]
    sh(args, stderr=subprocess.DEVNULL)
    open(os.path.join(out, ".complete"), "w").close()


def parse_index(path):
    folders, files, head = [], [], []
    for line in open(path, encoding="utf-8"):
        f = line.rstrip("\n").split(" ")
        if f[0] in ("start", "end"):
            head.append(int(f[2]))
        elif f[0] == "folder":
            folders.append({"packed": int(f[2]), "chunks": []})
        elif f[0] == "chunk":
            folders[-1]["chunks"].append((int(f[1]), int(f[2]), f[3], int(f[5])))
        elif f[0] == "file":
            files.append({"folder": None if f[1] == "-" else int(f[1]), "size": int(f[2]), "sha": f[3],
                          "path": " ".join(f[4:])})
    return folders, files, sum(head)


def changed_packed_bytes(new_index, old_index):
    """The packed bytes of the blocks and chunks that hold what changed, headers not counted."""
    folders, files, _ = parse_index(new_index)
    old_folders, old_files, _ = parse_index(old_index)
    have = {(f["sha"], f["size"]) for f in old_files}
    old_chunks = {f["path"]: {c[0]: c[2] for c in old_folders[f["folder"]]["chunks"]}
                  for f in old_files if f["folder"] is not None and old_folders[f["folder"]]["chunks"]}
    needed, total = set(), 0
    for f in files:
        if f["size"] == 0 or (f["sha"], f["size"]) in have:
            continue
        folder = folders[f["folder"]]
        if folder["chunks"]:
            for offset, _, sha, packed in folder["chunks"]:
                if old_chunks.get(f["path"], {}).get(offset) != sha:
                    total += packed
        elif f["folder"] not in needed:
            needed.add(f["folder"])
            total += folder["packed"]
    return total, bool(needed)


def run(runner, out, env, *extra):
    t, _, rc = timed(["wine", runner, winpath(out)] + list(extra), env)
    report = dict(line.split("=", 1) for line in open(out, encoding="utf-8").read().splitlines() if "=" in line)
    assert rc == 0 and report["result"] == "0", report
    return t, int(report["elapsedMs"]) / 1000.0


def main():
    global KEY
    sh(["bash", os.path.join(REPO, "scripts", "setup.sh")])
    sh(["cmake", "--preset", "tool"], stdout=subprocess.DEVNULL)
    sh(["cmake", "--build", "--preset", "tool"], stdout=subprocess.DEVNULL)
    env = prepare(["update_runner", "e2e_fixtures"])
    base = os.path.join(benchdata.DATA, "delta")
    os.makedirs(base, exist_ok=True)
    KEY = os.path.join(base, "secret.key")
    if not os.path.exists(KEY):
        sh([TOOL, "keygen", "--secret-key", KEY], stdout=subprocess.DEVNULL)
    g1, g2 = make_games(os.path.join(base, "games"))
    r1, r2, r2solid = (os.path.join(base, n) for n in ("r1", "r2", "r2-solid"))
    release(g1, 1, r1)
    release(g2, 2, r2, previous=os.path.join(r1, "com.larkvane.vantrel.pcquenby.json"))
    release(g2, 2, r2solid, layout="solid")

    work = os.path.join(base, "work")
    shutil.rmtree(work, ignore_errors=True)
    cdn, launcher_dir, root = (os.path.join(work, n) for n in ("cdn", "download", "root"))
    for d in (cdn, launcher_dir):
        os.makedirs(d)
    runner = os.path.join(launcher_dir, "runner.exe")
    shutil.copy(os.path.join(BUILD, "tests", "update_runner.exe"), runner)
    log = os.path.join(work, "requests.log")
    out = os.path.join(work, "out.txt")
    try:
        with FileServer(cdn, extra=["--log", log]) as server:
            def publish(folder, version):
                for name in os.listdir(folder):
                    if name.endswith((".7z", ".index")):
                        target = os.path.join(cdn, name)
                        if not os.path.exists(target):
                            os.link(os.path.join(folder, name), target)
                manifest = open(os.path.join(folder, "com.larkvane.vantrel.pcquenby.json")).read()
                manifest = manifest.replace("http://127.0.0.1:1/cdn", server.url("").rstrip("/"))
                open(os.path.join(cdn, "version.json"), "w").write(manifest)

            with open(os.path.join(launcher_dir, "setting.ini"), "w") as f:
                f.write("[Vantrel]\r\nlocal_path=%s\r\nversion_url=%s\r\n" % (winpath(root), server.url("version.json")))
            publish(r1, 1)
            install1, _ = run(runner, out, env)
            publish(r2, 2)
            open(log, "w").close()
            delta_t, delta_worker = run(runner, out, env)
            requests = [line for line in open(log) if ".7z" in line]
            fetched = sum(int(line.split("sent=")[1]) for line in requests)
            index_fetched = sum(int(line.split("sent=")[1]) for line in open(log) if ".index" in line)

            # A full update of the same release: release 1 installed without its index.
            shutil.rmtree(root)
            publish(r1, 1)
            run(runner, out, env)
            os.remove(os.path.join(root, "game", "version.index"))
            publish(r2, 2)
            full_t, full_worker = run(runner, out, env)

            repair_t, repair_worker = run(runner, out, env, "--repair")
    finally:
        stop_wine(env)
    game_bytes = sum(os.path.getsize(os.path.join(dp, f)) for dp, _, fs in os.walk(g2) for f in fs
                     if f != ".complete")
    package = os.path.getsize(os.path.join(r2, "Vantrel-2.7z"))
    index_size = os.path.getsize(os.path.join(r2, "Vantrel-2.index"))
    changed, headers_needed = changed_packed_bytes(os.path.join(r2, "Vantrel-2.index"), os.path.join(r1, "Vantrel-1.index"))
    _, _, headers = parse_index(os.path.join(r2, "Vantrel-2.index"))
    allowance = 1.1 * changed + index_size + (headers if headers_needed else 0)
    shutil.rmtree(work, ignore_errors=True)
    mib = 1 << 20
    print(f"game {game_bytes / mib:.0f} MiB in 2,000 small and four big files; package {package / mib:.1f} MiB "
          f"(delta layout), {os.path.getsize(os.path.join(r2solid, 'Vantrel-2.7z')) / mib:.1f} MiB (solid layout)")
    print(f"  bytes fetched by the delta update  {fetched / mib:8.2f} MiB in {len(requests)} requests "
          f"(+ index {index_fetched / 1024:.0f} KiB)")
    print(f"  packed bytes of the changed blocks and chunks {changed / mib:8.2f} MiB; headers {headers / 1024:.1f} KiB")
    print(f"  fetched / (1.1 x changed + index + headers) = {(fetched + index_fetched) / allowance:.3f}  (goal <= 1)")
    print(f"  index {index_size / 1024:.0f} KiB = {100.0 * index_size / package:.3f} % of the package  (goal < 1 %)")
    print(f"  delta update {delta_worker:6.2f} s (process {delta_t:.2f} s)   full update {full_worker:6.2f} s "
          f"(process {full_t:.2f} s)   ratio {delta_worker / full_worker:.3f}  (goal <= 0.1)")
    print(f"  -repair on the intact game {repair_worker:6.2f} s = {game_bytes / mib / repair_worker:.0f} MiB/s hashed "
          f"(process {repair_t:.2f} s)")
    print(f"  (first install of release 1: {install1:.2f} s)")


if __name__ == "__main__":
    main()
