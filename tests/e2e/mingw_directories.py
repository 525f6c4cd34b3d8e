#!/usr/bin/env python3
"""Converts every import library of the mingw-w64 packages in one run per
directory (real libraries in the GNU layout, whose first member has the same
layout) and checks that each gets its include file, that nothing fails, and
a few lines that must be there."""

import argparse
import pathlib
import shlex
import subprocess
import sys
import tempfile

DIRECTORIES = [
    # directory, switch, {include file: lines it must hold}
    ("/usr/i686-w64-mingw32/lib", None, {
        "libkernel32.inc": [b"ExitProcess PROTO :DWORD\r\n", b"CreateFile equ <CreateFileA>\r\n\r\n"],
        "libuser32.inc": [b"MessageBoxA PROTO :DWORD,:DWORD,:DWORD,:DWORD\r\n", b"wsprintfA PROTO C :VARARG\r\n"],
    }),
    ("/usr/x86_64-w64-mingw32/lib", "-l64", {
        "libkernel32.inc": [b"ExitProcess PROTO :VARARG\r\n", b"CreateFile equ <CreateFileA>\r\n\r\n"],
    }),
]


def check_directory(program, launcher, directory, switch, expected_lines, any_order):
    libraries = sorted(pathlib.Path(directory).glob("*.a"))
    if not libraries:
        return [f"{directory}: no libraries (is mingw-w64 installed?)"]
    with tempfile.TemporaryDirectory(prefix="carvex-mingw-") as tmp:
        args = [*launcher, program, f"{directory}/*.a"] + ([switch] if switch else [])
        result = subprocess.run(args, cwd=tmp, capture_output=True, timeout=600)
        problems = []
        if result.returncode != 0:
            problems.append(f"{directory}: status {result.returncode}")
        wanted = [b"Processing " + lib.name.encode() for lib in libraries]
        got = result.stdout.split(b"\r\n")
        if got[-1] == b"":
            got.pop()
        # Windows lists a directory in its own order (NTFS sorts '_' after
        # the letters); Linux in byte order, which the list above follows.
        if (sorted(got) if any_order else got) != wanted:
            problems.append(f"{directory}: unexpected output {result.stdout[-300:]!r}")
        made = {p.name for p in pathlib.Path(tmp).glob("*.inc")}
        missing = {lib.name[:-2] + ".inc" for lib in libraries} - made
        if missing:
            problems.append(f"{directory}: no include file for {sorted(missing)[:5]}")
        for name, lines in expected_lines.items():
            text = (pathlib.Path(tmp) / name).read_bytes() if name in made else b""
            problems += [f"{name} lacks {line!r}" for line in lines if line not in text]
        print(f"{directory}: {len(libraries)} libraries, {len(made)} include files")
        return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--carvex", required=True)
    parser.add_argument("--launcher", default="")
    parser.add_argument("--any-order", action="store_true", help="accept the libraries in any order")
    options = parser.parse_args()
    program = str(pathlib.Path(options.carvex).resolve())
    failed = 0
    for directory, switch, lines in DIRECTORIES:
        problems = check_directory(program, shlex.split(options.launcher), directory, switch, lines,
                                   options.any_order)
        failed += 1 if problems else 0
        for problem in problems:
            print("FAIL", problem)
    print(f"{len(DIRECTORIES) - failed} passed, {failed} failed")
    return 1 if failed else 0

if __name__ == "__main__":
    sys.exit(main())
