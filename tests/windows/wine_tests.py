#!/usr/bin/env python3
"""The Windows programs, checked as files and run under Wine.

    wine_tests.py [paths] prefix-create | prefix-stop
    wine_tests.py [paths] imports PROGRAM.exe
    wine_tests.py [paths] end-to-end --carvex carvex.exe --machine i686|x86_64
    wine_tests.py [paths] console | window

One Wine prefix serves a whole test run: prefix-create makes it once (about
15 s), prefix-stop ends its wineserver. Exit status 0 when the check holds,
77 when the machine cannot run it at all (a kernel without 32-bit support),
otherwise 1 with the reason.
"""
import argparse
import errno
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from xvfb_server import Xvfb, XvfbFailed  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
RUN_CASES = HERE.parent / "e2e" / "run_cases.py"
SKIPPED = 77

MESSAGE = b"Poasm 64-bit console example."
PATIENCE = 30  # seconds; a Wine process start takes well under one

# What each program may import: the functions of the Windows kernel and
# user-interface services that the programs are written against.
KERNEL32 = {"GetCommandLineA", "GetStdHandle", "WriteFile", "FindFirstFileA", "FindNextFileA", "FindClose",
            "CreateFileA", "GetFileSize", "ReadFile", "CloseHandle", "MoveFileExA", "DeleteFileA", "GetProcessHeap", "HeapAlloc", "HeapFree",
            "ExitProcess", "lstrlenA", "GetModuleHandleA"}
USER32 = {"LoadIconA", "LoadCursorA", "RegisterClassExA", "CreateWindowExA", "ShowWindow", "UpdateWindow",
          "GetMessageA", "TranslateMessage", "DispatchMessageA", "PostQuitMessage", "DefWindowProcA"}

# Machine, subsystem and the DLLs each program imports from, with the
# functions it needs from them at the least.
PROGRAMS = {
    "carvex.exe": ("IMAGE_FILE_MACHINE_I386", "IMAGE_SUBSYSTEM_WINDOWS_CUI", {"KERNEL32.dll": KERNEL32},
                   {"GetCommandLineA", "FindFirstFileA", "CreateFileA", "HeapAlloc", "ExitProcess"}),
    "carvex64.exe": ("IMAGE_FILE_MACHINE_AMD64", "IMAGE_SUBSYSTEM_WINDOWS_CUI", {"KERNEL32.dll": KERNEL32},
                     {"GetCommandLineA", "FindFirstFileA", "CreateFileA", "HeapAlloc", "ExitProcess"}),
    "console_example.exe": ("IMAGE_FILE_MACHINE_AMD64", "IMAGE_SUBSYSTEM_WINDOWS_CUI", {"KERNEL32.dll": KERNEL32},
                            {"GetStdHandle", "lstrlenA", "WriteFile", "ExitProcess"}),
    "window_example.exe": ("IMAGE_FILE_MACHINE_AMD64", "IMAGE_SUBSYSTEM_WINDOWS_GUI",
                           {"KERNEL32.dll": KERNEL32, "USER32.dll": USER32},
                           {"GetModuleHandleA", "ExitProcess", "RegisterClassExA", "CreateWindowExA",
                            "GetMessageA", "DefWindowProcA", "PostQuitMessage"}),
}


class CheckFailed(Exception):
    pass


class CannotRun(Exception):
    pass


def expect(condition, why):
    if not condition:
        raise CheckFailed(why)


def wine_environment(options, display=None):
    env = dict(os.environ)
    env.update(WINEPREFIX=options.wine_prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    return env


# ---- the prefix -----------------------------------------------------------
def start_services(options, display=None):
    """(Re)starts the prefix's wineserver and Wine's own background programs
    before any test program runs. Started by a test's first program instead,
    they would inherit that test's output pipes and hold them open; and
    Wine's desktop process draws on the display it found at its start, or
    on none, for every later window. The server stays until prefix-stop, or
    30 s after its last program should the run be cut short."""
    env = wine_environment(options, display)
    subprocess.run([options.wineserver, "-k"], env=env, timeout=PATIENCE)
    subprocess.run([options.wineserver, "-w"], env=env, timeout=PATIENCE)
    subprocess.run([options.wineserver, "-p30"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=PATIENCE, check=True)
    made = (pathlib.Path(options.wine_prefix) / "drive_c" / "windows" / "system32").is_dir()
    with tempfile.TemporaryFile() as log:
        result = subprocess.run([options.wine64, "wineboot"] + ([] if made else ["-i"]), env=env,
                                stdin=subprocess.DEVNULL, stdout=log, stderr=log, timeout=300)
        log.seek(0)
        expect(result.returncode == 0, f"wineboot ended with {result.returncode}: {log.read().decode()}")


def prefix_create(options):
    """Makes the prefix unless an earlier run did, and starts its services."""
    prefix = pathlib.Path(options.wine_prefix)
    prefix.mkdir(parents=True, exist_ok=True)
    start = time.monotonic()
    start_services(options)
    expect((prefix / "drive_c" / "windows" / "system32").is_dir(), "wineboot made no Windows folder")
    print(f"Wine prefix {prefix} ready in {time.monotonic() - start:.1f} s")


def prefix_stop(options):
    subprocess.run([options.wineserver, "-k"], env=wine_environment(options), timeout=PATIENCE)


# ---- the files ------------------------------------------------------------
def read_headers_and_imports(path, readobj):
    result = subprocess.run([readobj, "--file-headers", "--coff-imports", path], capture_output=True, text=True,
                            timeout=PATIENCE)
    expect(result.returncode == 0, f"llvm-readobj failed: {result.stderr}")
    machine = re.search(r"^\s*Machine: (\S+)", result.stdout, re.M)
    subsystem = re.search(r"^\s*Subsystem: (\S+)", result.stdout, re.M)
    imports = {}
    for block in re.finditer(r"Import \{(.*?)\n\s*\}", result.stdout, re.S):
        dll = re.search(r"Name: (\S+)", block.group(1)).group(1)
        imports[dll] = set(re.findall(r"Symbol: (\S+)", block.group(1)))
    return (machine.group(1) if machine else None, subsystem.group(1) if subsystem else None, imports)


def imports(options):
    name = pathlib.Path(options.program).name
    machine, subsystem, dlls, needed = PROGRAMS[name]
    got_machine, got_subsystem, got_imports = read_headers_and_imports(options.program, options.readobj)
    expect(got_machine == machine, f"{name}: machine {got_machine}, not {machine}")
    expect(got_subsystem == subsystem, f"{name}: subsystem {got_subsystem}, not {subsystem}")
    expect(set(got_imports) == set(dlls), f"{name}: imports from {sorted(got_imports)}, not {sorted(dlls)}")
    for dll, names in got_imports.items():
        expect(names <= dlls[dll], f"{name}: {dll} functions outside the platform's list: {names - dlls[dll]}")
    imported = set().union(*got_imports.values())
    expect(needed <= imported, f"{name}: does not import {needed - imported}")


# ---- running programs -------------------------------------------------------
def expect_runs_32_bit_programs(options):
    """A kernel built or booted without 32-bit support refuses the 32-bit
    Wine loader with ENOEXEC; nothing on the machine can run carvex.exe then."""
    try:
        result = subprocess.run([options.wine32, "--version"], capture_output=True, timeout=PATIENCE)
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            raise CannotRun(f"this kernel cannot run 32-bit programs, so {options.wine32} cannot start "
                            "(on Linux 6.7 and later: boot with ia32_emulation=on)")
        raise CheckFailed(f"cannot start {options.wine32}: {error}")
    expect(result.returncode == 0, f"{options.wine32} --version ended with {result.returncode}")


def end_to_end(options):
    launcher = options.wine64
    if options.machine == "i686":
        expect_runs_32_bit_programs(options)
        launcher = options.wine32
    os.environ.update(wine_environment(options))
    os.environ.pop("DISPLAY", None)
    result = subprocess.run([sys.executable, str(RUN_CASES), "--carvex", options.carvex, "--launcher", launcher])
    expect(result.returncode == 0, "some end-to-end cases failed under Wine")


def run_console(options, arguments, stdout):
    return subprocess.run([options.wine64, options.program, *arguments], env=wine_environment(options),
                          stdout=stdout, stderr=subprocess.PIPE, timeout=PATIENCE)


def console(options):
    # To a file, with and without arguments: the 29 bytes, nothing added.
    for arguments in ([], ["-p64", "a b", "*.lib"]):
        with tempfile.TemporaryFile() as output:
            result = run_console(options, arguments, output)
            output.seek(0)
            written = output.read()
        expect(written == MESSAGE, f"output {written!r}, not the 29 bytes {MESSAGE!r}")
        expect(result.returncode == 0, f"exit status {result.returncode}, not 0")
    # To a pipe.
    result = run_console(options, [], subprocess.PIPE)
    expect(result.stdout == MESSAGE and result.returncode == 0, f"through a pipe: {result.stdout!r}, "
           f"status {result.returncode}")
    # An output that refuses every write: still status 0, nothing reported.
    with open("/dev/full", "wb") as full:
        result = run_console(options, [], full)
    expect(result.returncode == 0, f"writing to a full device: exit status {result.returncode}, not 0")


def run_client(options, display, command):
    # Wine gives the X window the program's file name as its class: the title identifies it.
    result = subprocess.run([options.client, "--title-only", command], env=wine_environment(options, display),
                            capture_output=True, timeout=PATIENCE * 2)
    expect(result.returncode == 0, result.stderr.decode().strip() or f"{command} failed")


def window(options):
    with Xvfb(options.xvfb, PATIENCE) as server:
        start_services(options, server.display)
        program = subprocess.Popen([options.wine64, options.program, "ignored", "arguments"],
                                   env=wine_environment(options, server.display),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            run_client(options, server.display, "shown")
            expect(program.poll() is None, f"the program ended by itself, status {program.poll()}")
            run_client(options, server.display, "close")
            try:
                status = program.wait(PATIENCE)
            except subprocess.TimeoutExpired:
                raise CheckFailed("the program did not end after the close request")
            expect(status == 0, f"exit status {status}, not 0")
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
            # Back to services without a display before this one goes away.
            start_services(options)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--wine-prefix", required=True)
    parser.add_argument("--wine64", default="/usr/lib/wine/wine64")
    parser.add_argument("--wine32", default="/usr/lib/wine/wine")
    parser.add_argument("--wineserver", default="/usr/lib/wine/wineserver")
    parser.add_argument("--readobj", default="llvm-readobj")
    parser.add_argument("--xvfb", default="Xvfb")
    parser.add_argument("--client", help="the X client that finds and closes the window")
    parser.add_argument("--program", help="the program the check is about")
    parser.add_argument("--carvex")
    parser.add_argument("--machine", choices=["i686", "x86_64"])
    parser.add_argument("check", choices=["prefix-create", "prefix-stop", "imports", "end-to-end", "console", "window"])
    options = parser.parse_args()
    checks = {"prefix-create": prefix_create, "prefix-stop": prefix_stop, "imports": imports,
              "end-to-end": end_to_end, "console": console, "window": window}
    try:
        checks[options.check](options)
    except CannotRun as reason:
        print(f"{options.check}: cannot run here: {reason}")
        return SKIPPED
    except (CheckFailed, XvfbFailed) as failure:
        print(f"{options.check}: {failure}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
