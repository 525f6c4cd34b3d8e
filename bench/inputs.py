"""The benchmark's inputs: the big generated import library and the mingw batch.

The big library holds 100,000 stdcall exports in A/W pairs, argument sizes
from @0 to @48, listed in a fixed shuffled order so that the sort has real
work to do. llvm-dlltool makes it from a generated .def file; both land in
bench/results/inputs/ and are made again only when the .def text changes.
"""

import glob
import os
import random
import shutil
import subprocess
import sys

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
REPO_DIR = os.path.dirname(BENCH_DIR)
RESULTS_DIR = os.path.join(BENCH_DIR, "results")
INPUTS_DIR = os.path.join(RESULTS_DIR, "inputs")

BATCH_DIR = "/usr/i686-w64-mingw32/lib"
BATCH_PATTERN = BATCH_DIR + "/*.a"

BIG_PAIRS = 50_000  # 100,000 exports
VERBS = ["Get", "Set", "Make", "Kill", "Open", "Close", "Query", "Enum", "Find", "Load",
         "Draw", "Read", "Write", "Copy", "Move", "Map", "Lock", "Init", "Show", "Post"]
NOUNS = ["Win", "File", "Key", "Val", "Obj", "Proc", "Mod", "Res",
         "Bmp", "Font", "Rgn", "Menu", "Dev", "Svc", "Evt", "Sect"]


# The orders of the big library's exports: shuffled; sorted (a sorted
# symbol list, which the sort's in-order check passes at once); and sorted
# with the smallest export moved last, the quicksort's worst case, where it
# peels one name a level until its depth limit and the comb sort takes over.
ORDERS = ("random", "sorted", "nearly sorted")


def big_def_text(pairs=BIG_PAIRS, seed=6, order="random"):
    rng = random.Random(seed)
    bases = [f"{VERBS[i % len(VERBS)]}{NOUNS[(i // len(VERBS)) % len(NOUNS)]}{i}" for i in range(pairs)]
    rng.shuffle(bases)
    exports = []
    for base in bases:
        size = 4 * rng.randrange(13)  # @0 .. @48
        exports += [f"{base}A@{size}", f"{base}W@{size}"]
    if order != "random":
        exports.sort()
    if order == "nearly sorted":
        exports.append(exports.pop(0))
    return "\n".join(["LIBRARY big.dll", "EXPORTS"] + [f"  {e}" for e in exports]) + "\n"


def need_tool(name):
    path = shutil.which(name)
    if path is None:
        sys.exit(f"bench: '{name}' is not installed (bash .ci/deps.sh installs it)")
    return path


def prepare_big(order="random", pairs=BIG_PAIRS):
    """Returns the path of the library, making it when it is missing or stale."""
    os.makedirs(INPUTS_DIR, exist_ok=True)
    stem = ("big" if pairs == BIG_PAIRS else f"big{2 * pairs}") + ("" if order == "random" else "-" + order.replace(" ", "-"))
    def_path = os.path.join(INPUTS_DIR, stem + ".def")
    lib_path = os.path.join(INPUTS_DIR, stem + ".lib")
    text = big_def_text(pairs, order=order)
    current = None
    if os.path.exists(def_path):
        with open(def_path) as f:
            current = f.read()
    if current != text or not os.path.exists(lib_path):
        with open(def_path, "w") as f:
            f.write(text)
        subprocess.run([need_tool("llvm-dlltool"), "-m", "i386", "-k", "-d", def_path, "-l", lib_path],
                       check=True)
    return lib_path


def batch_files():
    files = sorted(glob.glob(BATCH_PATTERN))
    if not files:
        sys.exit(f"bench: no libraries in {BATCH_DIR} (bash .ci/deps.sh installs mingw-w64-i686-dev)")
    return files


def build_carvex(build_dir, targets=("carvex",)):
    """Configures (once) and builds the Release converter; returns its path."""
    build_dir = os.path.abspath(build_dir)
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", REPO_DIR, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", *targets], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "converter", "carvex")
