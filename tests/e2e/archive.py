"""Builds archives for the end-to-end cases: an archive signature and a first
linker member whose symbol table holds exactly the names given, or a
deliberately broken one."""

import struct

SIGNATURE = b"!<arch>\n"
LINKER_MEMBER_NAME = b"/".ljust(16)


def member_header(name: bytes, size) -> bytes:
    """size: the member's length, or the size field's bytes as they stand."""
    field = size if isinstance(size, bytes) else str(size).encode()
    header = (name.ljust(16) + b"0".ljust(12) + b"0".ljust(6) + b"0".ljust(6)
              + b"644".ljust(8) + field.ljust(10) + b"`\n")
    assert len(header) == 60
    return header


def symbol_table(names, count=None) -> bytes:
    """The member's body: big-endian count, one offset a name, the names."""
    count = len(names) if count is None else count
    body = struct.pack(">I", count) + b"\0\0\0\0" * len(names)
    return body + b"".join(name + b"\0" for name in names)


def archive(names, *, count=None, member_name=LINKER_MEMBER_NAME, size=None) -> bytes:
    names = [n.encode("latin-1") if isinstance(n, str) else n for n in names]
    body = symbol_table(names, count)
    return SIGNATURE + member_header(member_name, len(body) if size is None else size) + body
