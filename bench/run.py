#!/usr/bin/env python3
"""carvex against the I/O floor, cat, and a peer (llvm-nm --print-armap).

    python3 bench/run.py            # builds build-bench, prepares inputs, measures, prints the table
    python3 bench/run.py --quick    # one repetition: proves the benchmark works, asserts no timing

A full run (all inputs, more than one round) also writes its table into
docs/performance.md, between the markers there.

Every timed command is one process started with posix_spawn and reaped
with wait4; its wall time runs from the spawn to the reaping. Peak memory
comes from a separate, untimed pass under GNU time (%M): a child spawned
from Python itself would report the Python process's resident size as its
own peak, since Linux carries the high-water mark across exec. The commands of one round run
in a shuffled order, and each carvex time is divided by the floor, cat and
llvm-nm times of the same round and repetition; the table shows the medians
of those pair-by-pair ratios (and the floor ratio of each round), so a burst
of load from elsewhere moves numerator and denominator together.

The floor is what any converter must do at least: cat of the library (or
libraries) plus cp of a file the size of the include text (or texts), two
processes against one carvex process.

--baseline names an earlier carvex binary, measured in the same rounds on
every input without a switch, and on the big library with -fd as well:
carvex/baseline is then the change's own ratio, which the machine's load
moves least of all.

The inputs:
  big            one generated i386 import library, 100,000 stdcall exports in a
                 shuffled order (bench/inputs.py), with several switches
  big sorted     the same exports in sorted order
  big nearly     sorted, with the smallest export moved last
  big 1M         1,000,000 exports in a shuffled order
  batch          every /usr/i686-w64-mingw32/lib/*.a: carvex converts them in one run
                 (one pattern), cat reads them in one process, and llvm-nm runs once per
                 library, as a shell loop would.
carvex writes its include files into a scratch directory, on tmpfs when
/dev/shm exists, emptied before each run outside the timing.
"""

import argparse
import datetime
import json
import os
import platform
import random
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import inputs  # noqa: E402

BIG_SWITCHES = ["", "-s", "-p64", "-fd", "-so"]
BASELINE_SWITCHES = ["", "-fd"]  # on the big library; the other inputs without a switch
TIME = "time"  # GNU time's path, set in main()

# Limits checked after the run: carvex's time per the earlier build given
# with --baseline, measured in the same rounds, and peak memory per input
# byte, which the machine does not move. Ratios to the floor, cat and
# llvm-nm are shown, not limited: how fast a machine reads, faults pages in
# and starts processes moves them as much as carvex.
LIMITS = {
    "big (no switch)": {"memory": 0.8, "baseline": 0.85},
    "big -fd": {"baseline": 0.8},
    "big nearly (no switch)": {"memory": 0.8, "baseline": 0.8},
    "batch": {"baseline": 0.9},
}


def spawn(argv, cwd):
    """Runs argv with stdout and stderr on /dev/null; returns (seconds, rusage peak KiB, exit code)."""
    actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
               (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
    previous = os.getcwd()
    os.chdir(cwd)
    try:
        start = time.perf_counter_ns()
        pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        elapsed = (time.perf_counter_ns() - start) / 1e9
    finally:
        os.chdir(previous)
    return elapsed, usage.ru_maxrss, os.waitstatus_to_exitcode(status)


def peak_kib(argv, cwd):
    """The peak resident size of argv in KiB, as GNU time reports it."""
    with tempfile.NamedTemporaryFile("r") as report:
        spawn([TIME, "-f", "%M", "-o", report.name] + argv, cwd)
        last = report.read().strip().splitlines()
    return int(last[-1]) if last and last[-1].isdigit() else 0


def empty_directory(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


class Task:
    """One measured command; run() gives (seconds, peak KiB)."""

    def __init__(self, name, group, tool, argvs, out_dir=None, switch=None):
        self.name, self.group, self.tool = name, group, tool
        self.argvs = argvs  # one argv, or one per process for a loop
        self.out_dir = out_dir
        self.switch = switch
        self.failures = 0

    def run(self):
        """Returns the seconds that all the task's processes took, one after the other."""
        cwd = self.out_dir or "/"
        if self.out_dir:
            empty_directory(self.out_dir)
        total = 0.0
        for argv in self.argvs:
            seconds, _, code = spawn(argv, cwd)
            total += seconds
            if code != 0:
                self.failures += 1
        return total

    def peak(self):
        """The largest peak resident size, in KiB, of the task's processes."""
        cwd = self.out_dir or "/"
        if self.out_dir:
            empty_directory(self.out_dir)
        return max(peak_kib(argv, cwd) for argv in self.argvs)


def make_tasks(carvex, libs, files, out_dir, floor_files, cat, cp, nm, baseline=None):
    """libs: {group: library}; floor_files: {group: a file the size of its include text}."""
    tasks = []
    for group, lib in libs.items():
        for sw in (BIG_SWITCHES if group == "big" else [""]):
            argv = [carvex, lib] + ([sw] if sw else [])
            tasks.append(Task(f"{group} " + (sw or "(no switch)"), group, "carvex", [argv], out_dir, sw))
        for sw in (BASELINE_SWITCHES if baseline and group == "big" else [""] if baseline else []):
            tasks.append(Task(f"{group} baseline" + (f" {sw}" if sw else ""), group, "baseline",
                              [[baseline, lib] + ([sw] if sw else [])], out_dir, sw))
        tasks.append(Task(f"{group} cat", group, "cat", [[cat, lib]]))
        tasks.append(Task(f"{group} floor", group, "floor",
                          [[cat, lib], [cp, floor_files[group], os.path.join(out_dir, "floor.inc")]], out_dir))
        if group == "big":
            tasks.append(Task("big llvm-nm", group, "nm", [[nm, "--print-armap", lib]]))
    tasks.append(Task("batch", "batch", "carvex", [[carvex, inputs.BATCH_PATTERN]], out_dir))
    tasks.append(Task("batch cat", "batch", "cat", [[cat] + files]))
    tasks.append(Task("batch floor", "batch", "floor",
                      [[cat] + files, [cp, floor_files["batch"], os.path.join(out_dir, "floor.inc")]], out_dir))
    tasks.append(Task("batch llvm-nm", "batch", "nm", [[nm, "--print-armap", f] for f in files]))
    if baseline:
        tasks.append(Task("batch baseline", "batch", "baseline", [[baseline, inputs.BATCH_PATTERN]], out_dir))
    return tasks


def include_sizes(carvex, libs, out_dir):
    """{group: bytes of include text that one run without a switch writes}."""
    sizes = {}
    for group, pattern in list(libs.items()) + [("batch", inputs.BATCH_PATTERN)]:
        empty_directory(out_dir)
        spawn([carvex, pattern], out_dir)
        sizes[group] = sum(os.path.getsize(os.path.join(out_dir, n)) for n in os.listdir(out_dir))
    return sizes


def make_floor_files(sizes, directory):
    os.makedirs(directory, exist_ok=True)
    paths = {}
    for group, size in sizes.items():
        paths[group] = os.path.join(directory, group.replace(" ", "-") + ".inc")
        with open(paths[group], "wb") as f:
            f.write(b"x" * size)
    return paths


def measure(tasks, rounds, big_reps, seed):
    """Interleaves the tasks; returns {task name: {(round, rep): seconds}}."""
    samples = {t.name: {} for t in tasks}
    big = [t for t in tasks if t.group != "batch"]
    batch = [t for t in tasks if t.group == "batch"]
    rng = random.Random(seed)
    for r in range(rounds):
        schedule = []
        for rep in range(big_reps if big else 1):
            sub = [(t, rep) for t in big]
            rng.shuffle(sub)
            schedule.append(sub)
        batch_order = list(batch)
        rng.shuffle(batch_order)
        for t in batch_order:  # each batch task goes between two big sub-rounds
            schedule[rng.randrange(len(schedule))].append((t, 0))
        for sub in schedule:
            for t, rep in sub:
                samples[t.name][(r, rep)] = t.run()
        print(f"  round {r + 1}/{rounds} done", file=sys.stderr, flush=True)
    return samples


def ratios(num, den):
    return [num[k] / den[k] for k in num if k in den and den[k] > 0]


def median_and_spread(values):
    if len(values) < 2:
        return values[0], (values[0], values[0])
    q = statistics.quantiles(values, n=4, method="inclusive")
    return statistics.median(values), (q[0], q[2])


def fmt_ms(seconds):
    ms = seconds * 1000
    return f"{ms:.2f} ms" if ms < 10 else f"{ms:.1f} ms" if ms < 1000 else f"{ms / 1000:.2f} s"


def fmt_mib(kib):
    return f"{kib / 1024:.1f}"


def summarise(tasks, samples, peaks, sizes, exports):
    by_name = {t.name: t for t in tasks}
    rows = []
    for t in tasks:
        if t.tool != "carvex":
            continue
        mine = samples[t.name]
        row = {"input": t.name, "group": t.group, "samples": len(mine), "failures": by_name[t.name].failures,
               "carvex_s": statistics.median(mine.values()), "input_bytes": sizes[t.group],
               "exports": exports.get(t.group), "carvex_peak_kib": peaks[t.name]}
        for peer in ("floor", "cat", "nm", "baseline"):
            name = f"{t.group} {'llvm-nm' if peer == 'nm' else peer}"
            if peer == "baseline" and t.switch:
                name += f" {t.switch}"  # measured with -fd only
            if name not in samples:
                continue
            pairs = ratios(mine, samples[name])
            row[f"{peer}_s"] = statistics.median(samples[name].values())
            row[f"{peer}_peak_kib"] = peaks[name]
            row[f"carvex_per_{peer}"], row[f"carvex_per_{peer}_iqr"] = median_and_spread(pairs)
            row[f"carvex_per_{peer}_rounds"] = [
                statistics.median([mine[k] / samples[name][k] for k in mine if k[0] == r and k in samples[name]])
                for r in sorted({k[0] for k in mine})]
        rows.append(row)
    return rows


def table(rows):
    head = ["input", "carvex", "floor", "cat", "llvm-nm", "carvex/floor", "carvex/cat", "carvex/llvm-nm",
            "carvex/baseline", "peak MiB carvex (x input) / cat", "carvex/floor by round"]
    lines = [head]
    for r in rows:
        lines.append([
            r["input"], fmt_ms(r["carvex_s"]), fmt_ms(r["floor_s"]), fmt_ms(r["cat_s"]),
            fmt_ms(r["nm_s"]) if "nm_s" in r else "-",
            f"{r['carvex_per_floor']:.2f}", f"{r['carvex_per_cat']:.2f}",
            f"{r['carvex_per_nm']:.3f}" if "carvex_per_nm" in r else "-",
            f"{r['carvex_per_baseline']:.2f}" if "carvex_per_baseline" in r else "-",
            f"{fmt_mib(r['carvex_peak_kib'])} ({r['carvex_peak_kib'] * 1024 / r['input_bytes']:.2f}) / "
            f"{fmt_mib(r['cat_peak_kib'])}",
            " ".join(f"{x:.2f}" for x in r["carvex_per_floor_rounds"]),
        ])
    widths = [max(len(line[i]) for line in lines) for i in range(len(head))]
    out = ["| " + " | ".join(c.ljust(w) for c, w in zip(line, widths)) + " |" for line in lines]
    out.insert(1, "|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return "\n".join(out)


def verdicts(rows):
    notes = []
    by_input = {r["input"]: r for r in rows}
    for name, limit in LIMITS.items():
        r = by_input.get(name)
        if r is None:
            continue
        parts = []
        if "baseline" in limit and "carvex_per_baseline" in r:
            value = r["carvex_per_baseline"]
            parts.append(f"carvex/baseline {value:.2f} {'<=' if value <= limit['baseline'] else '>'} "
                         f"{limit['baseline']}")
        if "memory" in limit:
            share = r["carvex_peak_kib"] * 1024 / r["input_bytes"]
            parts.append(f"peak/file {share:.2f} {'<=' if share <= limit['memory'] else '>'} {limit['memory']}")
        if parts:
            notes.append(f"- {r['input']}: " + ", ".join(parts))
    for r in rows:
        if r["failures"]:
            notes.append(f"- {r['input']}: {r['failures']} runs with a non-zero exit code")
    return "\n".join(notes)


PERFORMANCE_PAGE = os.path.join(inputs.REPO_DIR, "docs", "performance.md")
TABLE_BEGIN = "<!-- bench/run.py writes the table below -->"
TABLE_END = "<!-- end of the table -->"


def write_performance_page(text):
    """Puts the run's text between the markers of docs/performance.md."""
    with open(PERFORMANCE_PAGE) as f:
        page = f.read()
    before, _, rest = page.partition(TABLE_BEGIN)
    _, _, after = rest.partition(TABLE_END)
    with open(PERFORMANCE_PAGE, "w") as f:
        f.write(f"{before}{TABLE_BEGIN}\n```\n{text.rstrip()}\n```\n{TABLE_END}{after}")


def default_out_dir():
    base = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    return tempfile.mkdtemp(prefix="carvex-bench-", dir=base)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="one round, one repetition (CI)")
    parser.add_argument("--rounds", type=int, default=7, help="rounds; each runs every task (default 7)")
    parser.add_argument("--big-reps", type=int, default=3, help="repetitions of the big tasks per round (default 3)")
    parser.add_argument("--build-dir", default=os.path.join(inputs.REPO_DIR, "build-bench"),
                        help="Release build directory to use (built when needed)")
    parser.add_argument("--carvex", help="use this carvex binary instead of building one")
    parser.add_argument("--baseline", help="an earlier carvex binary, measured beside it on every input")
    parser.add_argument("--out-dir", help="scratch directory for carvex's output (default: on /dev/shm)")
    parser.add_argument("--only", choices=["big", "big sorted", "big nearly", "big 1M", "batch"],
                        help="measure one of the inputs alone")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if args.quick:
        args.rounds, args.big_reps = 1, 1

    global TIME
    TIME = inputs.need_tool("time")  # the program, found on PATH
    cat = inputs.need_tool("cat")
    cp = inputs.need_tool("cp")
    nm = inputs.need_tool("llvm-nm")
    carvex = os.path.abspath(args.carvex) if args.carvex else inputs.build_carvex(args.build_dir)
    libs = {"big": inputs.prepare_big(), "big sorted": inputs.prepare_big("sorted"),
            "big nearly": inputs.prepare_big("nearly sorted"), "big 1M": inputs.prepare_big(pairs=500_000)}
    exports = {"big": 2 * inputs.BIG_PAIRS, "big sorted": 2 * inputs.BIG_PAIRS, "big nearly": 2 * inputs.BIG_PAIRS,
               "big 1M": 1_000_000}
    files = inputs.batch_files()
    out_dir = args.out_dir or default_out_dir()
    os.makedirs(out_dir, exist_ok=True)
    floor_dir = out_dir.rstrip("/") + "-floor"
    floor_files = make_floor_files(include_sizes(carvex, libs, out_dir), floor_dir)
    sizes = {group: os.path.getsize(lib) for group, lib in libs.items()}
    sizes["batch"] = sum(os.path.getsize(f) for f in files)
    print(f"inputs: {', '.join(f'{g} {n / 1e6:.1f} MB' for g, n in sizes.items())} ({len(files)} libraries "
          f"in {inputs.BATCH_DIR}); rounds {args.rounds} x repetitions {args.big_reps}", file=sys.stderr)

    baseline = os.path.abspath(args.baseline) if args.baseline else None
    tasks = make_tasks(carvex, libs, files, out_dir, floor_files, cat, cp, nm, baseline)
    if args.only:
        tasks = [t for t in tasks if t.group == args.only]
    for t in tasks:  # warm the page cache and the binaries, untimed
        if t.tool != "nm" or t.group == "big":
            t.run()
    for t in tasks:
        t.failures = 0
    started = datetime.datetime.now()
    samples = measure(tasks, args.rounds, args.big_reps, args.seed)
    print("  peak memory pass", file=sys.stderr, flush=True)
    peaks = {t.name: t.peak() for t in tasks}
    shutil.rmtree(out_dir, ignore_errors=True)
    shutil.rmtree(floor_dir, ignore_errors=True)

    rows = summarise(tasks, samples, peaks, sizes, exports)
    load = os.getloadavg()
    header = (f"carvex benchmark, {started:%Y-%m-%d %H:%M}, {platform.node()} ({os.cpu_count()} cores, "
              f"load {load[0]:.2f}), {args.rounds} rounds x {args.big_reps} big repetitions; "
              f"times are medians, ratios are medians of pair-by-pair ratios")
    text = "\n".join([header, "", table(rows), "", "Limits:", verdicts(rows), ""])
    print(text)

    os.makedirs(inputs.RESULTS_DIR, exist_ok=True)
    stamp = f"{started:%Y%m%d-%H%M%S}"
    for name in (f"results-{stamp}.txt", "latest.txt"):
        with open(os.path.join(inputs.RESULTS_DIR, name), "w") as f:
            f.write(text)
    raw = {
        "started": started.isoformat(), "rounds": args.rounds, "big_reps": args.big_reps,
        "carvex": carvex, "baseline": baseline, "input_bytes": sizes, "exports": exports, "batch_files": len(files),
        "rows": rows,
        "peaks_kib": peaks,
        "samples": {name: {f"{k[0]}.{k[1]}": v for k, v in s.items()} for name, s in samples.items()},
    }
    with open(os.path.join(inputs.RESULTS_DIR, "latest.json"), "w") as f:
        json.dump(raw, f, indent=1)
    print(f"written to {os.path.join(inputs.RESULTS_DIR, 'latest.txt')} and latest.json", file=sys.stderr)
    if args.rounds > 1 and not args.only:
        write_performance_page(text)
        print(f"and into {PERFORMANCE_PAGE}", file=sys.stderr)
    if any(r["failures"] for r in rows if r["group"] != "batch"):
        sys.exit("bench: carvex failed on the big library")


if __name__ == "__main__":
    main()
