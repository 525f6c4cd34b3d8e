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
import resource
import shlex
import shutil
import subprocess
import sys
import tempfile

import cases as case_table

HERE = pathlib.Path(__file__).resolve().parent
GOLDEN = HERE / "golden"
DEFS = HERE / "defs"
# Drops the stdcall sizes from a .def for the 64-bit libraries; the Windows build uses it too.
PLAIN_DEF = HERE.parent.parent / "cmake" / "plain_def.cmake"
TIMEOUT = 60  # seconds a case may take
ROUNDS = 20


class ImportLibraries:
    """Import libraries made from the .def files with llvm-dlltool, once a run."""

    def __init__(self, directory: pathlib.Path, dlltool: str, cmake: str = shutil.which("cmake") or "cmake"):
        self.directory = directory
        self.dlltool = dlltool
        self.cmake = cmake
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
            stripped = self.directory / f"{def_name}-{machine}.def"
            subprocess.run([self.cmake, "-D", f"DEF={source}", "-D", f"PLAIN={stripped}", "-P", str(PLAIN_DEF)],
                           check=True)
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
        elif content is case_table.FIFO:
            os.mkfifo(path)
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


def stray_files(workdir: pathlib.Path, case):
    """Files the run left that the case neither laid out nor expects, such
    as a temporary include file."""
    known = {pathlib.Path(name) for name in [*case.files, *case.expect_files]}
    return [f"stray file {path.relative_to(workdir)}" for path in sorted(workdir.rglob("*"))
            if not path.is_dir() and path.relative_to(workdir) not in known]


def limits(case):
    """What the child process gets before it starts: a cap on the size of
    every file it writes, as a full disk would stop it."""
    if not case.file_size_limit:
        return None
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (case.file_size_limit, case.file_size_limit))


def run_case(case, program: str, launcher, libraries, update: bool):
    with tempfile.TemporaryDirectory(prefix="carvex e2e ") as tmp:
        workdir = pathlib.Path(tmp)
        set_up(workdir, case, libraries)
        command = [*launcher, program, *case.args]
        try:
            result = subprocess.run(command, cwd=workdir / case.cwd, capture_output=True, timeout=TIMEOUT,
                                    env=dict(os.environ), preexec_fn=limits(case))
        except subprocess.TimeoutExpired:
            return [f"still running after {TIMEOUT} s"]
        problems = stray_files(workdir, case)
        if result.stdout != case.stdout:
            problems.append(f"stdout: got {result.stdout!r:.400}, want {case.stdout!r:.400}")
        if result.returncode != case.status:
            problems.append(f"status: got {result.returncode}, want {case.status}")
        problems += check_files(workdir, case, update)
        return problems


def concurrent_writers(program: str):
    """Runs that write the same include file at once: each run's text lands
    whole or not at all, so the file always holds one run's text."""
    texts = {}
    with tempfile.TemporaryDirectory(prefix="carvex e2e ") as tmp:
        workdir = pathlib.Path(tmp)
        for side, count in (("a", 3000), ("b", 300)):  # lengths differ, so a mix shows
            names = [f"_{side}{i:05d}@8" for i in range(count)]
            (workdir / side).mkdir()
            (workdir / side / "x.lib").write_bytes(case_table.archive(names))
            texts[side] = case_table.lines(*(f"{n[1:-2]} PROTO :DWORD,:DWORD" for n in names))
        problems = []
        for _ in range(ROUNDS):
            runs = [subprocess.Popen([program, f"{side}/x.lib"], cwd=workdir, stdout=subprocess.DEVNULL)
                    for side in "ab" * 8]
            statuses = [run.wait(timeout=TIMEOUT) for run in runs]
            text = (workdir / "x.inc").read_bytes()
            if any(statuses) or text not in texts.values():
                problems.append(f"statuses {statuses}, x.inc of {len(text)} bytes is neither run's text")
            problems += [f"stray file {path.name}" for path in workdir.iterdir() if path.name not in {"a", "b", "x.inc"}]
        return problems


def report(name, problems):
    if problems:
        print(f"FAIL {name}")
        for problem in problems:
            print(f"     {problem}")
    return not problems


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
            # A launcher runs a Windows program, which these cases do not fit.
            if options.only not in case.name or (case.linux_only and launcher):
                continue
            ok = report(case.name, run_case(case, program, launcher, libraries, options.update_golden))
            passed, failed = passed + ok, failed + (not ok)
    if not launcher and options.only in "concurrent runs":
        ok = report("concurrent runs", concurrent_writers(program))
        passed, failed = passed + ok, failed + (not ok)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
