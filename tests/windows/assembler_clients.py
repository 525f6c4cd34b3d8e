"""What the tests of the assembler clients (fasm, JWasm) share: converting
with carvex, assembling a whole directory's include files at once, import
libraries made from .def text, linking with lld-link and running the
programs under Wine."""
import argparse
import concurrent.futures
import os
import pathlib
import shutil
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
import wine_prefix  # noqa: E402

MINGW_I686 = pathlib.Path("/usr/i686-w64-mingw32/lib")
MINGW_X86_64 = pathlib.Path("/usr/x86_64-w64-mingw32/lib")
PLAIN_DEF = pathlib.Path(__file__).resolve().parent.parent.parent / "cmake" / "plain_def.cmake"

# The programs' KERNEL32. An assembler may list every declared name in its
# object, used or not (fasm does), so the library holds only names the
# linker can resolve.
KERNEL32_DEF = """LIBRARY KERNEL32.dll
EXPORTS
  ExitProcess@4
  GetStdHandle@4
  lstrlenA@4
  lstrlenW@4
  MulDiv@12
  WriteFile@20
"""
MACHINES = {"x86": ("i386", "/machine:x86", "/safeseh:no"), "x64": ("i386:x86-64", "/machine:x64")}


class ClientFailed(Exception):
    pass


def argument_parser(description):
    """The options of every client's test; each adds its assembler's."""
    parser = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--carvex", required=True, help="the Linux carvex, which writes the include files")
    parser.add_argument("--lld-link", default="lld-link")
    parser.add_argument("--dlltool", default="llvm-dlltool")
    parser.add_argument("--wine32", default="/usr/lib/wine/wine")
    parser.add_argument("--wine64", default="/usr/lib/wine/wine64")
    parser.add_argument("--wineserver", default="/usr/lib/wine/wineserver")
    parser.add_argument("--wine-prefix")
    return parser


def run_check(checks, options):
    """The exit status of the check that options.check names: 1, with the
    reason printed, when it fails."""
    options.carvex = str(pathlib.Path(options.carvex).resolve())
    try:
        return checks[options.check](options)
    except ClientFailed as failure:
        return fail(failure)


def fail(why):
    print(f"FAIL {why}")
    return 1


def convert(carvex, pattern, switch, workdir):
    """One carvex run over the pattern, with the switch or with none."""
    result = subprocess.run([carvex, str(pattern)] + ([switch] if switch else []), cwd=workdir,
                            capture_output=True, timeout=600)
    if result.returncode != 0:
        raise ClientFailed(f"carvex {pattern} {switch or ''}: status {result.returncode}: {result.stdout[-300:]!r}")


def libraries_in(directory):
    libraries = sorted(pathlib.Path(directory).glob("*.a"))
    if not libraries:
        raise ClientFailed(f"no libraries in {directory} (is mingw-w64 installed?)")
    return libraries


def convert_directory(carvex, directory, switch, workdir):
    """Every library of the directory in one carvex run; their include files."""
    libraries = libraries_in(directory)
    convert(carvex, f"{directory}/*.a", switch, workdir)
    includes = sorted(workdir.glob("*.inc"))
    if len(includes) != len(libraries):
        raise ClientFailed(f"{switch or 'no switch'}: {len(includes)} include files for {len(libraries)} libraries")
    return includes


def in_parallel(function, items):
    """{item: function(item)}, the items handled on every processor at once."""
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count()) as pool:
        return dict(zip(items, pool.map(function, items)))


def import_library(dlltool, definition, name, machine, workdir):
    """An llvm-dlltool import library from .def text with stdcall sizes:
    kept (-k) for x86, dropped for x64, whose exports carry none."""
    (workdir / f"{name}.def").write_text(definition)
    if machine == "x64":
        subprocess.run([shutil.which("cmake") or "cmake", "-D", f"DEF={name}.def", "-D", f"PLAIN={name}.def", "-P",
                        str(PLAIN_DEF)], cwd=workdir, check=True, timeout=120)
    subprocess.run([dlltool, "-m", MACHINES[machine][0]] + (["-k"] if machine == "x86" else [])
                   + ["-d", f"{name}.def", "-l", f"{name}.lib"], cwd=workdir, check=True, timeout=120)
    return workdir / f"{name}.lib"


def link(lld_link, machine, objects, libraries, program):
    """A console program whose entry is start, with no C runtime. Objects
    from assembler sources carry no @feat.00, hence no SafeSEH for x86."""
    result = subprocess.run([lld_link, "/nologo", *MACHINES[machine][1:], "/nodefaultlib", "/entry:start",
                             "/subsystem:console", f"/out:{program.name}", *map(str, objects),
                             *map(str, libraries)], cwd=program.parent, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise ClientFailed(f"lld-link {program.name}: {result.stdout}{result.stderr}")
    return program


def run_under_wine(options, wine, expected):
    """Runs the programs, all at once (a 32-bit Wine process is slow to start
    under an emulator), and checks each one's output and exit status.
    expected: {program: (label, standard output, exit status)}. 1 when one
    differs."""
    wine_prefix.start_services(options.wine64, options.wineserver, options.wine_prefix)
    environment = wine_prefix.environment(options.wine_prefix)
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(expected)) as pool:
        runs = {program: pool.submit(subprocess.run, [wine, str(program)], cwd=program.parent, env=environment,
                                     capture_output=True, timeout=600)
                for program in expected}
    failed = 0
    for program, (label, output, status) in expected.items():
        result = runs[program].result()
        if result.stdout != output or result.returncode != status:
            failed += fail(f"{label} program: output {result.stdout!r}, status {result.returncode}; "
                           f"wanted {output!r}, status {status}")
        else:
            print(f"{label} program: {result.stdout!r}, status {status}")
    return 1 if failed else 0
