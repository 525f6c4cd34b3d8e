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


def checked_archives():
    """Archives a reader must refuse or take, each with the check that decides
    (the reader's LibraryCheck): {what: (bytes, check)}. The unit tests pin
    the check, the end-to-end cases what a user sees."""
    names = ["_Foo@4", "_Bar@8"]
    good = archive(names)
    body = len(good) - len(SIGNATURE) - 60
    sized = {size: archive(names, size=size) for size in (b"abc", b"", b" %d" % body, b"%dx" % body, body + 1,
                                                           b"9999999999", 3, 6, body - 1)}
    return {
        "nothing": (b"", "NoSignature"),
        "part of the signature": (SIGNATURE[:-1], "NoSignature"),
        "another signature": (b"!<arch>\r" + good[8:], "NoSignature"),
        "a member header cut short": (good[:40], "NoMemberHeader"),
        "a size field of letters": (sized[b"abc"], "MemberSizeUnreadable"),
        "a size field of spaces": (sized[b""], "MemberSizeUnreadable"),
        "a size field with a leading space": (sized[b" %d" % body], "MemberSizeUnreadable"),
        "a size field with junk after the digits": (sized[b"%dx" % body], "MemberSizeUnreadable"),
        "a member past the file's end": (sized[body + 1], "MemberPastFileEnd"),
        "a size field of ten nines": (sized[b"9999999999"], "MemberPastFileEnd"),
        "a first member not a linker member": (archive(names, member_name=b"/1/"), "NotLinkerMember"),
        "a member name off in its last byte": (archive(names, member_name=b"/" + b" " * 14 + b"x"), "NotLinkerMember"),
        "a first member named x": (archive(names, member_name=b"x"), "NotLinkerMember"),
        "a member too short for the count": (sized[3], "NoSymbolCount"),
        "offsets past the member": (sized[6], "OffsetsPastMember"),
        "a count of 0xFFFFFFFF": (archive(names, count=0xFFFFFFFF), "OffsetsPastMember"),
        "a count larger than the names": (archive(names, count=3), "NamesPastMember"),
        "a last name without its NUL": (sized[body - 1], "NamesPastMember"),
        # The names behind a count that overruns the member belong to the
        # next member (its header, a raw LF and all).
        "a count past the member, into the next": (archive(["_Foo@4"], count=2) + b"\n" + good[8:], "NamesPastMember"),
        "the signature alone": (SIGNATURE, "Accepted"),
        "a count of zero": (archive([]), "Accepted"),
        "fewer names counted than present": (archive(names, count=1), "Accepted"),
        "the next member behind the table": (good + member_header(b"/1/", 0), "Accepted"),
    }
