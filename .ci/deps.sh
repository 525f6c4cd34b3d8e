#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine.
# Quiet and idempotent: packages already present are left as they are.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

packages=(cmake ninja-build g++ clang lld llvm libclang-rt-14-dev python3
          libgtest-dev libgmock-dev libbenchmark-dev libx11-dev
          xvfb x11-apps netpbm xdotool hyperfine time
          mingw-w64-i686-dev mingw-w64-x86-64-dev wine64)
missing=()
for p in "${packages[@]}" wine32:i386; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  # wine32 runs carvex.exe, a 32-bit program: it needs the i386 architecture.
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
