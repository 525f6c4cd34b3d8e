#!/usr/bin/python3
"""Runs a 32-bit x86 Windows console program on any Linux machine, even one
whose kernel runs no 32-bit code: the CPU is emulated in user mode by Unicorn
and the KERNEL32 functions the program imports are answered here in Python.

    pe_runner.py PROGRAM.exe ARGS...

Standard output is what the program writes to its standard output handle,
the exit status what it gives ExitProcess. Only what carvex.exe needs is
there: one module, KERNEL32 imports only, no threads, no exceptions. Needs
the Debian package python3-unicorn, which serves /usr/bin/python3."""

import os
import re
import stat
import struct
import sys
import types


def import_unicorn():
    # The binding of Unicorn 2.0.1 imports distutils.sysconfig and
    # pkg_resources and uses neither; loading them (setuptools) takes a
    # quarter of a second, most of a short run. Empty stand-ins serve that
    # import and go away after it; a binding that needs them gets the real ones.
    stand_ins = [name for name in ("distutils", "distutils.sysconfig", "pkg_resources") if name not in sys.modules]
    sys.modules.update((name, types.ModuleType(name)) for name in stand_ins)
    try:
        import unicorn.x86_const
    except Exception:
        for name in [n for n in sys.modules if n == "unicorn" or n.startswith("unicorn.")] + stand_ins:
            sys.modules.pop(name, None)
        stand_ins = []
        import unicorn.x86_const
    finally:
        for name in stand_ins:
            sys.modules.pop(name, None)
    return unicorn


unicorn = import_unicorn()
x86 = unicorn.x86_const

PAGE = 0x1000
STACK_TOP, STACK_SIZE = 0x00F00000, 0x00100000   # below the heap, above any image
HEAP_BASE, HEAP_SIZE = 0x10000000, 0x10000000    # HeapAlloc's 256 MiB
STUBS = 0x7FFE0000                               # one 16-byte slot per import
DATA = 0x7FFF0000                                # the command line

INVALID_HANDLE = 0xFFFFFFFF
STD_HANDLES = {0xFFFFFFF6: 0, 0xFFFFFFF5: 1, 0xFFFFFFF4: 2}   # input, output, error
GENERIC_READ, GENERIC_WRITE = 0x80000000, 0x40000000
CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING = 1, 2, 3
MOVEFILE_REPLACE_EXISTING = 0x1
HEAP_ZERO_MEMORY = 0x8
FAULT_STATUS = 139  # what a shell shows for a crashed program


def fail(message):
    sys.stderr.write(f"pe_runner: {message}\n")
    sys.stdout.flush()
    os._exit(FAULT_STATUS)


def align(value, to=PAGE):
    return (value + to - 1) & ~(to - 1)


def command_line(program, args):
    # What Windows programs expect to parse: one line, the program first,
    # a token that is empty or holds a space or tab in double quotes.
    tokens = [os.fsencode(t) for t in [program, *args]]
    return b" ".join(b'"' + t + b'"' if t == b"" or re.search(b"[ \t]", t) else t for t in tokens)


def wildcard(pattern):
    # '*' and '?' in the last path component, matched without regard to
    # ASCII case, as Windows does.
    parts = (b".*" if c == b"*" else b"." if c == b"?" else re.escape(c) for c in re.findall(b".", pattern, re.S))
    return re.compile(b"".join(parts) + b"\\Z", re.S | re.I)


class Heap:
    """First fit over a free list in a reserved region, with a bump pointer
    behind it; the block at the top returns to the bump pointer when freed.
    Blocks are 8-byte aligned, as the 32-bit Windows heap gives them."""

    def __init__(self, base, size):
        self.top, self.end = base, base + size
        self.used = {}      # address -> size
        self.free = []      # [address, size], lowest address first

    def alloc(self, size):
        size = align(max(size, 1), 8)
        for i, (address, room) in enumerate(self.free):
            if room >= size:
                self.free[i:i + 1] = [[address + size, room - size]] if room > size else []
                self.used[address] = size
                return address
        if self.top + size > self.end:
            return 0
        address, self.top = self.top, self.top + size
        self.used[address] = size
        return address

    def release(self, address):
        size = self.used.pop(address, None)
        if size is None:
            return False
        self.free.append([address, size])
        self.free.sort()
        merged = []
        for block in self.free:   # join neighbours so big blocks can be reused
            if merged and merged[-1][0] + merged[-1][1] == block[0]:
                merged[-1][1] += block[1]
            else:
                merged.append(block)
        if merged and merged[-1][0] + merged[-1][1] == self.top:
            self.top = merged.pop()[0]
        self.free = merged
        return True


class Process:
    def __init__(self, path, args):
        self.uc = unicorn.Uc(unicorn.UC_ARCH_X86, unicorn.UC_MODE_32)
        self.handles = {0x10 + 4 * n: ("std", fd) for n, fd in enumerate((0, 1, 2))}
        self.next_handle = 0x100
        self.heap = Heap(HEAP_BASE, HEAP_SIZE)
        self.stubs = []      # (name, function, argument bytes) by slot
        self.exit_code = None
        self.entry = self.load(path)
        line = command_line(path, args)
        self.uc.mem_map(DATA, align(len(line) + 1))
        self.uc.mem_write(DATA, line + b"\0")
        self.uc.mem_map(STACK_TOP - STACK_SIZE, STACK_SIZE)
        self.uc.mem_map(HEAP_BASE, HEAP_SIZE)

    # ---- the image -------------------------------------------------------
    def load(self, path):
        image = open(path, "rb").read()
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", image, pe + 4)
        if image[pe:pe + 4] != b"PE\0\0" or machine != 0x14C:
            fail(f"{path}: not an i386 PE image")
        opt = pe + 24
        entry, = struct.unpack_from("<I", image, opt + 16)
        base, = struct.unpack_from("<I", image, opt + 28)
        size_of_image, size_of_headers = struct.unpack_from("<II", image, opt + 56)
        import_rva, = struct.unpack_from("<I", image, opt + 96 + 8)
        # Mapped at its preferred base, which is free here: no relocations to
        # apply. One read-write-execute mapping keeps the loader small.
        self.uc.mem_map(base, align(size_of_image))
        self.uc.mem_write(base, image[:size_of_headers])
        for n in range(sections):
            header = opt + optional_size + 40 * n
            virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", image, header + 8)
            self.uc.mem_write(base + rva, image[raw_at:raw_at + min(raw_size, virtual_size or raw_size)])
        self.bind_imports(base, import_rva)
        return base + entry

    def bind_imports(self, base, descriptor):
        # Each import's address slot gets a stub: 'ret N' (the stdcall pop of
        # return address and arguments), hooked so Python runs first.
        self.uc.mem_map(STUBS, 0x10000)
        self.uc.hook_add(unicorn.UC_HOOK_CODE, self.on_stub, begin=STUBS, end=STUBS + 0xFFFF)
        self.add_stub("(return from entry)", self.returned, 0)  # where the entry routine returns
        while descriptor:
            lookup, _, _, dll_rva, address_rva = struct.unpack("<5I", self.uc.mem_read(base + descriptor, 20))
            if dll_rva == 0:
                break
            dll = self.string(base + dll_rva).decode().upper()
            lookup = lookup or address_rva
            while True:
                entry, = struct.unpack("<I", self.uc.mem_read(base + lookup, 4))
                if entry == 0:
                    break
                name = f"#{entry & 0xFFFF}" if entry & 0x80000000 else self.string(base + entry + 2).decode()
                function = getattr(self, name, None) if dll == "KERNEL32.DLL" else None
                if function is None:
                    stub = self.add_stub(f"{dll}!{name}", None, 0)
                else:
                    stub = self.add_stub(name, function, 4 * (function.__code__.co_argcount - 1))
                self.uc.mem_write(base + address_rva, struct.pack("<I", stub))
                lookup, address_rva = lookup + 4, address_rva + 4
            descriptor += 20

    def add_stub(self, name, function, argument_bytes):
        address = STUBS + 16 * len(self.stubs)
        self.stubs.append((name, function))
        self.uc.mem_write(address, b"\xC2" + struct.pack("<H", argument_bytes))
        return address

    def on_stub(self, uc, address, size, _):
        name, function = self.stubs[(address - STUBS) // 16]
        if function is None:
            fail(f"call to {name}, which is not provided")
        esp = uc.reg_read(x86.UC_X86_REG_ESP)
        count = function.__code__.co_argcount - 1
        try:
            args = struct.unpack(f"<{count}I", uc.mem_read(esp + 4, 4 * count))
            uc.reg_write(x86.UC_X86_REG_EAX, function(*args) & 0xFFFFFFFF)
        except Exception as error:  # a bad pointer, say; raised in a hook it would be ignored
            fail(f"{name}: {error!r}")

    def run(self):
        esp = STACK_TOP - 16
        self.uc.mem_write(esp, struct.pack("<I", STUBS))  # the entry routine's return address
        self.uc.reg_write(x86.UC_X86_REG_ESP, esp)
        try:
            self.uc.emu_start(self.entry, 0)
        except unicorn.UcError as error:
            fail(f"{error} at EIP {self.uc.reg_read(x86.UC_X86_REG_EIP):#x}")
        if self.exit_code is None:
            fail(f"emulation stopped at EIP {self.uc.reg_read(x86.UC_X86_REG_EIP):#x}")
        return self.exit_code

    # ---- memory helpers --------------------------------------------------
    def string(self, address):
        text = b""
        while b"\0" not in text:  # a page at a time: never past the mapping the string ends in
            at = address + len(text)
            text += self.uc.mem_read(at, PAGE - at % PAGE)
        return text[:text.index(b"\0")]

    def store(self, address, value):
        if address:
            self.uc.mem_write(address, struct.pack("<I", value))

    def new_handle(self, thing):
        handle, self.next_handle = self.next_handle, self.next_handle + 4
        self.handles[handle] = thing
        return handle

    @staticmethod
    def host_path(text):
        return text.replace(b"\\", b"/")  # Windows takes both separators

    # ---- KERNEL32: one method per import, the arguments as DWORDs --------
    def returned(self):
        # As Windows does for an entry routine that returns: the thread's end,
        # and with it the process's, with EAX as the status.
        return self.ExitProcess(self.uc.reg_read(x86.UC_X86_REG_EAX))

    def ExitProcess(self, code):
        self.exit_code = code
        self.uc.emu_stop()
        return 0

    def GetCommandLineA(self):
        return DATA

    def GetStdHandle(self, which):
        fd = STD_HANDLES.get(which)
        return INVALID_HANDLE if fd is None else 0x10 + 4 * fd

    def GetProcessHeap(self):
        return HEAP_BASE  # one heap; any stable non-null value

    def HeapAlloc(self, heap, flags, size):
        address = self.heap.alloc(size) if size < HEAP_SIZE else 0
        if address and flags & HEAP_ZERO_MEMORY:
            self.uc.mem_write(address, bytes(size))  # a reused block holds old bytes
        return address

    def HeapFree(self, heap, flags, address):
        return 1 if address == 0 else int(self.heap.release(address))

    def CreateFileA(self, name, access, share, security, disposition, attributes, template):
        path = self.host_path(self.string(name))
        creation = {CREATE_NEW: os.O_CREAT | os.O_EXCL, CREATE_ALWAYS: os.O_CREAT | os.O_TRUNC, OPEN_EXISTING: 0}
        if disposition not in creation:
            fail(f"CreateFileA disposition {disposition} is not provided")
        flags = os.O_RDWR if access & GENERIC_READ and access & GENERIC_WRITE else \
            os.O_WRONLY if access & GENERIC_WRITE else os.O_RDONLY
        flags |= creation[disposition]
        try:
            fd = os.open(path, flags | os.O_CLOEXEC, 0o666)
        except OSError:
            return INVALID_HANDLE
        if stat.S_ISDIR(os.fstat(fd).st_mode):  # Windows opens no directory as a file
            os.close(fd)
            return INVALID_HANDLE
        return self.new_handle(("file", fd, bool(access & GENERIC_READ), bool(access & GENERIC_WRITE)))

    def fd_for(self, handle, reading):
        thing = self.handles.get(handle)
        if thing is None or thing[0] == "find":
            return None
        if thing[0] == "std":
            return thing[1]
        return thing[1] if thing[2 if reading else 3] else None

    def WriteFile(self, handle, buffer, count, written, overlapped):
        self.store(written, 0)
        fd = self.fd_for(handle, reading=False)
        if fd is None:
            return 0
        data = memoryview(bytes(self.uc.mem_read(buffer, count)))
        try:
            while data:  # straight to the descriptor: nothing buffered at exit
                data = data[os.write(fd, data):]
        except OSError:  # a closed pipe, a full disk: the caller sees it
            return 0
        self.store(written, count)
        return 1

    def ReadFile(self, handle, buffer, count, read, overlapped):
        self.store(read, 0)
        fd = self.fd_for(handle, reading=True)
        if fd is None:
            return 0
        data = b""
        try:
            while len(data) < count:
                chunk = os.read(fd, count - len(data))
                if not chunk:
                    break  # the end of the file: success with fewer bytes
                data += chunk
        except OSError:
            return 0
        self.uc.mem_write(buffer, data)
        self.store(read, len(data))
        return 1

    def GetFileSize(self, handle, high):
        thing = self.handles.get(handle)
        if thing is None or thing[0] != "file":
            self.store(high, 0)
            return 0xFFFFFFFF
        size = os.fstat(thing[1]).st_size
        self.store(high, size >> 32)
        return size & 0xFFFFFFFF

    def CloseHandle(self, handle):
        thing = self.handles.pop(handle, None)
        if thing is None or thing[0] == "find":
            return 0
        if thing[0] == "file":
            os.close(thing[1])
        return 1

    def MoveFileExA(self, existing, new, flags):
        source, target = self.host_path(self.string(existing)), self.host_path(self.string(new))
        try:
            if not flags & MOVEFILE_REPLACE_EXISTING and os.path.lexists(target):
                return 0
            if os.path.isdir(target):  # Windows replaces no directory with a file
                return 0
            os.rename(source, target)
        except OSError:
            return 0
        return 1

    def DeleteFileA(self, name):
        try:
            os.unlink(self.host_path(self.string(name)))
        except OSError:
            return 0
        return 1

    def FindFirstFileA(self, pattern, data):
        text = self.host_path(self.string(pattern))
        directory, _, last = text.rpartition(b"/")
        directory = directory or (b"/" if text.startswith(b"/") else b".")
        try:
            names = os.listdir(directory)
        except OSError:
            return INVALID_HANDLE
        match = wildcard(last).match
        # "." and ".." first, then the names in NTFS order: compared as
        # upper case, so the order does not depend on case.
        found = [n for n in [b".", b".."] if match(n)]
        found += sorted((n for n in names if match(n) and len(n) < 260), key=lambda n: (n.upper(), n))
        if not found:
            return INVALID_HANDLE
        handle = self.new_handle(["find", directory, found])
        self.FindNextFileA(handle, data)
        return handle

    def FindNextFileA(self, handle, data):
        thing = self.handles.get(handle)
        if thing is None or thing[0] != "find" or not thing[2]:
            return 0
        name = thing[2].pop(0)
        try:
            info = os.stat(os.path.join(thing[1], name))
            attributes, size = (0x10, 0) if stat.S_ISDIR(info.st_mode) else (0x80, info.st_size)
        except OSError:
            attributes, size = 0x80, 0
        # WIN32_FIND_DATAA: attributes, three times, size high and low, two
        # reserved words, then the entry's name (not its path) at offset 44.
        record = struct.pack("<I24xII8x", attributes, size >> 32, size & 0xFFFFFFFF)
        self.uc.mem_write(data, record + name.ljust(260, b"\0") + bytes(14))
        return 1

    def FindClose(self, handle):
        thing = self.handles.get(handle)
        if thing is None or thing[0] != "find":
            return 0
        del self.handles[handle]
        return 1


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    code = Process(sys.argv[1], sys.argv[2:]).run()
    sys.stdout.flush()
    os._exit(code & 0xFF)  # a POSIX status holds only the low byte


if __name__ == "__main__":
    main()
