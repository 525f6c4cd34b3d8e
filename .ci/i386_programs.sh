#!/usr/bin/env bash
# Lets the kernel run 32-bit x86 (i386) Linux programs, as the tests need:
# Wine's 32-bit loader, which runs carvex.exe, and Debian's fasm are such
# programs.
#
# A tiny i386 program is tried first. Where it runs, the kernel has 32-bit
# support and nothing is changed. Where it does not (Linux 6.7 and later can
# be booted with ia32_emulation=off), qemu's user-mode emulator is installed
# and registered with the kernel's binfmt_misc for i386 executables, so that
# they run transparently, if slowly. Undo the registration with
#   echo -1 > /proc/sys/fs/binfmt_misc/qemu-i386
# Needs root (or sudo) only when something has to change.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

binfmt=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386-static
# i386 ELF executables (ET_EXEC, EM_386); the mask lets ET_DYN through too.
# "F" opens the emulator now, so it also serves programs in other mount namespaces.
registration=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F'

# A static i386 ELF executable of 95 bytes whose only code is exit(42):
# mov eax,1 / xor ebx,ebx / mov bl,42 / int 0x80.
probe_runs() {
  local dir status
  dir=$(mktemp -d)
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'`
        `'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'`
        `'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'`
        `'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'`
        `'\x5f\x00\x00\x00\x5f\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'`
        `'\xb8\x01\x00\x00\x00\x31\xdb\xb3\x2a\xcd\x80' > "$dir/probe"
  chmod +x "$dir/probe"
  status=0
  "$dir/probe" 2>/dev/null || status=$?
  rm -rf "$dir"
  [ "$status" -eq 42 ]
}

if probe_runs; then
  exit 0
fi

echo "i386 programs: this kernel does not run them; registering qemu-i386-static for them through binfmt_misc"
missing=()
for p in qemu-user-static binfmt-support libc6:i386; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  echo "i386 programs: installing ${missing[*]}"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ ! -e "$binfmt/register" ]; then
  echo "i386 programs: mounting binfmt_misc on $binfmt"
  $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [ -e "$binfmt/qemu-i386" ]; then
  echo "i386 programs: enabling the existing qemu-i386 entry"
  echo 1 | $sudo tee "$binfmt/qemu-i386" >/dev/null
else
  echo "i386 programs: writing the qemu-i386 entry to $binfmt/register (undo: echo -1 > $binfmt/qemu-i386)"
  printf '%s\n' "$registration" | $sudo tee "$binfmt/register" >/dev/null
fi
if ! probe_runs; then
  echo "i386 programs: still not running after the registration" >&2
  exit 1
fi
echo "i386 programs: they now run through $qemu"
