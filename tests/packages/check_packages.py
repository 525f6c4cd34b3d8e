#!/usr/bin/env python3
"""Makes the packages with cpack in a scratch folder and checks them: the
.deb's control fields and file list, lintian's verdict on it (no error and no
warning beyond the tags it overrides), its changelog's version, the carvex it
installs (unpacked into a scratch root and run on the sample library), and
with --zip the Windows zip's listing. Exit status 0 when all holds;
otherwise 1 with the reasons."""

import argparse
import gzip
import pathlib
import struct
import subprocess
import sys
import tempfile
import zipfile

DEB_FILES = {"./usr/bin/carvex", "./usr/share/man/man1/carvex.1.gz", "./usr/share/doc/carvex/copyright",
             "./usr/share/doc/carvex/changelog.gz", "./usr/share/lintian/overrides/carvex"}
DEB_FIELDS = {"Package": "carvex", "Architecture": "amd64", "Section": "devel"}
WINDOWS_FILES = {"carvex.exe", "carvex64.exe", "console_example.exe", "window_example.exe", "README.md", "LICENSE"}


def make_package(options, generator, folder):
    subprocess.run([options.cpack, "--config", options.config, "-G", generator, "-B", str(folder)],
                   check=True, stdout=subprocess.DEVNULL)


def needs_shared_libraries(program):
    """True when the ELF program names a dynamic loader (a PT_INTERP header)."""
    data = program.read_bytes()
    header_offset, = struct.unpack_from("<Q", data, 0x20)
    entry_size, count = struct.unpack_from("<HH", data, 0x36)
    return any(struct.unpack_from("<I", data, header_offset + i * entry_size)[0] == 3 for i in range(count))


def lintian_problems(options, deb):
    """lintian's errors and warnings on the .deb; overridden tags are not
    printed. Info tags are advice, and do not fail the package."""
    result = subprocess.run([options.lintian, "--fail-on", "error,warning", deb], capture_output=True, text=True)
    problems = [f"lintian: {line}" for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    if result.returncode != 0 and not problems:
        problems.append(f"lintian failed with status {result.returncode}: {result.stderr.strip()[-500:]}")
    return problems


def check_deb(options, folder):
    deb = folder / f"carvex_{options.version}_amd64.deb"
    if not deb.exists():
        return [f"no {deb.name}; cpack made {sorted(p.name for p in folder.glob('*.deb'))}"]
    problems = []
    fields = {}
    for line in subprocess.run(["dpkg-deb", "-f", deb], check=True, capture_output=True, text=True).stdout.splitlines():
        if line[:1] not in ("", " "):
            name, _, value = line.partition(":")
            fields[name] = value.strip()
    for name, want in {**DEB_FIELDS, "Version": options.version}.items():
        if fields.get(name) != want:
            problems.append(f".deb field {name}: {fields.get(name)!r}, not {want!r}")
    for name in ("Maintainer", "Description"):
        if not fields.get(name):
            problems.append(f".deb has no {name}")
    problems += lintian_problems(options, deb)
    listing = subprocess.run(["dpkg-deb", "-c", deb], check=True, capture_output=True, text=True).stdout
    files = {line.split()[-1] for line in listing.splitlines() if not line.startswith("d")}
    if files != DEB_FILES:
        problems.append(f".deb holds {sorted(files)}, not {sorted(DEB_FILES)}")
        return problems
    root = folder / "root"
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    # lintian leaves the changelog's version to the maintainer.
    changelog = gzip.decompress((root / "usr/share/doc/carvex/changelog.gz").read_bytes()).decode()
    latest = changelog.partition("\n")[0]
    if not latest.startswith(f"carvex ({options.version}) "):
        problems.append(f"the changelog's latest entry is {latest!r}, not version {options.version}")
    carvex = root / "usr/bin/carvex"
    if "Depends" not in fields and needs_shared_libraries(carvex):
        problems.append("the .deb declares no Depends, but its carvex needs shared libraries")
    work = folder / "work"
    work.mkdir()
    result = subprocess.run([carvex, options.sample], cwd=work, capture_output=True, timeout=60)
    include = work / "user32.inc"
    if result.returncode != 0 or not include.exists():
        problems.append(f"the installed carvex: status {result.returncode}, output {result.stdout!r:.200}")
    elif b"PostQuitMessage PROTO :DWORD\r\n" not in include.read_bytes():
        problems.append("the installed carvex wrote a user32.inc without PostQuitMessage")
    return problems


def check_zip(options, folder):
    name = f"carvex-{options.version}-windows"
    path = folder / f"{name}.zip"
    if not path.exists():
        return [f"no {path.name}; cpack made {sorted(p.name for p in folder.glob('*.zip'))}"]
    with zipfile.ZipFile(path) as archive:
        files = {n for n in archive.namelist() if not n.endswith("/")}
        want = {f"{name}/{n}" for n in WINDOWS_FILES}
        if files != want:
            return [f"the zip holds {sorted(files)}, not {sorted(want)}"]
        return [f"{n} is no Windows program" for n in sorted(want) if n.endswith(".exe") and archive.read(n)[:2] != b"MZ"]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--lintian", required=True)
    parser.add_argument("--config", required=True, help="the build's CPackConfig.cmake")
    parser.add_argument("--version", required=True)
    parser.add_argument("--sample", required=True, help="an import library for the installed carvex")
    parser.add_argument("--zip", action="store_true", help="check the Windows zip as well")
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="carvex-packages-") as scratch:
        folder = pathlib.Path(scratch)
        make_package(options, "DEB", folder)
        problems = check_deb(options, folder)
        if options.zip:
            make_package(options, "ZIP", folder)
            problems += check_zip(options, folder)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
