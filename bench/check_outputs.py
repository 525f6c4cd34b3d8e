#!/usr/bin/env python3
"""Byte-for-byte guard for speed work on the converter.

    python3 bench/check_outputs.py record DIR [--carvex BIN]   # before a change
    python3 bench/check_outputs.py compare DIR [--carvex BIN]  # after it

Converts the big benchmark library (in its shuffled order and nearly in
order) and the whole mingw batch with every switch (and with none), keeping each run's include files, console output and
exit code under DIR/<input>/<switch>/. 'compare' makes the same runs in a
scratch directory and fails on the first difference. The default binary is
build-bench/converter/carvex, built when needed.
"""

import argparse
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import inputs  # noqa: E402

sys.path.insert(0, os.path.join(inputs.REPO_DIR, "tests", "e2e"))
from cases import SWITCHES  # noqa: E402


def convert_all(carvex, target):
    for label, pattern in (("big", inputs.prepare_big()), ("big nearly", inputs.prepare_big("nearly sorted")),
                           ("batch", inputs.BATCH_PATTERN)):
        for sw in SWITCHES:
            where = os.path.join(target, label, sw or "none")
            os.makedirs(where)
            argv = [carvex, pattern] + ([sw] if sw else [])
            done = subprocess.run(argv, cwd=where, capture_output=True)
            with open(os.path.join(where, "console.txt"), "wb") as f:
                f.write(done.stdout + done.stderr + f"\nexit {done.returncode}\n".encode())


def compare_trees(expected, actual):
    """Lists every difference between the two trees."""
    problems = []
    for root, _, names in os.walk(expected):
        rel = os.path.relpath(root, expected)
        for name in names:
            mine = os.path.join(actual, rel, name)
            if not os.path.exists(mine):
                problems.append(f"missing: {os.path.join(rel, name)}")
            elif not filecmp.cmp(os.path.join(root, name), mine, shallow=False):
                problems.append(f"differs: {os.path.join(rel, name)}")
    for root, _, names in os.walk(actual):
        rel = os.path.relpath(root, actual)
        for name in names:
            if not os.path.exists(os.path.join(expected, rel, name)):
                problems.append(f"extra: {os.path.join(rel, name)}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("action", choices=["record", "compare"])
    parser.add_argument("directory")
    parser.add_argument("--carvex", help="binary to run (default: build-bench's, built when needed)")
    args = parser.parse_args()
    carvex = os.path.abspath(args.carvex) if args.carvex else inputs.build_carvex(
        os.path.join(inputs.REPO_DIR, "build-bench"))

    if args.action == "record":
        shutil.rmtree(args.directory, ignore_errors=True)
        convert_all(carvex, args.directory)
        count = sum(len(n) for _, _, n in os.walk(args.directory))
        print(f"recorded {count} files under {args.directory}")
        return
    scratch = tempfile.mkdtemp(prefix="carvex-check-")
    try:
        convert_all(carvex, scratch)
        problems = compare_trees(args.directory, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if problems:
        print("\n".join(problems[:40]))
        sys.exit(f"{len(problems)} differences")
    count = sum(len(n) for _, _, n in os.walk(args.directory))
    print(f"identical: {count} files, {len(SWITCHES)} switches, the big libraries and the batch")


if __name__ == "__main__":
    main()
