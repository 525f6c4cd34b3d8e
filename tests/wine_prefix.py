"""The one Wine prefix of the tests that run Windows programs: the
environment that points Wine at it, and its server and Wine's own background
programs, started before any test program runs."""

import os
import pathlib
import subprocess
import tempfile

PATIENCE = 30  # seconds for the server to stop or start
BOOT_PATIENCE = 1200  # making a prefix takes minutes where Wine's 32-bit side runs under qemu


class WineFailed(Exception):
    pass


def environment(prefix, display=None):
    """The process environment with Wine on the prefix, quiet, and on the
    given X display or on none."""
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    return env


def is_made(prefix):
    return (pathlib.Path(prefix) / "drive_c" / "windows" / "system32").is_dir()


def start_services(wine64, wineserver, prefix, display=None):
    """(Re)starts the prefix's wineserver and Wine's background programs,
    making the prefix first if it is not there. Started by a test's first
    program instead, they would inherit that test's output pipes and hold
    them open; and Wine's desktop process draws on the display it found at
    its start, or on none, for every later window. The server stays until
    it is stopped, or 30 s after its last program should a run be cut short;
    so every test that runs Windows programs calls this first. Otherwise,
    after half a minute of tests without Wine, each program of a test would
    start a server of its own that ends 3 s after it: each run would wait
    for that end (a pipe held open), and a program that meets the server
    ending dies with "wine client error: ... Connection reset by peer"."""
    env = environment(prefix, display)
    subprocess.run([wineserver, "-k"], env=env, timeout=PATIENCE)
    subprocess.run([wineserver, "-w"], env=env, timeout=PATIENCE)
    subprocess.run([wineserver, "-p30"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=PATIENCE, check=True)
    with tempfile.TemporaryFile() as log:
        result = subprocess.run([wine64, "wineboot"] + ([] if is_made(prefix) else ["-i"]), env=env,
                                stdin=subprocess.DEVNULL, stdout=log, stderr=log, timeout=BOOT_PATIENCE)
        log.seek(0)
        if result.returncode != 0:
            raise WineFailed(f"wineboot ended with {result.returncode}: {log.read().decode()}")


def stop(wineserver, prefix):
    subprocess.run([wineserver, "-k"], env=environment(prefix), timeout=PATIENCE)
