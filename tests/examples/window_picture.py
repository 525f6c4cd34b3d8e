#!/usr/bin/env python3
"""Takes the picture of window_example that the README shows: the Linux
program and the Windows one under Wine, each under the twm window manager so
that the title bar reads "Window", side by side in one PNG file.

    window_picture.py --output PNG --linux PATH --windows EXE --probe PATH
                      --wine-prefix DIR --tools NAME=PATH...

Each program runs on an Xvfb of its own (black root), is shot whole from the
root, and cropped to its frame. The picture counts only when the frame is
taller than the program's own window, that is, when the title bar is there.
Exit status 0 with the picture written; otherwise 1 and the reason.
"""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
import wine_prefix  # noqa: E402
from xvfb_server import Xvfb, XvfbFailed  # noqa: E402

TOOLS = ["xvfb", "twm", "wine64", "wineserver", "xwd", "xwdtopnm", "pnmcrop", "pnmcat", "pnmtopng"]
# Windows are placed where the program asks, or at random, never by hand;
# fonts that every X server has.
TWM_SETTINGS = """RandomPlacement
UsePPosition "on"
NoGrabServer
TitleFont "fixed"
ResizeFont "fixed"
MenuFont "fixed"
IconFont "fixed"
IconManagerFont "fixed"
"""
PATIENCE = 30  # seconds: Wine's first window in a fresh prefix is slow


class PictureFailed(Exception):
    pass


def run(argv, **options):
    done = subprocess.run(argv, capture_output=True, timeout=PATIENCE, **options)
    if done.returncode != 0:
        raise PictureFailed(f"{' '.join(map(str, argv))}: status {done.returncode}: {done.stderr.decode()}")
    return done.stdout


def pnm_size(pnm):
    """Width and height from a netpbm header (magic, width, height)."""
    fields = pnm.split(maxsplit=3)
    return int(fields[1]), int(fields[2])


def shoot(tools, env, framed):
    """The screen cropped to what is not black, a 16-pixel black margin kept."""
    shot = run([tools.xwd, "-silent"] + (["-root"] if framed else ["-name", "Window"]), env=env)
    pnm = run([tools.xwdtopnm], input=shot)
    return run([tools.pnmcrop, "-black", "-margin=16"], input=pnm) if framed else pnm


def await_frame(tools, env, what):
    """The framed window once the window manager has put its title bar on:
    until then the shot is no taller than the window itself, or fails while
    the window is being reparented."""
    deadline = time.monotonic() + PATIENCE
    while time.monotonic() < deadline:
        try:
            client_height = pnm_size(shoot(tools, env, framed=False))[1]
            picture = shoot(tools, env, framed=True)
            if pnm_size(picture)[1] > client_height + 32:
                return picture
        except PictureFailed:
            pass
        time.sleep(0.2)
    raise PictureFailed(f"{what}: no title bar above the window")


def framed_window(tools, env, argv, probe):
    """Runs one program under twm on the display in env, shoots its frame."""
    with tempfile.NamedTemporaryFile("w", suffix=".twmrc") as settings:
        settings.write(TWM_SETTINGS)
        settings.flush()
        twm = subprocess.Popen([tools.twm, "-f", settings.name], env=env, stderr=subprocess.DEVNULL)
        program = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            run(probe + ["shown"], env=env)
            picture = await_frame(tools, env, argv[-1])
            run(probe + ["close"], env=env)
            if program.wait(PATIENCE) != 0:
                raise PictureFailed(f"{argv[-1]} ended with status {program.returncode}")
            return picture
        finally:
            for process in (program, twm):
                if process.poll() is None:
                    process.kill()
                    process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for option in ("--output", "--linux", "--windows", "--probe", "--wine-prefix"):
        parser.add_argument(option, required=True)
    parser.add_argument("--tools", nargs="+", required=True, metavar="NAME=PATH")
    options = parser.parse_args()
    tools = argparse.Namespace(**dict(item.split("=", 1) for item in options.tools))
    missing = [name for name in TOOLS if not hasattr(tools, name)]
    if missing:
        sys.exit(f"window_picture: no path given for {', '.join(missing)}")
    prefix = pathlib.Path(options.wine_prefix).resolve()
    pictures = []
    try:
        with Xvfb(tools.xvfb) as server:
            env = dict(os.environ, DISPLAY=server.display, LANG="C", LC_ALL="C")
            pictures.append(framed_window(tools, env, [options.linux], [options.probe]))
        with Xvfb(tools.xvfb) as server:
            # Wine's desktop draws every window on the display it started on.
            wine_prefix.start_services(tools.wine64, tools.wineserver, prefix, server.display)
            env = dict(wine_prefix.environment(prefix, server.display), LANG="C", LC_ALL="C")
            pictures.append(framed_window(tools, env, [tools.wine64, options.windows],
                                          [options.probe, "--title-only"]))
    except (PictureFailed, XvfbFailed, wine_prefix.WineFailed, subprocess.TimeoutExpired) as failure:
        sys.exit(f"window_picture: {failure}")
    finally:
        # Back to services without a display, for the prefix's other users.
        wine_prefix.start_services(tools.wine64, tools.wineserver, prefix)
    with tempfile.TemporaryDirectory() as scratch:
        paths = []
        for index, picture in enumerate(pictures):
            paths.append(os.path.join(scratch, f"{index}.pnm"))
            pathlib.Path(paths[-1]).write_bytes(picture)
        joined = run([tools.pnmcat, "-lr", "-jtop", "-black"] + paths)
    pathlib.Path(options.output).write_bytes(run([tools.pnmtopng, "-compression", "9"], input=joined))
    print(f"window_picture: wrote {options.output}, {' and '.join('%dx%d' % pnm_size(p) for p in pictures)}")


if __name__ == "__main__":
    main()
