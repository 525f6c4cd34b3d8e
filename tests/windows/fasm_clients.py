#!/usr/bin/env python3
"""The FASM include files that carvex writes, read by a real assembler.

    fasm_clients.py --carvex carvex --fasm fasm mingw
    fasm_clients.py --carvex carvex --fasm fasm --lld-link lld-link \
        --wine32 wine --wine-prefix DIR programs

mingw: every mingw-w64 i686 library converted with -fd and with -fi in one
run each; fasm assembles each include file alone. A library's own names can
make a file unusable for FASM (an export named like an instruction, or one
name exported with and without a decoration): those two failures are the
only ones accepted, and the counts are printed.

programs: small i386 programs that include the -fd file (calls through the
import pointers) or the -fi file (calls through the thunks) of an
llvm-dlltool KERNEL32 import library, each linked from one object built without __UNICODE__ and
one built with it, and run under 32-bit Wine. lstrlen, which carvex joins
from lstrlenA and lstrlenW, is given the bytes 'A','B',0,0: two characters
for lstrlenA, one for lstrlenW, so the output shows which variant each
object called.
"""
import argparse
import concurrent.futures
import os
import pathlib
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
import wine_prefix  # noqa: E402

MINGW_I686 = pathlib.Path("/usr/i686-w64-mingw32/lib")
# What a FASM user writes before including the files.
MACROS = ("macro EXTRNDEF symbol,name { extrn symbol as name:dword }\n"
          "macro EXTERNDEF symbol,name { extrn symbol as name }\n")
ACCEPTED = ("reserved word used as symbol", "symbol already defined")
# The library the programs link with. fasm lists every declared name in the
# object, used or not, so the library holds only what the linker can resolve.
KERNEL32_DEF = """LIBRARY KERNEL32.dll
EXPORTS
  ExitProcess@4
  GetStdHandle@4
  lstrlenA@4
  lstrlenW@4
  WriteFile@20
"""
MODES = {"-fd": "call [{}]", "-fi": "call {}"}  # through the import pointer, through the thunk

CHECK_SOURCE = """format MS COFF
{macros}{unicode}include 'kernel32.inc'
public check as '_check_{variant}'
section '.text' code readable executable
check:                          ; writes its line, returns lstrlen's answer
        push    sample
        {lstrlen}
        push    eax
        add     al,'0'
        mov     [digit],al
        push    0
        push    written
        push    message_size
        push    message
        push    -11
        {get_std_handle}
        push    eax
        {write_file}
        pop     eax
        ret
section '.data' data readable writeable
sample  db 'AB',0,0
message db '{mode} {variant} lstrlen '
digit   db '?',13,10
message_size = $ - message
written dd ?
"""

MAIN_SOURCE = """format MS COFF
{macros}include 'kernel32.inc'
extrn '_check_ansi' as check_ansi
extrn '_check_unicode' as check_unicode
public start as '_start'
section '.text' code readable executable
start:  call    check_ansi
        imul    ebx,eax,10
        call    check_unicode
        add     eax,ebx
        push    eax             ; exit status: ANSI answer * 10 + Unicode answer
        {exit_process}
"""


def fail(why):
    print(f"FAIL {why}")
    return 1


def convert(carvex, pattern, switch, workdir):
    result = subprocess.run([carvex, pattern, switch], cwd=workdir, capture_output=True, timeout=600)
    if result.returncode != 0:
        raise SystemExit(fail(f"carvex {pattern} {switch}: status {result.returncode}: {result.stdout[-300:]!r}"))


def assemble(fasm, include, workdir):
    """fasm's verdict on one include file: None when it assembles, else its error."""
    source = workdir / (include.stem + ".asm")
    source.write_text(f"format MS COFF\n{MACROS}include '{include.name}'\n")
    result = subprocess.run([fasm, source.name, source.stem + ".obj"], cwd=workdir, capture_output=True,
                            text=True, errors="replace", timeout=120)
    if result.returncode == 0:
        return None
    report = result.stdout + result.stderr
    errors = [line for line in report.splitlines() if line.startswith("error: ")]
    return errors[-1][len("error: "):].rstrip(".") if errors else report.strip()[-200:]


def mingw(options):
    libraries = sorted(MINGW_I686.glob("*.a"))
    if not libraries:
        return fail(f"no libraries in {MINGW_I686} (is mingw-w64 installed?)")
    failed = 0
    for switch in MODES:
        with tempfile.TemporaryDirectory(prefix="carvex-fasm-") as tmp:
            workdir = pathlib.Path(tmp)
            convert(options.carvex, f"{MINGW_I686}/*.a", switch, workdir)
            includes = sorted(workdir.glob("*.inc"))
            if len(includes) != len(libraries):
                failed += fail(f"{switch}: {len(includes)} include files for {len(libraries)} libraries")
            with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count()) as pool:
                verdicts = dict(zip(includes, pool.map(lambda inc: assemble(options.fasm, inc, workdir), includes)))
        counts = {reason: sum(verdict == reason for verdict in verdicts.values()) for reason in ACCEPTED}
        print(f"{switch}: {len(includes)} include files: {sum(v is None for v in verdicts.values())} assemble, "
              + ", ".join(f"{count} '{reason}'" for reason, count in counts.items()))
        unexpected = {inc.name: verdict for inc, verdict in verdicts.items() if verdict not in (None, *ACCEPTED)}
        for name, verdict in sorted(unexpected.items()):
            failed += fail(f"{switch} {name}: {verdict}")
        if not any(verdict is None for verdict in verdicts.values()):
            failed += fail(f"{switch}: no include file assembles")
    return 1 if failed else 0


def build_program(options, switch, workdir):
    """One program for one include mode; returns its path."""
    (workdir / "kernel32.def").write_text(KERNEL32_DEF)
    subprocess.run([options.dlltool, "-m", "i386", "-k", "-d", "kernel32.def", "-l", "kernel32.lib"],
                   cwd=workdir, check=True, timeout=120)
    convert(options.carvex, "kernel32.lib", switch, workdir)
    call = MODES[switch].format
    mode = switch[1:]
    sources = {f"check_{variant}": CHECK_SOURCE.format(
        macros=MACROS, unicode="__UNICODE__ = 1\n" if variant == "unicode" else "", variant=variant, mode=mode,
        lstrlen=call("lstrlen"), get_std_handle=call("GetStdHandle"), write_file=call("WriteFile"))
        for variant in ("ansi", "unicode")}
    sources["main"] = MAIN_SOURCE.format(macros=MACROS, exit_process=call("ExitProcess"))
    for name, text in sources.items():
        (workdir / f"{name}.asm").write_text(text)
        result = subprocess.run([options.fasm, f"{name}.asm", f"{name}.obj"], cwd=workdir, capture_output=True,
                                text=True, timeout=120)
        if result.returncode != 0:
            raise SystemExit(fail(f"{switch}: fasm {name}.asm: {result.stdout}"))
    program = workdir / f"{mode}.exe"
    result = subprocess.run([options.lld_link, "/nologo", "/machine:x86", "/safeseh:no", "/nodefaultlib",
                             "/entry:start", "/subsystem:console", f"/out:{program.name}", "main.obj",
                             "check_ansi.obj", "check_unicode.obj", "kernel32.lib"],
                            cwd=workdir, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise SystemExit(fail(f"{switch}: lld-link: {result.stdout}{result.stderr}"))
    return program


def programs(options):
    environment = wine_prefix.environment(options.wine_prefix)
    failed = 0
    with tempfile.TemporaryDirectory(prefix="carvex-fasm-programs-") as tmp:
        built = {}
        for switch in MODES:
            workdir = pathlib.Path(tmp) / switch[1:]
            workdir.mkdir()
            built[switch] = build_program(options, switch, workdir)
        # 32-bit Wine processes are slow to start under an emulator: both at once.
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(built)) as pool:
            runs = {switch: pool.submit(subprocess.run, [options.wine32, str(program)], cwd=program.parent,
                                        env=environment, capture_output=True, timeout=600)
                    for switch, program in built.items()}
        for switch, run in runs.items():
            result = run.result()
            mode = switch[1:]
            wanted = f"{mode} ansi lstrlen 2\r\n{mode} unicode lstrlen 1\r\n".encode()
            if result.stdout != wanted or result.returncode != 21:
                failed += fail(f"{switch} program: output {result.stdout!r}, status {result.returncode}; "
                               f"wanted {wanted!r}, status 21")
            else:
                print(f"{switch} program: {result.stdout!r}, status 21")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--carvex", required=True, help="the Linux carvex, which writes the include files")
    parser.add_argument("--fasm", default="fasm")
    parser.add_argument("--lld-link", default="lld-link")
    parser.add_argument("--dlltool", default="llvm-dlltool")
    parser.add_argument("--wine32", default="/usr/lib/wine/wine")
    parser.add_argument("--wine-prefix")
    parser.add_argument("check", choices=["mingw", "programs"])
    options = parser.parse_args()
    options.carvex = str(pathlib.Path(options.carvex).resolve())
    return {"mingw": mingw, "programs": programs}[options.check](options)


if __name__ == "__main__":
    sys.exit(main())
