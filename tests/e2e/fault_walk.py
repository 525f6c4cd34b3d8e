#!/usr/bin/env python3
# The fault walk: carvex_faults (the converter over a test build of the Linux
# layer that fails a chosen call on purpose) converts two batches with the
# n-th call of each kind failed with each error, or interrupted, for n = 1,
# 2, ... until no n-th call is left:
#     fault_walk.py --carvex build/tests/e2e/carvex_faults
# After every run: each include holds its old text or its whole new one (in
# place it may be damaged where a write failed once the room was had), no
# temporary file is left, the status is 1 exactly when a failure was
# printed, an include is left old only where a message or the run's end
# says why, and an interrupted run ends by its signal.
import concurrent.futures
import itertools
import os
import pathlib
import signal
import subprocess
import sys
import tempfile

import cases as case_table
from run_cases import NOBODY, set_up

CALLS = ["CreateFileA", "ReadFile", "WriteFile", "SetFilePointerEx", "SetEndOfFile", "CloseHandle", "ReplaceFileA",
         "MoveFileExA", "DeleteFileA", "GetFileAttributesA", "GetFinalPathNameByHandleA", "GetFileSize", "HeapAlloc",
         "FindFirstFileA", "FindNextFileA"]
ERRORS = ["disk-full", "access-denied", "sharing-violation", "io-error", "out-of-memory"]
SIGNALS = ["SIGINT", "SIGTERM", "SIGHUP"]  # one in turn for each n
RUN_ENDING = {b"memory allocation failure", b"cannot read source file", b"file(s) not found"}
# The calls of the step that writes an include in place: a failure there may
# leave it damaged (with its message), an interruption lets it finish.
IN_PLACE_STEP = {"WriteFile", "SetFilePointerEx", "SetEndOfFile", "CloseHandle"}
OLD = b"old include, kept whole\r\n"


def library(name, count):  # a library and the include it gives
    names = [f"{name}{i:04d}" for i in range(count)]
    return case_table.archive([f"_{n}@8" for n in names]), case_table.lines(*(f"{n} PROTO :DWORD,:DWORD" for n in names))


# Libraries a.lib, b.lib, ... whose includes are of these kinds: 'plain',
# 'read-only', 'link' (to real/), 'new' (none yet).
def batch(kinds, old, in_place=False):
    files, includes, modes = {}, [], {}
    for name, kind, count in zip("abcd", kinds, (40, 3, 900, 2)):
        files[f"work/{name}.lib"], new = library(name.upper(), count)
        path = f"real/{name}.inc" if kind == "link" else f"work/{name}.inc"
        files.update({path: old, f"work/{name}.inc": case_table.Link(f"../{path}")} if kind == "link" else
                     {path: old} if kind != "new" else {})
        modes.update({path: 0o444 if kind == "read-only" else 0o666} if kind != "new" else {})
        includes.append((f"{name}.inc", path, kind == "read-only" or (in_place and kind == "new"), new))
    modes.update({"work": 0o555} if in_place else {})
    return dict(case=case_table.Case("", [], b"", files=files, modes=modes), includes=includes, in_place=in_place)


# Plain, read-only and linked includes, a new one and a leftover folder
# carvex-0.tmp; then, in a read-only folder, includes written in place (one
# text longer than the old one, one shorter) and one that cannot be made.
PLAIN = batch(["plain", "read-only", "link", "new"], OLD)
PLAIN["case"].files["work/carvex-0.tmp"] = case_table.DIRECTORY
READ_ONLY_FOLDER = batch(["plain", "plain", "new"], OLD * 9, in_place=True)


def run(program, batch, fault):  # its status, stdout, the call the layer failed, and the files after
    with tempfile.TemporaryDirectory(prefix="carvex walk ") as tmp:
        root = pathlib.Path(tmp)
        set_up(root, batch["case"], None)
        if not batch["in_place"]:
            os.link(root / "work/a.inc", root / "work/a-hard.inc")  # another name of the include's old file
        (root / "log").write_bytes(b"")
        os.chmod(root / "log", 0o666), os.chmod(root, 0o711)
        nobody = dict(user=NOBODY, group=NOBODY, extra_groups=[]) if batch["in_place"] and os.geteuid() == 0 else {}
        result = subprocess.run([program, "*.lib"], cwd=root / "work", capture_output=True, timeout=60, **nobody,
                                env=dict(os.environ, CARVEX_FAULT=fault, CARVEX_FAULT_LOG=str(root / "log")))
        files = {str(path.relative_to(root)): path.read_bytes() if path.is_file() else b""
                 for path in root.rglob("*") if path.name != "log" and not path.is_dir()}
        (root / "work").chmod(0o755)
        failed = (root / "log").read_text().strip()
        return result.returncode, result.stdout, failed.split(" ", 3) if failed else [], files


# What the include converted index-th must hold after a run that reached the
# processed-th library: 'new' (unless a message says why), 'old', or None.
def expected_include(batch, call, kind, name, index, processed, ended):
    current = processed - 1
    if not (ended or kind in SIGNALS) or index < current:
        return "new"
    if index != current or ended:
        return "old" if index > current else None
    if call in ("ReplaceFileA", "MoveFileExA") or (batch["in_place"] and call in IN_PLACE_STEP - {"CloseHandle"}):
        return "new"  # the step that puts the text in place is finished first
    return "old" if call == "WriteFile" or name.endswith(".tmp") else None


def check(batch, status, stdout, fault, files):
    lines = [line for line in stdout.split(b"\r\n") if line]
    messages = [line for line in lines if not line.startswith(b"Processing ")]
    call, _, kind, name = (fault + ["", "", "", ""])[:4]
    problems = [f"left {path}" for path in files if "carvex-" in path]
    if status != (-signal.Signals[kind] if kind in SIGNALS else 1 if messages else 0):
        problems.append(f"status {status} after the messages {messages}")
    ended = any(message in RUN_ENDING for message in messages)
    for index, (include, path, refused, new) in enumerate(batch["includes"]):
        text, old = files.get(path), batch["case"].files.get(path)
        told = f"cannot write output file {include}".encode() in messages
        damaged = batch["in_place"] and told and call in IN_PLACE_STEP  # may hold any text
        want = expected_include(batch, call, kind, name, index, len(lines) - len(messages), ended)
        if text == new and not damaged and (refused or told or want == "old"):
            problems.append(f"{include} written, yet {'refused' if refused else 'reported or interrupted before'}")
        elif text == old and want == "new" and not told:
            problems.append(f"{include} left old without a word")
        elif text not in (old, new) and not damaged:
            problems.append(f"{include} holds neither text: {text!r:.80}")
    # Written in place only where the folder refused a free name, or the include's place.
    in_place = kind == "access-denied" and (call == "ReplaceFileA" or name.endswith(".tmp") and "-0." not in name)
    if files.get("work/a-hard.inc", OLD) != OLD and not in_place:
        problems.append("the include's other name changed: it was written in place")
    return problems


def walk(program, batch, call, kind):  # the n-th call failed until none is left: the runs, the problems
    problems = []
    for n in itertools.count(1):
        status, stdout, fault, files = run(program, batch, f"{call}:{n}:{SIGNALS[n % 3] if kind == '' else kind}")
        if not fault:
            return n - 1, problems
        problems += [(fault, problem) for problem in check(batch, status, stdout, fault, files)]


def main():
    program = str(pathlib.Path(sys.argv[sys.argv.index("--carvex") + 1]).resolve())
    problems = []
    for batch in (PLAIN, READ_ONLY_FOLDER):
        status, stdout, _, files = run(program, batch, "")
        problems += [(["no fault"], problem) for problem in check(batch, status, stdout, [], files)]
    runs, failed = 0, bool(problems)
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        walks = [pool.submit(walk, program, batch, call, kind) for batch in (PLAIN, READ_ONLY_FOLDER) for call in CALLS
                 for kind in (["out-of-memory"] if call == "HeapAlloc" else ERRORS) + [""]]
        for future in walks:
            walk_runs, walk_problems = future.result()
            runs, problems = runs + walk_runs, problems + walk_problems
            failed += bool(walk_problems)
    for fault, problem in problems:
        print(f"FAIL {' '.join(fault)}: {problem}")
    print(f"fault walk: {runs} runs, each failing or interrupting one call, in {len(walks)} walks\n"
          f"{len(walks) - failed} passed, {failed} failed")
    return 1 if failed or runs == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
