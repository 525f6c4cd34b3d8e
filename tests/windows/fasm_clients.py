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
import pathlib
import subprocess
import sys
import tempfile

from assembler_clients import (KERNEL32_DEF, MINGW_I686, ClientFailed, argument_parser, convert, convert_directory,
                               fail, import_library, in_parallel, link, run_check, run_under_wine)

# What a FASM user writes before including the files.
MACROS = ("macro EXTRNDEF symbol,name { extrn symbol as name:dword }\n"
          "macro EXTERNDEF symbol,name { extrn symbol as name }\n")
ACCEPTED = ("reserved word used as symbol", "symbol already defined")
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
    failed = 0
    for switch in MODES:
        with tempfile.TemporaryDirectory(prefix="carvex-fasm-") as tmp:
            workdir = pathlib.Path(tmp)
            includes = convert_directory(options.carvex, MINGW_I686, switch, workdir)
            verdicts = in_parallel(lambda inc: assemble(options.fasm, inc, workdir), includes)
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
    library = import_library(options.dlltool, KERNEL32_DEF, "kernel32", "x86", workdir)
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
            raise ClientFailed(f"{switch}: fasm {name}.asm: {result.stdout}")
    objects = [workdir / f"{name}.obj" for name in sources]
    return link(options.lld_link, "x86", objects, [library], workdir / f"{mode}.exe")


def programs(options):
    with tempfile.TemporaryDirectory(prefix="carvex-fasm-programs-") as tmp:
        expected = {}
        for switch in MODES:
            workdir = pathlib.Path(tmp) / switch[1:]
            workdir.mkdir()
            mode = switch[1:]
            output = f"{mode} ansi lstrlen 2\r\n{mode} unicode lstrlen 1\r\n".encode()
            expected[build_program(options, switch, workdir)] = (switch, output, 21)
        return run_under_wine(options, options.wine32, expected)


def main():
    parser = argument_parser(__doc__)
    parser.add_argument("--fasm", default="fasm")
    parser.add_argument("check", choices=["mingw", "programs"])
    return run_check({"mingw": mingw, "programs": programs}, parser.parse_args())


if __name__ == "__main__":
    sys.exit(main())
