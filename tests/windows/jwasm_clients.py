#!/usr/bin/env python3
"""The MASM-syntax include files that carvex writes (no switch, -s, -p64,
-l64), read by JWasm, a MASM-compatible assembler.

    jwasm_clients.py --carvex carvex --jwasm jwasm mingw default|s|p64|l64
    jwasm_clients.py --carvex carvex --jwasm jwasm --lld-link lld-link \
        --dlltool llvm-dlltool --wine32 wine --wine64 wine64 --wine-prefix DIR programs 32|64

mingw: a whole mingw-w64 directory converted in one run (the i686 one, or
the x86-64 one for -l64); JWasm assembles each include file alone, as
`jwasm -coff` under `.model flat, stdcall` or as `jwasm -win64`. A file
may fail only where the library's own names make it unusable, and each
error is told apart by JWasm's message and by the include line it names:
  - a reserved word as a name (an export named div or dh): that line alone
    fails and assembles once `option nokeyword` takes the word out of
    JWasm's vocabulary;
  - one name declared twice, with other parameters or with and without C
    (_X and _X@0, _X@12 and _X@16): the name has two PROTO lines that
    differ, and the library's symbol table two decorations of it;
  - a generic name that the library also exports by itself, kept apart from
    its 'A' variant by names that sort between them: its equ line redefines
    a name with a PROTO line;
  - a name that MASM cannot spell (the '.' of mingw's .refptr.X symbols).
Any other error fails the test; the counts are printed.

programs: console programs that call through the include files of small
llvm-dlltool libraries with `invoke`, linked by lld-link and run under Wine,
one process each. A program prints what lstrlen (lstrlenA through the equ),
lstrlenW and MulDiv(5, 3, 4) answered, and ends with the status
lstrlen * 100 + lstrlenW * 10 + MulDiv: 214 when 'A','B',0,0 gave two ANSI
characters and one wide one, and the three arguments of MulDiv arrived in
their order (5 * 3 / 4 rounds to 4; reversed, they would give 2).
  32: no switch, under `.model flat, stdcall`; and -s under `.model flat, c`,
      where only the STDCALL of the prototypes makes the callee clean the
      stack: the 32-bit programs add to their status how far esp moved over
      all their calls, so a stack left unbalanced changes it.
  64: -p64 over a 32-bit library (its decorations give the parameter
      counts), linked with the 64-bit library of the same plain names; -l64
      over that 64-bit library (VARARG prototypes).
"""
import collections
import pathlib
import re
import subprocess
import sys
import tempfile

from assembler_clients import (KERNEL32_DEF, MINGW_I686, MINGW_X86_64, ClientFailed, argument_parser, convert,
                               convert_directory, fail, import_library, in_parallel, link, run_check, run_under_wine)

# keeps_first_char: the names are the library's whole (-l64), not from their
# second character, which drops the underscore of 32-bit names.
Target = collections.namedtuple("Target", "switch libraries output_format header keeps_first_char")
SOURCE_32 = ".386\n.model flat, {model}\noption casemap:none\n"
SOURCE_64 = "option casemap:none\noption win64:3\noption frame:auto\n"
TARGETS = {
    "default": Target(None, MINGW_I686, "-coff", SOURCE_32.format(model="stdcall"), False),
    "s": Target("-s", MINGW_I686, "-coff", SOURCE_32.format(model="stdcall"), False),
    "p64": Target("-p64", MINGW_I686, "-win64", SOURCE_64, False),
    "l64": Target("-l64", MINGW_X86_64, "-win64", SOURCE_64, True),
}

# "libfoo.inc(12) : Error A2209: Syntax error: dup"
ERROR = re.compile(r"(?P<file>[^\s(]+)\((?P<line>\d+)\) : Error (?P<code>A\d+): (?P<text>.*)")
# One error of JWasm over an include file, with the include line it names.
Finding = collections.namedtuple("Finding", "number code text line")
TWICE_CODES = ("A2137", "A2138")  # Conflicting parameter definition; PROC and PROTO calling convention conflict
RESERVED_CODES = ("A2082", "A2209")  # Must be in segment block; Syntax error
RESERVED = "a reserved word as a name"
TWICE = "one name declared twice"
GENERIC = "a generic name the library also exports"
UNSPELLABLE = "a name MASM cannot spell"
REASONS = (RESERVED, TWICE, GENERIC, UNSPELLABLE)
MASM_NAME = re.compile(r"[A-Za-z_$@?][A-Za-z0-9_$@?]*")

USER32_DEF = """LIBRARY USER32.dll
EXPORTS
  wsprintfA
  wsprintfW
"""
PROGRAM = """{header}include kernel32.inc
include user32.inc
.data
sample  db 'A','B',0,0
format  db 'lstrlen %d lstrlenW %d MulDiv %d{stack_format}',13,10,0
ansi    {word} ?
wide    {word} ?
product {word} ?
line    db 80 dup(?)
written dd ?
.code
start proc
{body}start endp
end
"""
BODY_32 = """        mov     esi, esp
        invoke  lstrlen, addr sample
        mov     ansi, eax
        invoke  lstrlenW, addr sample
        mov     wide, eax
        invoke  MulDiv, 5, 3, 4
        mov     product, eax
        mov     eax, esi
        sub     eax, esp
        invoke  wsprintf, addr line, addr format, ansi, wide, product, eax
        mov     ebx, eax
        invoke  GetStdHandle, -11
        invoke  WriteFile, eax, addr line, ebx, addr written, 0
        imul    eax, ansi, 100
        imul    ecx, wide, 10
        add     eax, ecx
        add     eax, product
        add     eax, esi
        sub     eax, esp
        invoke  ExitProcess, eax
"""
BODY_64 = """        invoke  lstrlen, addr sample
        mov     ansi, rax
        invoke  lstrlenW, addr sample
        mov     wide, rax
        invoke  MulDiv, 5, 3, 4
        mov     product, rax
        invoke  wsprintf, addr line, addr format, ansi, wide, product
        mov     rbx, rax
        invoke  GetStdHandle, -11
        xor     esi, esi                ; a whole zero for lpOverlapped: VARARG takes a constant at its own size
        invoke  WriteFile, rax, addr line, rbx, addr written, rsi
        imul    rax, ansi, 100
        imul    rcx, wide, 10
        add     rax, rcx
        add     rax, product
        invoke  ExitProcess, rax
"""


def program_32(model):
    return PROGRAM.format(header=SOURCE_32.format(model=model), stack_format=" stack %d", word="dd", body=BODY_32)


PROGRAM_64 = PROGRAM.format(header=SOURCE_64, stack_format="", word="dq", body=BODY_64)
OUTPUT_32 = "lstrlen 2 lstrlenW 1 MulDiv 4 stack 0"
OUTPUT_64 = "lstrlen 2 lstrlenW 1 MulDiv 4"
# include_machine: the libraries the include files are made from;
# machine: the program's, and the libraries it links with.
Program = collections.namedtuple("Program", "include_machine machine source output")
PROGRAMS = {
    "32": {None: Program("x86", "x86", program_32("stdcall"), OUTPUT_32),
           "-s": Program("x86", "x86", program_32("c"), OUTPUT_32)},
    "64": {"-p64": Program("x86", "x64", PROGRAM_64, OUTPUT_64),
           "-l64": Program("x64", "x64", PROGRAM_64, OUTPUT_64)},
}
STATUS = 214
SHOWN_FAILURES = 20


def run_jwasm(jwasm, output_format, source, workdir, stem):
    """JWasm over one source; (status, its errors as (file, line, code,
    text), its whole report)."""
    (workdir / f"{stem}.asm").write_text(source, encoding="latin-1")
    result = subprocess.run([jwasm, "-q", "-e10000", output_format, f"-Fo{stem}.obj", f"{stem}.asm"],
                            cwd=workdir, capture_output=True, text=True, errors="replace", timeout=120)
    report = result.stdout + result.stderr
    errors = [(m["file"], int(m["line"]), m["code"], m["text"].strip())
              for m in map(ERROR.fullmatch, report.splitlines()) if m]
    return result.returncode, errors, report


def include_lines(include):
    return include.read_bytes().decode("latin-1").split("\r\n")


def assemble_include(jwasm, target, include):
    """JWasm's errors over the include file alone, none when it assembles;
    each with the include line it names ("" for a line elsewhere)."""
    status, errors, report = run_jwasm(jwasm, target.output_format, f"{target.header}include {include.name}\nend\n",
                                       include.parent, include.stem)
    if status == 0:
        return []
    if not errors:
        return [Finding(0, "status", f"{status}: {report.strip()[-300:]}", "")]
    lines = include_lines(include)
    return [Finding(number, code, text, lines[number - 1] if file == include.name and number <= len(lines) else "")
            for file, number, code, text in errors]


def reserved_lines(jwasm, target, lines, workdir):
    """Those of the lines that fail alone and assemble once their name is no
    longer a keyword (option nokeyword): their name is a reserved word."""
    def is_reserved(numbered):
        number, line = numbered
        name = line.split()[0]
        alone, _, _ = run_jwasm(jwasm, target.output_format, f"{target.header}{line}\nend\n", workdir, f"probe{number}")
        freed, _, _ = run_jwasm(jwasm, target.output_format,
                                f"{target.header}option nokeyword:<{name}>\n{line}\nend\n", workdir, f"probe{number}")
        return alone != 0 and freed == 0

    verdicts = in_parallel(is_reserved, list(enumerate(sorted(line for line in lines if line.strip()))))
    return {line for (_, line), reserved in verdicts.items() if reserved}


def prototypes_of(include):
    """{name: the parameter lists of its PROTO lines}"""
    prototypes = collections.defaultdict(set)
    for line in include_lines(include):
        words = line.split(" PROTO", 1)
        if len(words) == 2:
            prototypes[words[0]].add(words[1])
    return prototypes


def exported_decorations(library, keeps_first_char):
    """{name: the decorations it is exported with} from the library's symbol
    table, its first member: _X@12 and __imp__X@12 give X with '12', _X and
    __imp__X give X with ''."""
    data = library.read_bytes()
    table = data[68:68 + int(data[56:66])]  # after the signature and the member's header, which gives its size
    count = int.from_bytes(table[:4], "big")
    decorations = collections.defaultdict(set)
    for symbol in table[4 + 4 * count:].decode("latin-1").split("\0")[:count]:
        symbol = symbol.removeprefix("__imp_")
        base, _, decoration = symbol[1:].partition("@")
        decorations[symbol[:1] + base if keeps_first_char else base].add(decoration)
    return decorations


def explain(finding, prototypes, decorations, reserved):
    """The reason the library's own names give for the error, or None."""
    name = finding.line.split()[0] if finding.line.strip() else ""
    if finding.code in TWICE_CODES and len(prototypes.get(name, ())) > 1 and len(decorations.get(name, ())) > 1:
        return TWICE
    if (finding.code == "A2143" and finding.text == f"Symbol redefinition: {name}"
            and finding.line.startswith(f"{name} equ <") and name in prototypes):
        return GENERIC
    if finding.code == "A2209" and name and not MASM_NAME.fullmatch(name):
        return UNSPELLABLE
    if finding.code in RESERVED_CODES and finding.line in reserved:
        return RESERVED
    return None


def report_counts(label, includes, failures, explained):
    print(f"{label}: {len(includes)} include files: {len(includes) - len(failures)} assemble, {len(failures)} fail")
    for reason in REASONS:
        found = [(include, name) for include, name, why in explained if why == reason]
        names = sorted({name for _, name in found})
        print(f"  {reason}: {len({include for include, _ in found})} files, {len(found)} errors"
              + (f" ({', '.join(names[:8])}{', ...' if len(names) > 8 else ''})" if names else ""))


def classify(target, failures, reserved):
    """(include, name, reason) for each error that the library's names
    explain, and a description of each error that they do not."""
    explained, unexplained = [], []
    for include, found in sorted(failures.items()):
        prototypes = prototypes_of(include)
        decorations = exported_decorations(target.libraries / f"{include.stem}.a", target.keeps_first_char)
        for finding in found:
            why = explain(finding, prototypes, decorations, reserved)
            if why is None:
                unexplained.append(f"{include.name}({finding.number}): {finding.code} {finding.text}: "
                                   f"{finding.line!r}")
            else:
                explained.append((include, finding.line.split()[0], why))
    return explained, unexplained


def mingw(options):
    target = TARGETS[options.switch]
    with tempfile.TemporaryDirectory(prefix="carvex-jwasm-") as tmp:
        workdir = pathlib.Path(tmp)
        includes = convert_directory(options.carvex, target.libraries, target.switch, workdir)
        findings = in_parallel(lambda include: assemble_include(options.jwasm, target, include), includes)
        failures = {include: found for include, found in findings.items() if found}
        candidates = {finding.line for found in failures.values() for finding in found
                      if finding.code in RESERVED_CODES}
        reserved = reserved_lines(options.jwasm, target, candidates, workdir)
        explained, unexplained = classify(target, failures, reserved)
    for failure in unexplained[:SHOWN_FAILURES]:
        fail(failure)
    if len(unexplained) > SHOWN_FAILURES:
        fail(f"and {len(unexplained) - SHOWN_FAILURES} more errors of no accepted reason")
    report_counts(options.switch, includes, failures, explained)
    if len(failures) == len(includes):
        unexplained.append(fail(f"{options.switch}: no include file assembles"))
    return 1 if unexplained else 0


def build_program(options, switch, program, workdir):
    """The program's include files from libraries of include_machine, its
    executable linked with libraries of its own machine."""
    for machine in {program.include_machine, program.machine}:
        (workdir / machine).mkdir()
        for name, definition in (("kernel32", KERNEL32_DEF), ("user32", USER32_DEF)):
            import_library(options.dlltool, definition, name, machine, workdir / machine)
    convert(options.carvex, f"{program.include_machine}/*.lib", switch, workdir)
    output_format = "-coff" if program.machine == "x86" else "-win64"
    status, _, report = run_jwasm(options.jwasm, output_format, program.source, workdir, "program")
    if status != 0:
        raise ClientFailed(f"{switch or 'no switch'}: jwasm: {report}")
    libraries = [workdir / program.machine / f"{name}.lib" for name in ("kernel32", "user32")]
    return link(options.lld_link, program.machine, [workdir / "program.obj"], libraries, workdir / "program.exe")


def programs(options):
    with tempfile.TemporaryDirectory(prefix="carvex-jwasm-programs-") as tmp:
        expected = {}
        for switch, program in PROGRAMS[options.bits].items():
            workdir = pathlib.Path(tmp) / (switch or "default")
            workdir.mkdir()
            executable = build_program(options, switch, program, workdir)
            expected[executable] = (switch or "no switch", f"{program.output}\r\n".encode(), STATUS)
        wine = options.wine32 if options.bits == "32" else options.wine64
        return run_under_wine(options, wine, expected)


def main():
    parser = argument_parser(__doc__)
    parser.add_argument("--jwasm", required=True)
    checks = parser.add_subparsers(dest="check", required=True)
    checks.add_parser("mingw").add_argument("switch", choices=list(TARGETS))
    checks.add_parser("programs").add_argument("bits", choices=list(PROGRAMS))
    return run_check({"mingw": mingw, "programs": programs}, parser.parse_args())


if __name__ == "__main__":
    sys.exit(main())
