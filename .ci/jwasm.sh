#!/usr/bin/env bash
# Builds JWasm, the MASM-compatible assembler that the tests read carvex's
# PROTO include files with, and prints the program's path:
#   bash .ci/jwasm.sh [SOURCES.tar.gz]
# The archive holds JWasm's C sources under one top folder, as its public
# repository (github.com/Baron-von-Riedesel/JWasm) gives them; by default
# ../shared/clients/jwasm-2.21.tar.gz beside the clone. JWasm is a test
# client only, never part of carvex: it is built once per archive, outside
# the source tree, in ${XDG_CACHE_HOME:-~/.cache}/carvex. Needs gcc and make.
set -euo pipefail

archive=${1:-$(dirname "$0")/../../shared/clients/jwasm-2.21.tar.gz}
if [ ! -f "$archive" ]; then
  echo "jwasm.sh: no JWasm sources at $archive" >&2
  exit 1
fi
home=${XDG_CACHE_HOME:-$HOME/.cache}/carvex/jwasm-$(sha256sum "$archive" | cut -c1-16)
program=$home/jwasm
if [ ! -x "$program" ]; then
  mkdir -p "$home"
  work=$(mktemp -d "$home/build.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  tar -xzf "$archive" -C "$work" --strip-components=1
  # The makefile makes its output folder in a rule of its own, which a
  # parallel make may run after the first compiler.
  mkdir -p "$work/build/GccUnixR"
  if ! make -C "$work" -f GccUnix.mak -j"$(nproc)" >"$work/make.log" 2>&1; then
    cat "$work/make.log" >&2
    echo "jwasm.sh: building JWasm from $archive failed" >&2
    exit 1
  fi
  # One rename: a build running beside this one never sees half a program.
  mv "$work/build/GccUnixR/jwasm" "$program"
fi
"$program" -? >/dev/null
echo "$program"
