#!/usr/bin/python3 -B
"""usage: binding_region.py DIGEST_HEX [OFFSET SIZE]

Writes a launcher's binding region with the package tool's own writer (packagetool.pe.bind) and
prints its bytes, for the launcher's unit tests to read: bound to the cabinet of that SHA-256, or
with OFFSET and SIZE carrying it at that extent of the launcher's file. The region starts as the
resource compiler leaves it in a launcher as built (the magic, then zeros), in a file of its own;
the writer is pointed at its start instead of at the resource it would find in a launcher's image.
The bytes end where the writer's part ends: the identity's fields are not written."""

import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "scripts"))
from packagetool import native, pe  # noqa: E402


def region_bytes(digest, carried):
    layout = native.facts()["binding"]
    magic = layout["magic"].encode()
    with tempfile.TemporaryDirectory() as scratch:
        region = Path(scratch) / "region"
        region.write_bytes(magic + bytes(layout["identity_size"] - len(magic)))
        pe.binding_offset = lambda path, size=None, too_small=None: 0
        pe.bind(region, digest, carried)
        return region.read_bytes()[:layout["carried_size"] if carried else layout["size"]]


def main(arguments):
    if arguments[:1] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    if len(arguments) not in (1, 3):
        print(__doc__, file=sys.stderr)
        return 2
    carried = (int(arguments[1]), int(arguments[2])) if len(arguments) == 3 else None
    sys.stdout.buffer.write(region_bytes(bytes.fromhex(arguments[0]), carried))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
