#!/usr/bin/env python3
"""The Windows programs, checked as files and run under Wine.

    wine_tests.py [paths] prefix-create | prefix-stop
    wine_tests.py [paths] imports PROGRAM.exe
    wine_tests.py [paths] end-to-end --carvex carvex64.exe
    wine_tests.py [paths] carvex32 --carvex carvex.exe --linux-carvex carvex
    wine_tests.py [paths] console | window

One Wine prefix serves a whole test run: prefix-create makes it once (about
15 s), prefix-stop ends its wineserver. Exit status 0 when the check holds,
otherwise 1 with the reason.

carvex.exe runs under the 32-bit loader, which may run under qemu (a kernel
without 32-bit support): every such process then costs about a minute, so
carvex32 makes few runs, two at a time, each covering much.
"""
import argparse
import concurrent.futures
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
import wine_prefix  # noqa: E402
from xvfb_server import Xvfb, XvfbFailed, status_after_close, stop  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
import cases as case_table  # noqa: E402
import run_cases  # noqa: E402

RUN_CASES = HERE.parent / "e2e" / "run_cases.py"
MINGW_I686 = "/usr/i686-w64-mingw32/lib"
GOLDEN_SWITCH = "-fd"
# The shared cases that carvex.exe runs as they stand: the usage text and a
# pattern that matches nothing.
SHARED_CASES = ("banner: no arguments", "nothing matches")

MESSAGE = b"Poasm 64-bit console example."
PATIENCE = 30  # seconds; a Wine process start takes well under one

# What each program may import: the functions of the Windows kernel and
# user-interface services that the programs are written against.
KERNEL32 = {"GetCommandLineA", "GetStdHandle", "WriteFile", "FindFirstFileA", "FindNextFileA", "FindClose",
            "CreateFileA", "GetFileSize", "ReadFile", "SetFilePointerEx", "SetEndOfFile", "CloseHandle", "MoveFileExA", "DeleteFileA", "ReplaceFileA",
            "GetFileAttributesA", "GetFinalPathNameByHandleA", "GetLastError", "SetConsoleCtrlHandler", "Sleep",
            "GetProcessHeap", "HeapAlloc", "HeapFree", "ExitProcess", "lstrlenA", "GetModuleHandleA"}
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


def expect(condition, why):
    if not condition:
        raise CheckFailed(why)


def wine_environment(options, display=None):
    return wine_prefix.environment(options.wine_prefix, display)


# ---- the prefix -----------------------------------------------------------
def start_services(options, display=None):
    wine_prefix.start_services(options.wine64, options.wineserver, options.wine_prefix, display)


def prefix_create(options):
    """Makes the prefix unless an earlier run did, and starts its services."""
    prefix = pathlib.Path(options.wine_prefix)
    prefix.mkdir(parents=True, exist_ok=True)
    start = time.monotonic()
    start_services(options)
    expect(wine_prefix.is_made(prefix), "wineboot made no Windows folder")
    print(f"Wine prefix {prefix} ready in {time.monotonic() - start:.1f} s")


def prefix_stop(options):
    wine_prefix.stop(options.wineserver, options.wine_prefix)


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
def use_wine_environment(options):
    os.environ.update(wine_environment(options))
    os.environ.pop("DISPLAY", None)


def end_to_end(options):
    use_wine_environment(options)
    result = subprocess.run([sys.executable, str(RUN_CASES), "--carvex", options.carvex, "--launcher", options.wine64])
    expect(result.returncode == 0, "some end-to-end cases failed under Wine")


def progress_lines(output):
    """The progress lines, in byte order: Windows lists a directory in its own."""
    return sorted(line for line in output.split(b"\r\n") if line)


def run_in(directory, command, env=None):
    return subprocess.run(command, cwd=directory, env=env, capture_output=True, timeout=900)


def mingw_directory(options, workdir):
    """The whole i686 directory in one run: every include file and progress
    line the same as the Linux program's."""
    (workdir / "linux").mkdir()
    (workdir / "wine").mkdir()
    pattern = f"{MINGW_I686}/*.a"
    linux = run_in(workdir / "linux", [options.linux_carvex, pattern])
    wine = run_in(workdir / "wine", [options.wine32, options.carvex, pattern], wine_environment(options))
    problems = [] if wine.returncode == linux.returncode == 0 else [
        f"status {wine.returncode} under Wine, {linux.returncode} on Linux"]
    if progress_lines(wine.stdout) != progress_lines(linux.stdout):
        problems.append(f"progress lines differ: {wine.stdout[-300:]!r}")
    made = {path.name: path.read_bytes() for path in (workdir / "linux").iterdir()}
    got = {path.name: path.read_bytes() for path in (workdir / "wine").iterdir()}
    expect(len(made) > 400, f"the Linux program wrote only {len(made)} include files")
    problems += [f"{name} missing" for name in sorted(made.keys() - got.keys())]
    problems += [f"{name} unexpected" for name in sorted(got.keys() - made.keys())]
    problems += [f"{name} differs" for name in sorted(made.keys() & got.keys()) if made[name] != got[name]]
    return problems or f"{len(made)} include files as on Linux"


def golden_libraries(options, workdir):
    """The golden tests' libraries, found by a quoted pattern with a space and
    backslashes (the command line that ParseCommandLine splits is Wine's),
    among files that must not stop the batch: a first member declared past
    the end of a 3 GiB file, a library of 5 GiB, a name the ANSI code page
    cannot spell, a library whose include is read-only."""
    libraries = run_cases.ImportLibraries(workdir, options.dlltool)
    source = workdir / "golden libs"
    source.mkdir()
    names = [f"{def_name}_{machine}" for def_name in ("kernel32", "user32") for machine in ("x86", "x64")]
    for name in names:
        (source / f"{name}.lib").write_bytes(libraries.get(*name.split("_")))
    small = case_table.archive(["_Foo@4"])
    hostile = {"damaged.lib": case_table.Sparse(case_table.archive(["_Foo@4"], size=b"9999999999"), 3 * case_table.GiB),
               "huge.lib": case_table.Sparse(small, 5 * case_table.GiB), "readonly.lib": small, "b\u0436.lib": small}
    run_cases.set_up(source, case_table.Case("hostile files", [], b"", files=hostile), libraries)
    out = workdir / "out"
    out.mkdir()
    (out / "readonly.inc").write_bytes(b"keep")
    (out / "readonly.inc").chmod(0o444)
    result = run_in(out, [options.wine32, options.carvex, "..\\golden libs\\*.lib", GOLDEN_SWITCH],
                    wine_environment(options))
    problems = [] if result.returncode == 1 else [f"status {result.returncode}"]
    messages = [case_table.INVALID.strip(), b"cannot write output file readonly.inc"]
    listed = [*names, "damaged", "huge", "readonly"]
    if progress_lines(result.stdout) != sorted([f"Processing {name}.lib".encode() for name in listed] + messages):
        problems.append(f"progress lines {result.stdout!r}")
    expected = {f"{name}.inc": (run_cases.GOLDEN / f"{name}{GOLDEN_SWITCH}.inc").read_bytes() for name in names}
    expected.update({"huge.inc": case_table.lines("EXTRNDEF '__imp__Foo@4',Foo"), "readonly.inc": b"keep"})
    made = {path.name: path.read_bytes() for path in out.iterdir()}
    problems += [f"{name} differs or is missing" for name in expected if made.get(name) != expected[name]]
    problems += [f"{name} unexpected" for name in made.keys() - expected.keys()]
    return problems or f"{len(names)} libraries as in the golden files, the others refused, converted or passed over"


def shared_case(options, name):
    def run(workdir):
        case = next(case for case in case_table.all_cases() if case.name == name)
        return run_cases.run_case(case, options.carvex, [options.wine32], None, False) or f"case '{name}'"
    return run


def carvex32(options):
    runs = {"mingw-w64 i686 directory": lambda workdir: mingw_directory(options, workdir),
            f"golden libraries {GOLDEN_SWITCH}": lambda workdir: golden_libraries(options, workdir)}
    runs.update({name: shared_case(options, name) for name in SHARED_CASES})
    use_wine_environment(options)
    run_cases.TIMEOUT = 900  # a 32-bit process under qemu takes about a minute of CPU
    failed = []
    with tempfile.TemporaryDirectory(prefix="carvex32-") as tmp:
        def in_own_directory(number, title):
            workdir = pathlib.Path(tmp) / str(number)
            workdir.mkdir()
            start = time.monotonic()
            return title, runs[title](workdir), time.monotonic() - start
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            for title, outcome, seconds in pool.map(in_own_directory, range(len(runs)), runs):
                if isinstance(outcome, str):
                    print(f"ok   {title}: {outcome} ({seconds:.1f} s)")
                else:
                    failed.append(title)
                    print(f"FAIL {title}:" + "".join(f"\n     {problem}" for problem in outcome[:20]))
    expect(not failed, f"{len(failed)} of {len(runs)} runs of carvex.exe failed")


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
            status = status_after_close(program, PATIENCE)
            expect(status is not None, "the program did not end after the close request")
            expect(status == 0, f"exit status {status}, not 0")
        finally:
            stop(program)
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
    parser.add_argument("--linux-carvex", help="the Linux program, whose output carvex.exe's must equal")
    parser.add_argument("--dlltool", default="llvm-dlltool")
    parser.add_argument("check", choices=["prefix-create", "prefix-stop", "imports", "end-to-end", "carvex32",
                                          "console", "window"])
    options = parser.parse_args()
    for name in ("carvex", "linux_carvex"):
        if getattr(options, name):
            setattr(options, name, str(pathlib.Path(getattr(options, name)).resolve()))
    checks = {"prefix-create": prefix_create, "prefix-stop": prefix_stop, "imports": imports,
              "end-to-end": end_to_end, "carvex32": carvex32, "console": console, "window": window}
    try:
        checks[options.check](options)
    except (CheckFailed, XvfbFailed, wine_prefix.WineFailed) as failure:
        print(f"{options.check}: {failure}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
