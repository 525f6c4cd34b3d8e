#!/usr/bin/env python3
"""Runs the example programs as a user would and checks what they do.

    run_examples.py --console PATH --window PATH --probe PATH CASE [ARGUMENT...]

The window cases start their own Xvfb on a display number it picks itself
(-displayfd), and stop it by its process id. Exit status 0 when the case
holds; otherwise 1 with the reason.
"""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from xvfb_server import Xvfb, XvfbFailed, status_after_close, stop  # noqa: E402

MESSAGE = b"Poasm 64-bit console example."
ODD_ARGUMENTS = ["-p64", "a b", "", "*.lib", "\u00e9"]
PATIENCE = 10  # seconds; generous for the sanitizer build


class CaseFailed(Exception):
    pass


def expect(condition, why):
    if not condition:
        raise CaseFailed(why)


# ---- console_example ------------------------------------------------------
def check_console_result(result, output):
    expect(result.returncode == 0, f"exit status {result.returncode}, not 0")
    expect(output == MESSAGE, f"output {output!r}, not the 29 bytes {MESSAGE!r}")
    expect(result.stderr == b"", f"unexpected standard error {result.stderr!r}")


def console_to_file(paths, arguments):
    with tempfile.TemporaryFile() as output:
        result = subprocess.run([paths.console, *arguments], stdout=output, stderr=subprocess.PIPE,
                                timeout=PATIENCE)
        output.seek(0)
        check_console_result(result, output.read())


def console_to_pipe(paths, arguments):
    result = subprocess.run([paths.console, *arguments], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=PATIENCE)
    check_console_result(result, result.stdout)


def console_arguments(paths, _):
    console_to_file(paths, ODD_ARGUMENTS)
    console_to_pipe(paths, ODD_ARGUMENTS)


def expect_silent_success(result):
    expect(result.returncode == 0, f"exit status {result.returncode}, not 0")
    expect(result.stderr == b"", f"unexpected standard error {result.stderr!r}")


def console_stdout_closed(paths, _):
    result = subprocess.run([paths.console], preexec_fn=lambda: os.close(1), stderr=subprocess.PIPE,
                            timeout=PATIENCE)
    expect_silent_success(result)


def console_reader_gone(paths, _):
    # A pipe nobody reads any more: the write fails (and on POSIX would
    # raise SIGPIPE), yet the program ends quietly with 0.
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        result = subprocess.run([paths.console], stdout=write_end, stderr=subprocess.PIPE, timeout=PATIENCE)
    finally:
        os.close(write_end)
    expect_silent_success(result)


# ---- window_example -------------------------------------------------------
def environment(display):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    return env


def run_probe(paths, display, command):
    result = subprocess.run([paths.probe, command], env=environment(display), stderr=subprocess.PIPE,
                            timeout=PATIENCE * 2)
    expect(result.returncode == 0, result.stderr.decode().strip() or f"window_probe {command} failed")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def expect_idle(process):
    before = cpu_seconds(process.pid)
    time.sleep(1.0)
    used = cpu_seconds(process.pid) - before
    expect(used < 0.2, f"the waiting program used {used:.2f} s of CPU in 1 s: GetMessageA spins")


def window_close(paths, arguments):
    with Xvfb(patience=PATIENCE) as server:
        program = subprocess.Popen([paths.window, *arguments], env=environment(server.display),
                                   stderr=subprocess.PIPE)
        try:
            run_probe(paths, server.display, "inspect")
            expect(program.poll() is None, "the program ended before it was asked to")
            expect_idle(program)
            run_probe(paths, server.display, "close")
            status = status_after_close(program, PATIENCE)
            expect(status is not None, "the program did not end after the close request")
            expect(status == 0, f"exit status {status}, not 0")
            expect(program.stderr.read() == b"", "unexpected standard error")
        finally:
            stop(program)
            program.stderr.close()


def window_arguments(paths, _):
    window_close(paths, ODD_ARGUMENTS)


def expect_no_display_failure(paths, display):
    start = time.monotonic()
    try:
        result = subprocess.run([paths.window], env=environment(display), stderr=subprocess.PIPE,
                                timeout=PATIENCE)
    except subprocess.TimeoutExpired:
        raise CaseFailed("without a display the program waits instead of ending")
    expect(result.returncode == 1, f"exit status {result.returncode}, not 1")
    expect(b"cannot open display" in result.stderr, f"standard error {result.stderr!r} lacks the reason")
    expect(time.monotonic() - start < 5, "ending took too long")


def window_without_display(paths, _):
    expect_no_display_failure(paths, None)
    # A display that names no server at all.
    expect_no_display_failure(paths, ":4093")


CASES = {f.__name__: f for f in (console_to_file, console_to_pipe, console_arguments, console_stdout_closed,
                                  console_reader_gone, window_close, window_arguments, window_without_display)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--console", required=True)
    parser.add_argument("--window", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("arguments", nargs="*")
    paths = parser.parse_args()
    try:
        CASES[paths.case](paths, paths.arguments)
    except (CaseFailed, XvfbFailed) as failure:
        print(f"{paths.case}: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
