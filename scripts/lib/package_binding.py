#!/usr/bin/env python3
"""The package binding of a launcher: the SHA-256 of the one cabinet it may expand, written into
its PACKAGE_BINDING resource (16 bytes "PACKAGE BINDING ", a 32-bit state, 0 as built and 1 when
bound, then the 32-byte hash). Bind before signing, so that the signature covers the binding.

    package_binding.py bind LAUNCHER CABINET    writes CABINET's hash into LAUNCHER, in place
    package_binding.py show LAUNCHER CABINET    prints "bound to this cabinet", "bound to another
                                                cabinet" or "not bound"; exits 1 for another
"""

import hashlib
import struct
import sys

NAME = b"PACKAGE BINDING "
SIZE = len(NAME) + 4 + 32
RT_RCDATA = 10


class NotALauncher(Exception):
    pass


def resources(data):
    """(type, name, file offset, size) of every resource of a Windows program; a type or name is
    its number, or its text when it has one."""
    u16 = lambda at: struct.unpack_from("<H", data, at)[0]
    u32 = lambda at: struct.unpack_from("<I", data, at)[0]
    if data[:2] != b"MZ" or data[u32(0x3C):u32(0x3C) + 4] != b"PE\0\0":
        raise NotALauncher("not a Windows program")
    header = u32(0x3C)
    optional = header + 24
    directories = optional + (96 if u16(optional) == 0x10B else 112)
    resource_rva = u32(directories + 2 * 8)
    sections_at = optional + u16(header + 20)
    sections = [(u32(at + 12), max(u32(at + 8), u32(at + 16)), u32(at + 20))
                for at in (sections_at + 40 * i for i in range(u16(header + 6)))]

    def offset(rva):
        for address, size, raw in sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise NotALauncher(f"resource address {rva:#x} outside every section")

    if resource_rva == 0:
        return []
    base = offset(resource_rva)

    def entries(directory):
        count = u16(base + directory + 12) + u16(base + directory + 14)
        return [(u32(base + directory + 16 + 8 * i), u32(base + directory + 20 + 8 * i)) for i in range(count)]

    def name_of(identifier):
        if not identifier & 0x80000000:
            return identifier
        at = base + (identifier & 0x7FFFFFFF)
        return data[at + 2:at + 2 + 2 * u16(at)].decode("utf-16-le")

    found = []
    for type_id, names in entries(0):
        for name_id, languages in entries(names & 0x7FFFFFFF):
            for _, leaf in entries(languages & 0x7FFFFFFF):
                found.append((name_of(type_id), name_of(name_id), offset(u32(base + leaf)), u32(base + leaf + 4)))
    return found


def binding_offset(data):
    """The file offset of the PACKAGE_BINDING resource's data."""
    try:
        regions = [(at, size) for kind, name, at, size in resources(data)
                   if kind == RT_RCDATA and name == "PACKAGE_BINDING"]
    except (struct.error, IndexError, UnicodeDecodeError):
        raise NotALauncher("not a Windows program that it can read") from None
    if not regions:
        raise NotALauncher("it has no binding region (a launcher built before binding)")
    at, size = regions[0]
    if size < SIZE or data[at:at + len(NAME)] != NAME:
        raise NotALauncher("its binding region is damaged")
    return at


def read_binding(data):
    """None when not bound, else the 32-byte hash."""
    at = binding_offset(data) + len(NAME)
    state = struct.unpack_from("<I", data, at)[0]
    return None if state == 0 else bytes(data[at + 4:at + 4 + 32])


def cabinet_hash(path):
    digest = hashlib.sha256()
    with open(path, "rb") as cabinet:
        for block in iter(lambda: cabinet.read(1 << 20), b""):
            digest.update(block)
    return digest.digest()


def bind(launcher, cabinet):
    data = bytearray(open(launcher, "rb").read())
    at = binding_offset(data) + len(NAME)
    data[at:at + 4 + 32] = struct.pack("<I", 1) + cabinet_hash(cabinet)
    with open(launcher, "wb") as out:
        out.write(data)


def show(launcher, cabinet):
    bound = read_binding(open(launcher, "rb").read())
    if bound is None:
        return "not bound", 0
    if bound == cabinet_hash(cabinet):
        return "bound to this cabinet", 0
    return "bound to another cabinet", 1


def main(arguments):
    if len(arguments) != 3 or arguments[0] not in ("bind", "show"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        if arguments[0] == "bind":
            bind(arguments[1], arguments[2])
            return 0
        text, code = show(arguments[1], arguments[2])
        print(text)
        return code
    except NotALauncher as problem:
        print(f"{arguments[1]}: {problem}", file=sys.stderr)
        return 2
    except OSError as problem:
        print(f"{problem.filename}: {problem.strerror}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
