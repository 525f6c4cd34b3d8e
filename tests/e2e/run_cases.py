#!/usr/bin/env python3
"""Runs every end-to-end case of carvex against a built program, each in a
fresh temporary directory, and compares standard output, exit status and
every file byte for byte.

    run_cases.py --carvex build/converter/carvex
    run_cases.py --carvex build/carvex.exe --launcher /usr/bin/wine

The same cases serve the Linux program and the Windows one under Wine.
--update-golden rewrites the golden files from the program's output (read
the diff by hand before committing it)."""

import argparse
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

import cases as case_table

HERE = pathlib.Path(__file__).resolve().parent
GOLDEN = HERE / "golden"
DEFS = HERE / "defs"
TIMEOUT = 60  # seconds a case may take


class ImportLibraries:
    """Import libraries made from the .def files with llvm-dlltool, once a run."""

    def __init__(self, directory: pathlib.Path, dlltool: str):
        self.directory = directory
        self.dlltool = dlltool
        self.made = {}

    def get(self, def_name: str, machine: str) -> bytes:
        key = (def_name, machine)
        if key not in self.made:
            self.made[key] = self._make(def_name, machine)
        return self.made[key]

    def _make(self, def_name: str, machine: str) -> bytes:
        source = DEFS / f"{def_name}.def"
        out = self.directory / f"{def_name}-{machine}.lib"
        if machine == "x86":
            args = ["-m", "i386", "-k", "-d", str(source)]
        else:
            # 64-bit exports carry no stdcall sizes.
            plain = re.sub(r"^(\s+[A-Za-z_]\w*)@\d+", r"\1", source.read_text(), flags=re.M)
            stripped = self.directory / f"{def_name}-{machine}.def"
            stripped.write_text(plain)
            args = ["-m", "i386:x86-64", "-d", str(stripped)]
        subprocess.run([self.dlltool, *args, "-l", str(out)], check=True)
        return out.read_bytes()


def materialise(content, libraries: ImportLibraries) -> bytes:
    if isinstance(content, bytes):
        return content
    if isinstance(content, case_table.ImportLib):
        return libraries.get(content.def_name, content.machine)
    raise TypeError(f"unknown file content {content!r}")


def set_up(workdir: pathlib.Path, case, libraries: ImportLibraries):
    for name, content in case.files.items():
        path = workdir / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if content is case_table.DIRECTORY:
            path.mkdir(exist_ok=True)
        else:
            path.write_bytes(materialise(content, libraries))


def expected_file(content, update: bool):
    if isinstance(content, case_table.Golden):
        path = GOLDEN / content.name
        return path.read_bytes() if path.exists() else f"missing golden file {content.name}"

    return content


def check_files(workdir: pathlib.Path, case, update: bool):
    problems = []
    for name, content in case.expect_files.items():
        path = workdir / name
        if content is None:
            if path.exists():
                problems.append(f"{name} should not exist")
            continue
        actual = path.read_bytes() if path.is_file() else None
        if update and isinstance(content, case_table.Golden) and actual is not None:
            (GOLDEN / content.name).write_bytes(actual)
            continue
        if actual != expected_file(content, update):
            problems.append(f"{name} differs: got {actual!r:.300}")
    return problems


def run_case(case, program: str, launcher, libraries, update: bool):
    with tempfile.TemporaryDirectory(prefix="carvex e2e ") as tmp:
        workdir = pathlib.Path(tmp)
        set_up(workdir, case, libraries)
        command = [*launcher, program, *case.args]
        result = subprocess.run(command, cwd=workdir / case.cwd, capture_output=True, timeout=TIMEOUT,
                                env=dict(os.environ))
        problems = []
        if result.stdout != case.stdout:
            problems.append(f"stdout: got {result.stdout!r:.400}, want {case.stdout!r:.400}")
        if result.returncode != case.status:
            problems.append(f"status: got {result.returncode}, want {case.status}")
        problems += check_files(workdir, case, update)
        return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--carvex", required=True, help="the program to test")
    parser.add_argument("--launcher", default="", help="command put before the program, e.g. wine")
    parser.add_argument("--dlltool", default=shutil.which("llvm-dlltool") or "llvm-dlltool")
    parser.add_argument("--only", default="", help="run the cases whose name holds this text")
    parser.add_argument("--update-golden", action="store_true")
    options = parser.parse_args()

    program = str(pathlib.Path(options.carvex).resolve())
    launcher = shlex.split(options.launcher)
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="carvex-libs-") as libdir:
        libraries = ImportLibraries(pathlib.Path(libdir), options.dlltool)
        for case in case_table.all_cases():
            if options.only not in case.name:
                continue
            problems = run_case(case, program, launcher, libraries, options.update_golden)
            if problems:
                failed += 1
                print(f"FAIL {case.name}")
                for problem in problems:
                    print(f"     {problem}")
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
