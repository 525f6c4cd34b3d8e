#!/usr/bin/env python3
"""The fault walk: carvex_faults, the converter over a build of the Linux
layer that fails a chosen call on purpose, converts two batches with the n-th
call of each kind failed with each error, or interrupted by a signal, for
n = 1, 2, ... until no n-th call is left. After every run each include holds
its old text or its whole new one (in place, damaged only where a write
failed after the room was had), no temporary file is left, the status is 1
exactly when a failure was printed and an include is left old only where a
message says why; an interrupted run ends by its signal.

    fault_walk.py --carvex build/tests/e2e/carvex_faults"""

import argparse
import concurrent.futures
import os
import pathlib
import signal
import subprocess
import sys
import tempfile

import cases as case_table
from run_cases import NOBODY

CALLS = ["CreateFileA", "ReadFile", "WriteFile", "SetFilePointerEx", "SetEndOfFile", "CloseHandle", "ReplaceFileA",
         "MoveFileExA", "DeleteFileA", "GetFileAttributesA", "GetFinalPathNameByHandleA", "GetFileSize", "HeapAlloc",
         "FindFirstFileA", "FindNextFileA"]
ERRORS = ["disk-full", "access-denied", "sharing-violation", "io-error", "out-of-memory"]
SIGNALS = ["SIGINT", "SIGTERM", "SIGHUP"]  # one in turn for each n
RUN_ENDING = {b"memory allocation failure", b"cannot read source file", b"file(s) not found"}
# The calls inside the step that writes an include in place: a write that
# fails there may leave it damaged; an interruption there lets it finish.
IN_PLACE_STEP = {"WriteFile", "SetFilePointerEx", "SetEndOfFile", "CloseHandle"}
# Faults of the batch driver, left to it: a failed listing taken for its end.
KNOWN = {("FindNextFileA", kind) for kind in ERRORS}
OLD = b"old include, kept whole\r\n"


def library(name, count):
    names = [f"_{name}{i:04d}@8" for i in range(count)]
    return case_table.archive(names)


# Each batch: the files laid out, the includes in the order converted (their
# name, where their text lands, whether they are refused), and how it runs.
PLAIN = dict(files={"work/a.lib": library("A", 40), "work/a.inc": OLD, "work/b.lib": library("B", 3),
                    "work/b.inc": OLD, "work/c.lib": library("C", 900), "work/c.inc": case_table.Link("../real/c.inc"),
                    "real/c.inc": OLD, "work/d.lib": library("D", 2), "work/carvex-0.tmp": case_table.DIRECTORY},
             modes={"work/b.inc": 0o444}, includes=[("a.inc", "work/a.inc", False), ("b.inc", "work/b.inc", True),
                                                    ("c.inc", "real/c.inc", False), ("d.inc", "work/d.inc", False)],
             in_place=False)
READ_ONLY_FOLDER = dict(files={"work/a.lib": library("A", 900), "work/a.inc": OLD * 9, "work/b.lib": library("B", 3),
                               "work/b.inc": OLD * 9},
                        modes={"work/a.inc": 0o666, "work/b.inc": 0o666, "work": 0o555},
                        includes=[("a.inc", "work/a.inc", False), ("b.inc", "work/b.inc", False)], in_place=True)


def lay_out(root: pathlib.Path, batch):
    for name, content in batch["files"].items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if content is case_table.DIRECTORY:
            path.mkdir()
        elif isinstance(content, case_table.Link):
            path.symlink_to(content.target)
        else:
            path.write_bytes(content)
    if not batch["in_place"]:
        os.link(root / "work/a.inc", root / "work/a-hard.inc")  # another name of the include's old file
    for name, mode in batch["modes"].items():
        os.chmod(root / name, mode)
    os.chmod(root, 0o711)


def run(program, batch, fault=None):
    """One run: its status, stdout, what the layer failed, and the files after."""
    with tempfile.TemporaryDirectory(prefix="carvex walk ") as tmp:
        root = pathlib.Path(tmp)
        lay_out(root, batch)
        log = root / "log"
        log.write_bytes(b"")
        log.chmod(0o666)
        env = dict(os.environ, CARVEX_FAULT=fault or "", CARVEX_FAULT_LOG=str(log))
        unprivileged = batch["in_place"] and os.geteuid() == 0
        result = subprocess.run([program, "*.lib"], cwd=root / "work", env=env, capture_output=True, timeout=60,
                                user=NOBODY if unprivileged else None, group=NOBODY if unprivileged else None,
                                extra_groups=[] if unprivileged else None)
        files = {str(path.relative_to(root)): path.read_bytes() if path.is_file() else b""
                 for path in root.rglob("*") if path.name != "log" and not path.is_dir()}
        os.chmod(root / "work", 0o755)
        fault = log.read_text().strip()
        return result.returncode, result.stdout, fault.split(" ", 3) if fault else [], files


def expected_include(batch, fault, index, processed, ended):
    """What the include converted index-th must hold after a run that reached
    the processed-th library: 'new' (unless a message says why), 'old', or
    None for either."""
    call, _, kind, name = (fault + ["", "", "", ""])[:4]
    current = processed - 1
    if not (ended or kind in SIGNALS) or index < current:
        return "new"
    if index > current or ended:
        return "old" if index > current else None
    if call in ("ReplaceFileA", "MoveFileExA") or (batch["in_place"] and call in IN_PLACE_STEP - {"CloseHandle"}):
        return "new"  # the step that puts the text in place is finished first
    return "old" if call == "WriteFile" or name.endswith(".tmp") else None


def check(batch, new_texts, status, stdout, fault, files):
    lines = [line for line in stdout.split(b"\r\n") if line]
    messages = [line for line in lines if not line.startswith(b"Processing ")]
    call, _, kind, name = (fault + ["", "", "", ""])[:4]
    problems = [f"left {path}" for path in files if "carvex-" in path]
    if kind in SIGNALS and status != -signal.Signals[kind]:
        problems.append(f"status {status}, not ended by {kind}")
    if kind not in SIGNALS and status != (1 if messages else 0):
        problems.append(f"status {status} after the messages {messages}")
    ended = any(message in RUN_ENDING for message in messages)
    for index, (include, path, refused) in enumerate(batch["includes"]):
        text, old, new = files.get(path), batch["files"].get(path), new_texts[path]
        told = f"cannot write output file {include}".encode() in messages
        damaged = batch["in_place"] and told and call in IN_PLACE_STEP  # may be, or hold either text
        want = expected_include(batch, fault, index, len(lines) - len(messages), ended)
        if text == new != old and not damaged and (refused or told or want == "old"):
            problems.append(f"{include} written, yet {'refused' if refused else 'reported or interrupted before'}")
        elif text == old and text != new and want == "new" and not told:
            problems.append(f"{include} left old without a word")
        elif text not in (old, new) and not damaged:
            problems.append(f"{include} holds neither text: {text!r:.80}")
    in_place_allowed = (call, kind) == ("ReplaceFileA", "access-denied") or (
        (call, kind) == ("CreateFileA", "access-denied") and name.endswith(".tmp") and not name.endswith("-0.tmp"))
    if "work/a-hard.inc" in files and files["work/a-hard.inc"] != OLD and not in_place_allowed:
        problems.append("the include's other name changed: it was written in place")
    return problems


def walk(program, batch, new_texts, call, kind):
    """Fails the n-th call for n = 1, 2, ... until none is left: the runs, and the problems of each."""
    runs, problems = 0, []
    for n in range(1, 10_000):
        fault_kind = SIGNALS[n % 3] if kind == "interrupt" else kind
        status, stdout, fault, files = run(program, batch, f"{call}:{n}:{fault_kind}")
        if not fault:
            return runs, problems
        runs += 1
        problems += [(fault, problem) for problem in check(batch, new_texts, status, stdout, fault, files)]
    return runs, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--carvex", required=True, help="carvex_faults")
    program = str(pathlib.Path(parser.parse_args().carvex).resolve())
    runs = failed = 0
    problems = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        walks = []
        for batch in (PLAIN, READ_ONLY_FOLDER):
            status, stdout, _, files = run(program, batch)
            new_texts = {path: files.get(path) for _, path, _ in batch["includes"]}
            baseline = check(batch, new_texts, status, stdout, [], files)
            problems, failed = problems + [(["no fault"], problem) for problem in baseline], failed + bool(baseline)
            for call in CALLS:
                for kind in (["out-of-memory"] if call == "HeapAlloc" else ERRORS) + ["interrupt"]:
                    walks.append(pool.submit(walk, program, batch, new_texts, call, kind))
        for future in walks:
            walk_runs, walk_problems = future.result()
            runs, problems = runs + walk_runs, problems + walk_problems
            failed += any(tuple(fault[:3:2]) not in KNOWN for fault, _ in walk_problems)
    for fault, problem in problems:
        print(f"{'known fault of the batch driver:' if tuple(fault[:3:2]) in KNOWN else 'FAIL'} {' '.join(fault)}: {problem}")
    print(f"fault walk: {runs} runs, each failing or interrupting one call; {len(walks)} walks, {failed} with problems")
    print(f"{len(walks) - failed} passed, {failed} failed")
    return 1 if failed or runs == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
