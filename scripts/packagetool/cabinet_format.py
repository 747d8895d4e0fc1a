"""The cabinet format's layout, which this tool reads and patches after gcab: the header, the
file records of its file table, and how their numbers are stored (little-endian). The one place
in the tool that knows an offset into a cabinet."""

import struct

SIGNATURE = b"MSCF"
HEADER_SIZE = 36
FILES_AT = 16  # 32 bits: the file offset of the first file record
FILE_COUNT_AT = 28  # 16 bits
FLAGS_AT = 30  # 16 bits
RESERVE_PRESENT = 0x0004  # reserved fields follow the header, the folders and the data blocks
FOLDER_SIZE = 8  # one folder record, which gcab writes for the whole cabinet

# A file record: 16 bytes, then the name and its terminating zero.
FILE_RECORD_SIZE = 16
FILE_DATE_AT = 10  # 16 bits of DOS date, then 16 bits of DOS time
FILE_ATTRIBUTES_AT = 14  # 16 bits
NAME_IS_UTF8 = 0x80  # an attribute: the name is UTF-8, not the ANSI code page's bytes
MAX_NAME_FIELD = 257  # the longest name the format holds, 256 bytes, with its zero

MAX_FILES = 0xFFFF  # the file count is 16 bits
MAX_BLOCKS = 0xFFFF  # a folder's block count is 16 bits
BLOCK_BYTES = 32768  # of uncompressed data in one block


def u16(data: bytes, at: int) -> int:
    return struct.unpack_from("<H", data, at)[0]


def u32(data: bytes, at: int) -> int:
    return struct.unpack_from("<I", data, at)[0]


def pack_u16(*values: int) -> bytes:
    return struct.pack(f"<{len(values)}H", *values)
