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
import signal
import stat
import subprocess
import sys
import tempfile
import time

import cases as case_table

HERE = pathlib.Path(__file__).resolve().parent
GOLDEN = HERE / "golden"
DEFS = HERE / "defs"
# Drops the stdcall sizes from a .def for the 64-bit libraries; the Windows build uses it too.
PLAIN_DEF = HERE.parent.parent / "cmake" / "plain_def.cmake"
TIMEOUT = 60  # seconds a case may take
LAUNCHER_START = 5  # seconds a launcher (Wine) may take to start a program, beyond a case's own time limit
ROUNDS = 20
NOBODY = 65534  # the user and group of an unprivileged run, where the tests run as root


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
        elif isinstance(content, case_table.Link):
            path.symlink_to(content.target)
        elif isinstance(content, case_table.HardLink):
            path.hardlink_to(workdir / content.target)
        elif isinstance(content, case_table.Sparse):
            path.write_bytes(content.head)
            os.truncate(path, content.size)
        else:
            path.write_bytes(materialise(content, libraries))
    for name, (uid, gid) in case.owners.items():
        os.chown(workdir / name, uid, gid, follow_symlinks=False)
    for name, mode in case.modes.items():
        os.chmod(workdir / name, mode)


def make_removable(workdir: pathlib.Path):
    """Undoes the modes a case set, so that its folder can be removed."""
    for path in [workdir, *workdir.rglob("*")]:
        if path.is_dir() and not path.is_symlink():
            path.chmod(0o700)


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
        if isinstance(content, case_table.Link):
            if not path.is_symlink() or os.readlink(path) != content.target:
                problems.append(f"{name} is no longer a link to {content.target}")
            continue
        actual = path.read_bytes() if path.is_file() else None
        if update and isinstance(content, case_table.Golden) and actual is not None:
            (GOLDEN / content.name).write_bytes(actual)
            continue
        if actual != expected_file(content, update):
            problems.append(f"{name} differs: got {actual!r:.300}")
    for name, mode in case.expect_modes.items():
        if (workdir / name).exists() and stat.S_IMODE((workdir / name).stat().st_mode) != mode:
            problems.append(f"{name}: mode {stat.S_IMODE((workdir / name).stat().st_mode):o}, not {mode:o}")
    for name, owner in case.expect_owners.items():
        info = (workdir / name).stat()
        if (info.st_uid, info.st_gid) != owner:
            problems.append(f"{name}: owner and group {(info.st_uid, info.st_gid)}, not {owner}")
    return problems


def stray_files(workdir: pathlib.Path, case):
    """Files the run left that the case neither laid out nor expects, such
    as a temporary include file."""
    known = {pathlib.Path(name) for name in [*case.files, *case.expect_files]}
    return [f"stray file {path.relative_to(workdir)}" for path in sorted(workdir.rglob("*"))
            if not path.is_dir() and path.relative_to(workdir) not in known]


def limits(case):
    """What the child process gets before it starts: limits (on the size of
    every file it writes, as a full disk would stop it), a umask; as root, nobody's
    rights where the case needs a user whom the folder's modes bind. None
    where there is nothing to apply: the Wine tests run cases from threads,
    where a function run before the child starts is unsafe."""
    unprivileged = case.unprivileged and os.geteuid() == 0
    if not case.rlimits and case.umask is None and not unprivileged:
        return None

    def apply():
        for limit, value in case.rlimits.items():
            resource.setrlimit(limit, (value, value))
        if case.umask is not None:
            os.umask(case.umask)
        if unprivileged:
            os.setgroups([])
            os.setgid(NOBODY)
            os.setuid(NOBODY)
    return apply


def peak_memory_problems(case, peak_before):
    """The largest child waited for so far sets RUSAGE_CHILDREN's peak: above
    both the limit and the peak before this run, it was this run."""
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
    if case.memory_limit and peak > max(peak_before, case.memory_limit):
        return [f"held {peak >> 20} MiB at its peak, more than {case.memory_limit >> 20} MiB"]
    return []


def run_case(case, program: str, launcher, libraries, update: bool):
    timeout = case.time_limit + (LAUNCHER_START if launcher else 0) if case.time_limit else TIMEOUT
    with tempfile.TemporaryDirectory(prefix="carvex e2e ") as tmp:
        workdir = pathlib.Path(tmp)
        try:
            set_up(workdir, case, libraries)
            command = [*launcher, program, *case.args]
            peak_before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
            try:
                result = subprocess.run(command, cwd=workdir / case.cwd, capture_output=True, timeout=timeout,
                                        env=dict(os.environ), preexec_fn=limits(case))
            except subprocess.TimeoutExpired:
                return [f"still running after {timeout} s"]
            problems = stray_files(workdir, case) + peak_memory_problems(case, peak_before)
            if result.stdout != case.stdout:
                problems.append(f"stdout: got {result.stdout!r:.400}, want {case.stdout!r:.400}")
            if result.returncode != case.status:
                problems.append(f"status: got {result.returncode}, want {case.status}")
            problems += check_files(workdir, case, update)
            return problems
        finally:
            make_removable(workdir)
            for name in filter(os.path.isabs, case.files):  # laid out elsewhere, such as on another file system
                shutil.rmtree(pathlib.Path(name).parent, ignore_errors=True)


# Runs that write the same include file at once: each run's text lands whole
# or not at all, so the file always holds one run's text. Under Wine four at
# a time: ReplaceFileA may find another run holding the include, and waits
# for it. In place (a read-only folder), runs with different switches: one
# that finds the include held waits for it, or fails cleanly.
def concurrent_writers(program: str, launcher, in_place: bool):
    runs = [(side, switch) for side in "ab" for switch in ("", "-s", "-p64", "-lz")] if in_place else \
        [("a", ""), ("b", "")] * (2 if launcher else 8)
    nobody = dict(user=NOBODY, group=NOBODY, extra_groups=[]) if in_place and os.geteuid() == 0 else {}
    with tempfile.TemporaryDirectory(prefix="carvex e2e ") as tmp:
        workdir, texts, problems = pathlib.Path(tmp), set(), []
        (work := workdir / "work").mkdir()
        for side, count in (("a", 3000), ("b", 300)):  # lengths differ, so a mix shows; runs read one library at once
            (workdir / side).mkdir()
            (workdir / side / "x.lib").write_bytes(case_table.archive([f"_{side}{i:05d}@8" for i in range(count)]))
        commands = [[*launcher, program, f"../{side}/x.lib", *filter(None, [switch])] for side, switch in runs]
        for command in commands:
            subprocess.run(command, cwd=work, stdout=subprocess.DEVNULL, timeout=TIMEOUT, check=True)
            texts.add((work / "x.inc").read_bytes())
        for path, mode in ((work / "x.inc", 0o666), (work, 0o555), (workdir, 0o755))[:3 if in_place else 0]:
            path.chmod(mode)
        for _ in range(ROUNDS):
            started = [subprocess.Popen(command, cwd=work, stdout=subprocess.PIPE, **nobody) for command in commands]
            outcomes = [(run.communicate(timeout=TIMEOUT)[0], run.returncode) for run in started]
            refused = b"Processing x.lib\r\ncannot write output file x.inc\r\n"
            clean = all(status == 0 or (in_place and (status, out) == (1, refused)) for out, status in outcomes)
            text = (work / "x.inc").read_bytes()
            if not clean or text not in texts:
                problems.append(f"statuses {[status for _, status in outcomes]}, x.inc of {len(text)} bytes")
            # Wine's ReplaceFileA moves the old include aside as rf<n>.tmp, and leaves it where another run holds it.
            problems += [f"stray file {path.name}" for path in work.iterdir()
                         if path.name != "x.inc" and not (launcher and path.name.startswith("rf"))]
        work.chmod(0o755)
        return problems


def new_file(workdir: pathlib.Path, known, run):
    """The first file to appear in the folder besides the known ones, or
    None once the run has ended without one."""
    while run.poll() is None:
        for entry in os.scandir(workdir):
            if entry.name not in known:
                return workdir / entry.name
    return None


def strays(workdir: pathlib.Path, settle: float):
    """Files besides the library and its include, once they had 'settle'
    seconds to go."""
    end = time.monotonic() + settle
    while True:
        found = [path.name for path in workdir.iterdir() if path.name not in {"x.lib", "x.inc"}]
        if not found or time.monotonic() > end:
            return found
        time.sleep(0.01)


def interrupt_while_writing(workdir: pathlib.Path, command, number, old: bytes, new: bytes, launcher, ignored=False):
    """One run stopped as soon as its temporary file appears, sent the
    signal and let go on. Problems, or None when the run ended before it
    could be caught."""
    (workdir / "x.inc").write_bytes(old)
    run = subprocess.Popen(command, cwd=workdir, stdout=subprocess.DEVNULL,
                           preexec_fn=(lambda: signal.signal(number, signal.SIG_IGN)) if ignored else None)
    temporary = new_file(workdir, {"x.lib", "x.inc"}, run)
    if temporary is None:
        run.wait()
        return None
    os.kill(run.pid, signal.SIGSTOP)
    os.kill(run.pid, number)
    os.kill(run.pid, signal.SIGCONT)
    status = run.wait(timeout=TIMEOUT)
    name = signal.Signals(number).name
    problems = [f"{name}: left {stray}" for stray in strays(workdir, 2 if launcher else 0)]
    # An interrupted run says so: ended by the signal on Linux, under Wine
    # with STATUS_CONTROL_C_EXIT (of which the parent sees the low byte). A
    # signal the parent ignores leaves the run to convert.
    want = 0 if ignored else 0xC000013A & 0xFF if launcher else -number
    if status != want:
        problems.append(f"{name}{' ignored' if ignored else ''}: status {status}, not {want}")
    # The handler runs beside the main thread, which may put the whole new
    # text in place before it is told (under load, or as Wine delivers
    # Ctrl+C): the include is then new, and whole.
    text = (workdir / "x.inc").read_bytes()
    if text not in ((new,) if ignored else (old, new)):
        problems.append(f"{name}: x.inc of {len(text)} bytes is neither the old text nor the whole new one")
    return problems


# Runs interrupted while they write a large include end without leaving their
# temporary file, keep the old include and say they were interrupted; a run
# whose parent ignores the signal goes on. Wine turns SIGINT into Ctrl+C, and
# removes a file marked for deletion a moment after the process ends. The
# fault walk interrupts every step on Linux.
def interrupted_runs(program: str, launcher):
    signals = [(signal.SIGINT, False)] + ([] if launcher else [(signal.SIGHUP, True)])
    with tempfile.TemporaryDirectory(prefix="carvex e2e ") as tmp:
        workdir = pathlib.Path(tmp)
        # 57 MB of prototypes, written in about 20 ms: time enough to catch a run at it.
        (workdir / "x.lib").write_bytes(case_table.archive([f"_Function{i:06d}@96" for i in range(300_000)]))
        command = [*launcher, program, "x.lib", "-p64"]
        subprocess.run(command, cwd=workdir, stdout=subprocess.DEVNULL, timeout=TIMEOUT, check=True)
        new = (workdir / "x.inc").read_bytes()
        old = b"old include, kept whole\r\n"
        problems = []
        for number, ignored in signals:
            outcome = None
            for _ in range(ROUNDS):
                outcome = interrupt_while_writing(workdir, command, number, old, new, launcher, ignored)
                if outcome is not None:
                    break
            problems += outcome if outcome is not None else [f"no run caught writing in {ROUNDS} tries"]
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
            # A launcher runs a Windows program, which the Linux cases do not fit, and the Windows cases need.
            if options.only not in case.name or (case.linux_only and launcher) or (case.wine_only and not launcher):
                continue
            if case.needs_root and os.geteuid() != 0:
                print(f"skip {case.name}: files of another owner need root to lay out")
                continue
            ok = report(case.name, run_case(case, program, launcher, libraries, options.update_golden))
            passed, failed = passed + ok, failed + (not ok)
    for in_place in (False, True)[:1 if launcher else 2]:
        name = "concurrent runs" + (" in place" if in_place else "")
        if options.only in name:
            ok = report(name, concurrent_writers(program, launcher, in_place))
            passed, failed = passed + ok, failed + (not ok)
    if options.only in "interrupted runs":
        ok = report("interrupted runs", interrupted_runs(program, launcher))
        passed, failed = passed + ok, failed + (not ok)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
