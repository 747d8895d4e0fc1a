"""The launcher's version resource (VS_VERSIONINFO): a tree of nodes, each its length, its value's
length, its kind (1: text), a UTF-16 key, a value and children, every part on a 4-byte boundary.
Read, and written again with the package's name, version and company."""

import struct

from .identity import fixed_version

TEXT = 1
# In VS_FIXEDFILEINFO: dwProductVersionMS, then dwProductVersionLS.
PRODUCT_VERSION_AT = 16


class Node:
    def __init__(self, key, kind, value, children):
        self.key, self.kind, self.value, self.children = key, kind, value, children

    def child(self, key):
        return next((child for child in self.children if child.key == key), None)


def aligned(at):
    return (at + 3) & ~3


def parse(data, at=0):
    """The node at that offset of the resource's bytes; ValueError when they are no version resource."""
    if at + 6 > len(data):
        raise ValueError("the version resource is cut short")
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] not in (b"\0\0", b""):
        key_end += 2
    if end > len(data) or key_end + 2 > end:
        raise ValueError("the version resource is damaged")
    value_at = aligned(key_end + 2)
    value_size = value_length * 2 if kind == TEXT else value_length
    node = Node(data[at + 6:key_end].decode("utf-16-le"), kind, data[value_at:value_at + value_size], [])
    child_at = aligned(value_at + value_size)
    while child_at < end:
        child = parse(data, child_at)
        node.children.append(child)
        child_at = aligned(child_at + struct.unpack_from("<H", data, child_at)[0])
    return node


def serialized(node):
    out = bytearray(6) + (node.key + "\0").encode("utf-16-le")
    out += bytes(aligned(len(out)) - len(out)) + node.value
    for child in node.children:
        out += bytes(aligned(len(out)) - len(out)) + serialized(child)
    value_length = len(node.value) // 2 if node.kind == TEXT else len(node.value)
    struct.pack_into("<HHH", out, 0, len(out), value_length, node.kind)
    return bytes(out)


def string_table(root):
    strings = root.child("StringFileInfo")
    if strings is None or not strings.children:
        raise ValueError("the version resource has no strings")
    return strings.children[0]


def strings(data):
    """The version resource's strings (its first language's) by key."""
    return {node.key: node.value.decode("utf-16-le").split("\0")[0] for node in string_table(parse(data)).children}


def product_version(data):
    """The fixed (binary) product version, as four numbers."""
    high, low = struct.unpack_from("<II", parse(data).value, PRODUCT_VERSION_AT)
    return (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def with_identity(data, identity):
    """The version resource naming the package: ProductName and FileDescription its product,
    ProductVersion its version (the fixed product version too when numeric), CompanyName its
    company; the file version and every other string as they were."""
    root = parse(data)
    table = string_table(root)
    named = {"FileDescription": identity.product, "ProductName": identity.product,
             "ProductVersion": identity.version}
    if identity.company:
        named["CompanyName"] = identity.company
    for key, text in named.items():
        value = (text + "\0").encode("utf-16-le")
        node = table.child(key)
        if node is None:
            table.children.insert(0, Node(key, TEXT, value, []))
        else:
            node.value = value
    major, minor, build, revision = fixed_version(identity.version)
    fixed = bytearray(root.value)
    struct.pack_into("<II", fixed, PRODUCT_VERSION_AT, major << 16 | minor, build << 16 | revision)
    root.value = bytes(fixed)
    return serialized(root)
