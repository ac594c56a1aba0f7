"""Helpers shared by the benchmark scripts: the Wine environment, timed runs, the file server."""
import os
import resource
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(REPO, "build", "win64")
WINE_ROOT = os.environ.get("QUENBY_WINE_ROOT", os.path.join(BUILD, "wine"))


def wine_env():
    env = dict(os.environ)
    env.update(
        HOME=os.path.join(WINE_ROOT, "home"),
        WINEPREFIX=os.path.join(WINE_ROOT, "prefix"),
        WINEDEBUG="-all",
        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
        WINEARCH="win64",
    )
    return env


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def prepare(targets):
    """Sets up, builds the given win64 targets and readies the Wine prefix; returns the env."""
    sh(["bash", os.path.join(REPO, "scripts", "setup.sh")])
    sh(["cmake", "--preset", "win64"], stdout=subprocess.DEVNULL)
    sh(["cmake", "--build", "--preset", "win64", "--target"] + targets)
    env = wine_env()
    sh(["bash", "-c", f'. "{REPO}/scripts/common.sh"; export QUENBY_WINE_ROOT="{WINE_ROOT}"; '
        f'. "{REPO}/scripts/wine-env.sh"; wine_prepare_prefix'])
    if not env.get("DISPLAY"):
        start_display(env)
    # A persistent server, so that every run pays the same start-up.
    subprocess.Popen(["wineserver", "-p"], env=env).wait()
    return env


_xvfb = []


def start_display(env):
    n = 120
    while os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
        n += 1
    _xvfb.append(subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    for _ in range(50):
        if os.path.exists(f"/tmp/.X11-unix/X{n}"):
            break
        time.sleep(0.1)
    env["DISPLAY"] = f":{n}"


def stop_wine(env):
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    for proc in _xvfb:
        proc.terminate()
        proc.wait()


def timed(cmd, env, cwd=None):
    """Runs a command; returns (seconds, peak resident MiB, exit code) of that process."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return seconds, usage.ru_maxrss / 1024.0, proc.returncode


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class FileServer:
    """scripts/serve.py on 127.0.0.1 for the life of a with-block."""

    def __init__(self, root, rate=0, extra=()):
        self.root, self.rate, self.extra = root, rate, list(extra)

    def __enter__(self):
        fd, self.portfile = tempfile.mkstemp()
        os.close(fd)
        os.remove(self.portfile)
        args = ["/usr/bin/python3", os.path.join(REPO, "scripts", "serve.py"), self.root, self.portfile]
        if self.rate:
            args += ["--rate", str(self.rate)]
        args += self.extra
        self.proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(self.portfile):
                break
            time.sleep(0.05)
        self.port = int(open(self.portfile).read())
        return self

    def url(self, path):
        return f"http://127.0.0.1:{self.port}/{path}"

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait()
        os.remove(self.portfile)


def median(values):
    values = sorted(values)
    return values[len(values) // 2]
