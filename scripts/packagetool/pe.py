"""What the tool reads and writes in Windows programs, with pefile: the machine an installer build
is for, the launcher's binding region and the package it names, and its Authenticode signature."""

import contextlib
import hashlib
import struct

import pefile

from . import native, version_resource
from .identity import Identity

MACHINES = {0x14C: "i386", 0x8664: "AMD64", 0xAA64: "ARM64", 0x1C4: "ARM"}
RT_RCDATA = 10
RT_VERSION = 16
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

def resource_entries(image):
    """(type id, name or id, the data entry of its first language) of every resource."""
    image.parse_data_directories(directories=[RESOURCE])
    for kind in getattr(image, "DIRECTORY_ENTRY_RESOURCE", None) and image.DIRECTORY_ENTRY_RESOURCE.entries or []:
        for name in kind.directory.entries:
            if getattr(name, "directory", None) and name.directory.entries:
                named = str(name.name) if name.name is not None else name.id
                yield kind.id, named, name.directory.entries[0].data.struct


def resource(image, kind, name):
    return next((data for found_kind, found_name, data in resource_entries(image)
                 if found_kind == kind and found_name == name), None)


def binding_offset(path: str, size: int | None = None,
                   too_small: str = "a single file (a launcher built before single files)") -> int:
    """The file offset of the launcher's binding region, of at least size bytes."""
    layout = native.facts()["binding"]
    with opened(path) as image:
        data = resource(image, RT_RCDATA, layout["resource"])
        if data is None:
            raise NotAProgram("it has no binding region (a launcher built before binding)")
        at = image.get_offset_from_rva(data.OffsetToData)
        if data.Size < (size or layout["size"]):
            raise NotAProgram(f"its binding region is too small for {too_small}")
        if image.__data__[at:at + len(layout["magic"])] != layout["magic"].encode():
            raise NotAProgram("its binding region is damaged")
        return at


class Binding:
    """A launcher's binding: its state, the hash, and where a carried cabinet lies (offset, size)."""

    def __init__(self, region: bytes, layout: dict):
        self.state: int = struct.unpack_from("<I", region)[0]
        self.digest = region[4:4 + layout["digest_size"]] if self.state else None
        extent = region[4 + layout["digest_size"]:]
        self.carried: tuple[int, int] | None = None
        if self.state == layout["state_carried"] and len(extent) == 8:
            offset, size = struct.unpack("<II", extent)
            self.carried = (offset, size)


def binding(path: str) -> Binding:
    layout = native.facts()["binding"]
    at = binding_offset(path) + len(layout["magic"])
    with open(path, "rb") as launcher:
        launcher.seek(at)
        return Binding(launcher.read(layout["carried_size"] - len(layout["magic"])), layout)


def read_binding(path: str) -> bytes | None:
    """None when the launcher is not bound, else the 32-byte hash it is bound to."""
    return binding(path).digest


def bind(path: str, digest: bytes, carried: tuple[int, int] | None = None) -> None:
    """Writes the binding to the cabinet of that SHA-256 into the launcher, in place; carried:
    (offset, size) of the cabinet in the launcher's own file."""
    layout = native.facts()["binding"]
    at = binding_offset(path, layout["carried_size"] if carried else layout["size"]) + len(layout["magic"])
    with open(path, "r+b") as launcher:
        launcher.seek(at)
        if carried:
            launcher.write(struct.pack("<I", layout["state_carried"]) + digest + struct.pack("<II", *carried))
        else:
            launcher.write(struct.pack("<I", layout["state_bound"]) + digest)


# ---- the package's identity ----

def identity_fields(layout):
    """(offset in the region, size) of the product's, the version's and the company's field."""
    name, version = layout["name_field"], layout["version_field"]
    at = layout["carried_size"]
    return [(at, name), (at + name, version), (at + name + version, name)]


def write_identity(path, identity, code_page):
    """Names the package in the launcher, in place: its binding region's identity (in the ANSI code
    page, as the launcher reads it) and a version resource written into the room for it."""
    facts = native.facts()
    layout = facts["binding"]
    region = binding_offset(path, layout["identity_size"], "a package name (a launcher built before package names)")
    with opened(path) as image:
        room = resource(image, RT_RCDATA, facts["version_room"]["resource"])
        version = resource(image, RT_VERSION, 1)
        if room is None or version is None:
            raise NotAProgram("it has no room for a version resource that names the package (a launcher built "
                              "before package names)")
        try:
            written = version_resource.with_identity(image.get_data(version.OffsetToData, version.Size), identity)
        except ValueError as problem:
            raise NotAProgram(str(problem)) from None
        if len(written) > room.Size:
            raise NotAProgram(f"its version resource naming the package takes {len(written)} bytes, and the "
                              f"launcher has room for {room.Size}")
        room_at = image.get_offset_from_rva(room.OffsetToData)
        entry_at = version.get_file_offset()
        room_rva = room.OffsetToData
    with open(path, "r+b") as launcher:
        for (at, size), text in zip(identity_fields(layout), identity):
            launcher.seek(region + at)
            launcher.write(text.encode("cp" + code_page).ljust(size, b"\0"))
        launcher.seek(room_at)
        launcher.write(written.ljust(room.Size, b"\0"))
        # The version resource's entry: where its data lies, and its size.
        launcher.seek(entry_at)
        launcher.write(struct.pack("<II", room_rva, len(written)))


def package_identity(path, code_page):
    """The package the launcher names in its binding region, or None (made without one, or built
    before package names)."""
    layout = native.facts()["binding"]
    try:
        at = binding_offset(path, layout["identity_size"])
    except NotAProgram:
        return None
    with open(path, "rb") as launcher:
        fields = []
        for offset, size in identity_fields(layout):
            launcher.seek(at + offset)
            fields.append(launcher.read(size).split(b"\0")[0].decode("cp" + code_page, errors="replace"))
    return Identity(*fields) if fields[0] else None


def version_information(path):
    """The version resource's strings, and its fixed product version as four numbers."""
    with opened(path) as image:
        version = resource(image, RT_VERSION, 1)
        if version is None:
            raise NotAProgram("it has no version resource")
        data = image.get_data(version.OffsetToData, version.Size)
    try:
        return version_resource.strings(data), version_resource.product_version(data)
    except ValueError as problem:
        raise NotAProgram(str(problem)) from None


def image_end(path):
    """Where the launcher's image ends in its file: the end of its last section."""
    with opened(path) as image:
        return max(section.PointerToRawData + section.SizeOfRawData for section in image.sections)


def copy_range(source: str, offset: int, size: int, target: str) -> None:
    with open(source, "rb") as program, open(target, "wb") as out:
        program.seek(offset)
        while size > 0:
            block = program.read(min(1 << 20, size))
            if not block:
                raise NotAProgram("its carried cabinet is cut short")
            out.write(block)
            size -= len(block)


def sha256_of_range(path: str, offset: int, size: int) -> bytes | None:
    digest = hashlib.sha256()
    with open(path, "rb") as file:
        file.seek(offset)
        while size > 0:
            block = file.read(min(1 << 20, size))
            if not block:
                return None
            digest.update(block)
            size -= len(block)
    return digest.digest()


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
