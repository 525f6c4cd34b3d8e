#!/usr/bin/env python3
"""The Windows programs, checked as files and run under Wine.

    wine_tests.py [paths] prefix-create | prefix-stop
    wine_tests.py [paths] --program PROGRAM.exe... imports | console | window
    wine_tests.py [paths] end-to-end --carvex carvex64.exe
    wine_tests.py [paths] carvex32 --carvex carvex.exe --linux-carvex carvex

One Wine prefix serves a whole test run: prefix-create makes it once (about
15 s), prefix-stop ends its wineserver. Exit status 0 when the check holds,
otherwise 1 with the reason.

carvex.exe and the i386 examples run under the 32-bit loader, which may run
under qemu (a kernel without 32-bit support): every such process then costs
about a minute, so carvex32 makes few runs, two at a time, each covering
much, and console and window run every program at once.
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
from xvfb_server import Xvfb, XvfbFailed, stop  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
import cases as case_table  # noqa: E402
import run_cases  # noqa: E402

RUN_CASES = HERE.parent / "e2e" / "run_cases.py"
MINGW_I686 = "/usr/i686-w64-mingw32/lib"
GOLDEN_SWITCH = "-fd"
# The shared cases that carvex.exe runs as they stand: the usage text, a
# pattern that matches nothing, includes in folders ANSI calls cannot name.
SHARED_CASES = ("banner: no arguments", "nothing matches", "include in a folder of 245 characters replaced",
                "include in a folder named dir\u0436 replaced")

MESSAGE = b"Poasm 64-bit console example."
PATIENCE = 30  # seconds; a Wine process start takes well under one
I386_PATIENCE = 600  # for a 32-bit one under qemu: a minute of CPU, several at once

# What each program may import: the functions of the Windows kernel and
# user-interface services that the programs are written against.
KERNEL32 = {"GetCommandLineA", "GetStdHandle", "WriteFile", "FindFirstFileA", "FindNextFileA", "FindClose",
            "CreateFileA", "GetFileSize", "ReadFile", "SetFilePointerEx", "SetEndOfFile", "CloseHandle", "MoveFileExA", "DeleteFileA", "ReplaceFileA",
            "GetFileAttributesA", "GetFinalPathNameByHandleA", "GetLastError", "SetConsoleCtrlHandler", "Sleep",
            "GetProcessHeap", "HeapAlloc", "HeapFree", "ExitProcess", "lstrlenA", "GetModuleHandleA"}
USER32 = {"LoadIconA", "LoadCursorA", "RegisterClassExA", "CreateWindowExA", "ShowWindow", "UpdateWindow",
          "GetMessageA", "TranslateMessage", "DispatchMessageA", "PostQuitMessage", "DefWindowProcA"}

# Machine, subsystem and the DLLs each program imports from, with the
# functions it needs from them at the least. The examples, in C++ or in
# assembly, call the same functions, the ANSI ones where there are two.
I386, AMD64 = "IMAGE_FILE_MACHINE_I386", "IMAGE_FILE_MACHINE_AMD64"
CONVERTER = ("IMAGE_SUBSYSTEM_WINDOWS_CUI", {"KERNEL32.dll": KERNEL32},
             {"GetCommandLineA", "FindFirstFileA", "CreateFileA", "HeapAlloc", "ExitProcess"})
CONSOLE = ("IMAGE_SUBSYSTEM_WINDOWS_CUI", {"KERNEL32.dll": KERNEL32}, {"GetStdHandle", "lstrlenA", "WriteFile",
                                                                         "ExitProcess"})
WINDOW = ("IMAGE_SUBSYSTEM_WINDOWS_GUI", {"KERNEL32.dll": KERNEL32, "USER32.dll": USER32},
          {"GetModuleHandleA", "ExitProcess", *USER32})
PROGRAMS = {"carvex.exe": (I386, *CONVERTER), "carvex64.exe": (AMD64, *CONVERTER),
            "console_example.exe": (AMD64, *CONSOLE), "console_masm64.exe": (AMD64, *CONSOLE),
            "console_fasm.exe": (I386, *CONSOLE), "window_example.exe": (AMD64, *WINDOW),
            "window_masm.exe": (I386, *WINDOW), "window_fasm.exe": (I386, *WINDOW)}


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
    for program in options.programs:
        name = pathlib.Path(program).name
        machine, subsystem, dlls, needed = PROGRAMS[name]
        got_machine, got_subsystem, got_imports = read_headers_and_imports(program, options.readobj)
        expect(got_machine == machine, f"{name}: machine {got_machine}, not {machine}")
        expect(got_subsystem == subsystem, f"{name}: subsystem {got_subsystem}, not {subsystem}")
        expect(set(got_imports) == set(dlls), f"{name}: imports from {sorted(got_imports)}, not {sorted(dlls)}")
        for dll, names in got_imports.items():
            expect(names <= dlls[dll], f"{name}: {dll} functions outside the platform's list: {names - dlls[dll]}")
        imported = set().union(*got_imports.values())
        expect(needed <= imported, f"{name}: does not import {needed - imported}")


# ---- running programs -------------------------------------------------------
def use_wine_environment(options):
    start_services(options)
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


def wine_for(options, program):
    """The loader for the program's machine, and how long its run may take:
    an i386 program's Wine may run under qemu, a minute of CPU a process."""
    if PROGRAMS[pathlib.Path(program).name][0] == I386:
        return options.wine32, I386_PATIENCE
    return options.wine64, PATIENCE


# Each run's arguments and where its output goes: the 29 bytes land in a
# file or a pipe, nothing added, and the status is 0 even where every write
# fails. Few runs: each costs an i386 program a minute.
CONSOLE_RUNS = [(["-p64", "a b", "*.lib"], "file"), ([], "pipe"), ([], "/dev/full"), ([], "closed")]


def run_console(options, program, arguments, output):
    """(exit status, what the program wrote, or None where that cannot be read)"""
    wine, patience = wine_for(options, program)
    command = [wine, program, *arguments]
    if output == "closed":  # by a shell: a preexec_fn is unsafe beside threads
        command = ["sh", "-c", 'exec "$@" >&-', "sh", *command]
    with tempfile.TemporaryFile() as file, open("/dev/full", "wb") as full:
        stdout = {"file": file, "pipe": subprocess.PIPE, "/dev/full": full}.get(output)
        result = subprocess.run(command, env=wine_environment(options), stdout=stdout, stderr=subprocess.PIPE,
                                timeout=patience)
        file.seek(0)
        return result.returncode, {"file": file.read(), "pipe": result.stdout}.get(output)


def console(options):
    """Every run of every program at once: an i386 Wine process under qemu
    takes a minute however little it does."""
    runs = [(program, *run) for program in options.programs for run in CONSOLE_RUNS]
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(runs)) as pool:
        outcomes = list(pool.map(lambda run: run_console(options, *run), runs))
    failed = [f"{pathlib.Path(program).name} {arguments} to {output}: status {status}, wrote {written!r}"
              for (program, arguments, output), (status, written) in zip(runs, outcomes)
              if status != 0 or written not in (None, MESSAGE)]
    expect(not failed, "\n".join(failed))


def run_client(options, display, command):
    # Wine gives the X window the program's file name as its class: the title identifies it.
    result = subprocess.run([options.client, "--title-only", command], env=wine_environment(options, display),
                            capture_output=True, timeout=PATIENCE * 2)
    expect(result.returncode == 0, result.stderr.decode().strip() or f"{command} failed")


def expect_running(programs):
    for program in programs:
        expect(program.poll() is None, f"{program.args[1]} ended by itself, status {program.poll()}")


def await_window(options, display, running, patience):
    """A window shown while every program runs; the probe is asked again
    while none has ended: a 32-bit program's first window takes minutes
    under qemu."""
    deadline = time.monotonic() + patience
    while True:
        expect_running(running)
        try:
            return run_client(options, display, "shown")
        except CheckFailed:
            if time.monotonic() > deadline:
                raise


def first_to_end(programs, patience):
    deadline = time.monotonic() + patience
    while time.monotonic() < deadline:
        ended = [program for program in programs if program.poll() is not None]
        if ended:
            return ended[0]
        time.sleep(0.1)
    return None


def window(options):
    """The programs at once on one display; each window in turn, as it
    appears, is closed politely while every program still waits, and that
    ends one program with status 0."""
    patience = max(wine_for(options, program)[1] for program in options.programs)
    with Xvfb(options.xvfb, PATIENCE) as server:
        start_services(options, server.display)
        started = [subprocess.Popen([wine_for(options, program)[0], program, "ignored", "arguments"],
                                    env=wine_environment(options, server.display),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                   for program in options.programs]
        running = list(started)
        try:
            while running:
                await_window(options, server.display, running, patience)
                expect_running(running)
                run_client(options, server.display, "close")
                closed = first_to_end(running, patience)
                expect(closed is not None, "no program ended after the close request")
                expect(closed.returncode == 0, f"{closed.args[1]}: exit status {closed.returncode}, not 0")
                running.remove(closed)
        finally:
            for program in started:
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
    parser.add_argument("--program", dest="programs", action="append", default=[],
                        help="a program the check is about (imports, console, window take several)")
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
