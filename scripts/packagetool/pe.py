"""What the tool reads and writes in Windows programs, with pefile: the machine an installer build
is for, the launcher's binding region, and its Authenticode signature."""

import contextlib
import hashlib
import struct

import pefile

from . import native

MACHINES = {0x14C: "i386", 0x8664: "AMD64", 0xAA64: "ARM64", 0x1C4: "ARM"}
RT_RCDATA = 10
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
RESOURCE = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]


class NotAProgram(Exception):
    pass


@contextlib.contextmanager
def opened(path):
    """The program's headers; NotAProgram when the file holds no Windows program."""
    try:
        image = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError:
        raise NotAProgram("it is no Windows program") from None
    try:
        yield image
    finally:
        image.close()


def kind_of_program(path):
    """The machine an executable is for ("i386", "AMD64", ...), and whether it is a DLL."""
    with opened(path) as image:
        machine = image.FILE_HEADER.Machine
        return MACHINES.get(machine, f"machine {machine:#06x}"), bool(image.FILE_HEADER.Characteristics & 0x2000)


# ---- the binding region ----

def binding_offset(path):
    """The file offset of the launcher's binding region."""
    layout = native.facts()["binding"]
    with opened(path) as image:
        image.parse_data_directories(directories=[RESOURCE])
        for kind in getattr(image, "DIRECTORY_ENTRY_RESOURCE", None) and image.DIRECTORY_ENTRY_RESOURCE.entries or []:
            if kind.id != RT_RCDATA:
                continue
            for name in kind.directory.entries:
                if name.name is None or str(name.name) != layout["resource"]:
                    continue
                data = name.directory.entries[0].data.struct
                at = image.get_offset_from_rva(data.OffsetToData)
                if data.Size < layout["size"] or image.__data__[at:at + len(layout["magic"])] != layout["magic"].encode():
                    raise NotAProgram("its binding region is damaged")
                return at
    raise NotAProgram("it has no binding region (a launcher built before binding)")


def read_binding(path):
    """None when the launcher is not bound, else the 32-byte hash it is bound to."""
    layout = native.facts()["binding"]
    at = binding_offset(path) + len(layout["magic"])
    with open(path, "rb") as launcher:
        launcher.seek(at)
        region = launcher.read(4 + layout["digest_size"])
    return None if struct.unpack_from("<I", region)[0] == 0 else region[4:]


def bind(path, digest):
    """Writes the binding to the cabinet of that SHA-256 into the launcher, in place."""
    at = binding_offset(path) + len(native.facts()["binding"]["magic"])
    with open(path, "r+b") as launcher:
        launcher.seek(at)
        launcher.write(struct.pack("<I", 1) + digest)


def sha256_of(path, progress=None):
    digest = hashlib.sha256()
    with open(path, "rb") as file:
        for block in iter(lambda: file.read(1 << 20), b""):
            digest.update(block)
            if progress:
                progress.advance(size=len(block))
    if progress:
        progress.advance(files=1)
    return digest.digest()


# ---- the signature ----

def certificate_table(path):
    """(offset, size) of the certificate table, or None when the program is not signed."""
    with opened(path) as image:
        entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
        return (entry.VirtualAddress, entry.Size) if entry.VirtualAddress and entry.Size else None


def authenticode_digest(path, algorithm):
    """The program's Authenticode hash: every byte but its checksum, the certificate table's
    directory entry and the table itself, so that data after the last section counts too."""
    with opened(path) as image:
        checksum = image.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
        directory = entry.get_file_offset()
        table_at, table_size = entry.VirtualAddress, entry.Size
        size = len(image.__data__)
    digest = hashlib.new(algorithm)
    skipped = sorted([(checksum, 4), (directory, 8)] + ([(table_at, table_size)] if table_size else []))
    with open(path, "rb") as program:
        at = 0
        for start, length in skipped + [(size, 0)]:
            while at < start:
                block = program.read(min(1 << 20, start - at))
                if not block:
                    break
                digest.update(block)
                at += len(block)
            program.seek(start + length)
            at = start + length
    return digest.digest()
