"""The launcher as a player meets it, and the splash's drawing cost.

    /usr/bin/python3 scripts/bench_launcher.py [--runs N]

Prints: process start to the splash on the screen, the already-current course from process start
to the game's start, the CPU the launcher uses while a download stalls, and the cost of drawing
the progress bar (median of 1000 calls; CPU of a shown splash over 10 s of 30 ms refreshes).
"""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import BUILD, prepare, stop_wine  # noqa: E402


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--runs", type=int, default=5)
    a = p.parse_args()
    env = prepare(["benchmarks", "e2e_fixtures"])
    try:
        e2e = os.path.join(BUILD, "tests", "e2e")
        subprocess.run(["wine", os.path.join(BUILD, "bench", "launcher_bench.exe"),
                        os.path.join(e2e, "QuenbySkirmora.exe"), os.path.join(e2e, "game-package.7z"),
                        str(a.runs)], env=env, check=True, stderr=subprocess.DEVNULL)
        subprocess.run(["wine", os.path.join(BUILD, "bench", "splash_bench.exe")], env=env, check=True,
                       stderr=subprocess.DEVNULL)
    finally:
        stop_wine(env)


if __name__ == "__main__":
    main()
