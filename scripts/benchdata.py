"""Benchmark inputs, made once below build/win64/bench-data."""
import os
import random
import subprocess

from benchlib import BUILD

DATA = os.path.join(BUILD, "bench-data")


def big_file(size_mib=256):
    path = os.path.join(DATA, f"download-{size_mib}m.bin")
    if not os.path.exists(path):
        os.makedirs(DATA, exist_ok=True)
        with open(path + ".tmp", "wb") as f:
            for _ in range(size_mib):
                f.write(os.urandom(1 << 20))
        os.replace(path + ".tmp", path)
    return path


def package_tree():
    """About 200 MiB: text-like compressible files and incompressible ones, in folders."""
    root = os.path.join(DATA, "game-tree")
    if os.path.exists(os.path.join(root, ".complete")):
        return root
    r = random.Random(11)
    words = [bytes(r.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(r.randint(2, 9)))
             for _ in range(5000)]
    for i in range(20):
        folder = os.path.join(root, "data", f"pack{i:02d}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "text.dat"), "wb") as f:
            f.write(b" ".join(r.choice(words) for _ in range(900_000))[: 5 << 20])
        with open(os.path.join(folder, "media.bin"), "wb") as f:
            f.write(os.urandom(5 << 20))
    with open(os.path.join(root, "Vantrel.exe"), "wb") as f:  # a game folder has its executable
        f.write(b"MZ" + os.urandom(200_000))
    open(os.path.join(root, ".complete"), "w").close()
    return root


def big_tree(copies=5):
    """About 1 GiB: the package tree five times over (hard links), for one large solid block."""
    root = os.path.join(DATA, "big-tree")
    if os.path.exists(os.path.join(root, ".complete")):
        return root
    source = package_tree()
    for n in range(copies):
        for folder, _, files in os.walk(source):
            target = os.path.join(root, f"copy{n}", os.path.relpath(folder, source))
            os.makedirs(target, exist_ok=True)
            for name in files:
                if name != ".complete":
                    os.link(os.path.join(folder, name), os.path.join(target, name))
    open(os.path.join(root, ".complete"), "w").close()
    return root


def package(kind):
    """kind: 'lzma2', 'lzma', 'bcj2' (the ~200 MiB tree) or 'lzma2-mt' (~1 GiB in one solid block
    of independently coded 8 MiB chunks, as the release tool packs). Returns (archive path,
    largest folder's unpacked bytes)."""
    tree = big_tree() if kind == "lzma2-mt" else package_tree()
    path = os.path.join(DATA, f"game-package-{kind}.7z")
    if not os.path.exists(path):
        args = {"lzma2": ["-m0=LZMA2", "-mx=3"],
                "copy": ["-m0=Copy"],
                "lzma": ["-m0=LZMA", "-mx=3"],
                "lzma2-mt": ["-m0=LZMA2:d=8m:c=8m", "-mx=3", "-mmt=2", "-ms=on", "-ms=4g"],
                "bcj2": ["-m0=BCJ2", "-m1=LZMA:d24", "-m2=LZMA:d20", "-m3=LZMA:d20",
                         "-mb0:1", "-mb0s1:2", "-mb0s2:3", "-mx=3"]}[kind]
        subprocess.run(["7zz", "a", "-bd", "-bso0", "-xr!.complete"] + args + [path + ".tmp.7z", "."],
                       cwd=tree, check=True)
        os.replace(path + ".tmp.7z", path)
    return path, largest_folder(path)


def largest_folder(archive):
    listing = subprocess.run(["7zz", "l", "-slt", archive], capture_output=True, text=True,
                             check=True).stdout
    sizes, size, block = {}, 0, None
    for line in listing.splitlines() + [""]:
        if line.startswith("Size = "):
            size = int(line[7:])
        elif line.startswith("Block = "):
            block = line[8:]
        elif not line.strip() and block is not None:
            sizes[block] = sizes.get(block, 0) + size
            size, block = 0, None
    return max(sizes.values()) if sizes else 0
