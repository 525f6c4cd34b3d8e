#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine:
#   bash .ci/deps.sh build   only what building carvex needs
#   bash .ci/deps.sh         everything, tests included
# Quiet and idempotent: packages already present are left as they are.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# "build" is what building carvex needs (the README's first command); the
# rest serves the example programs, the tests, the Windows builds and their
# packages, the fuzzer and the benchmarks. cpack's .deb asks dpkg-shlibdeps
# (dpkg-dev) for its Depends and file(1) which files are programs; the
# package test holds the .deb to lintian.
build_packages=(cmake ninja-build g++)
test_packages=(python3 make libx11-dev libgtest-dev dpkg-dev file lintian
               clang lld llvm libclang-rt-14-dev libbenchmark-dev
               xvfb x11-apps netpbm twm time
               mingw-w64-i686-dev mingw-w64-x86-64-dev wine64 wine32:i386 fasm)
packages=("${build_packages[@]}")
[ "${1:-all}" = build ] || packages+=("${test_packages[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  # wine32 runs carvex.exe, a 32-bit program: it needs the i386 architecture.
  if [[ " ${missing[*]} " == *:i386* ]]; then
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# carvex.exe under 32-bit Wine and fasm are i386 programs; a kernel without
# 32-bit support gets them run by qemu.
[ "${1:-all}" = build ] || bash "$(dirname "$0")/i386_programs.sh"
