#!/usr/bin/env python3
"""Reads the version resource back from a built PE file and checks it.

    CheckVersionResource.py FILE VERSION ORIGINAL_FILENAME COPYRIGHT
"""
import struct
import sys

RT_VERSION = 16


def resource_bytes(data, resource_type):
    """The first resource of a type, found through the section table and
    the .rsrc directory tree as the loader finds it."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if rsrc_rva == 0:
        raise ValueError("no resources")
    table = [struct.unpack_from("<8xIIII", data, pe + 24 + optional_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for size, va, raw_size, raw in table:
            if va <= rva < va + max(size, raw_size):
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} in no section")

    base = offset(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        return [struct.unpack_from("<II", data, directory + 16 + 8 * i) for i in range(named + ids)]

    entry = next((e for e in entries(base) if e[0] == resource_type), None)
    if entry is None:
        raise ValueError(f"no resource of type {resource_type}")
    while entry[1] & 0x80000000:  # a subdirectory: name, then language
        entry = entries(base + (entry[1] & 0x7FFFFFFF))[0]
    rva, size = struct.unpack_from("<II", data, base + entry[1])
    start = offset(rva)
    return data[start:start + size]


def parse_block(data, at):
    """One VS_VERSIONINFO-style block: (key, value bytes, children)."""
    length, value_length, text = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = data.index(b"\0\0", at + 6)
    while (key_end - at - 6) % 2:
        key_end = data.index(b"\0\0", key_end + 1)
    key = data[at + 6:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if text else value_length
    value = data[pos:pos + value_size]
    pos = (pos + value_size + 3) & ~3
    children = []
    while pos < end:
        child = parse_block(data, pos)
        children.append(child[:3])
        pos = (child[3] + 3) & ~3
    return key, value, children, end


def main():
    path, version, filename, copyright_line = sys.argv[1:5]
    with open(path, "rb") as f:
        data = f.read()
    key, fixed, children, _ = parse_block(resource_bytes(data, RT_VERSION), 0)
    numbers = [int(n) for n in version.split(".")] + [0] * (4 - len(version.split(".")))
    want_ms, want_ls = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    strings = {}
    for child_key, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, values in tables:
                for name, value, _ in values:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "Quarnel",
                "OriginalFilename": filename, "LegalCopyright": copyright_line}
    faults = [f"{name} is {strings.get(name)!r}, not {want!r}" for name, want in expected.items()
              if strings.get(name) != want]
    if key != "VS_VERSION_INFO" or signature != 0xFEEF04BD:
        faults.append(f"block {key!r} with signature {signature:#x}")
    if (file_ms, file_ls) != (want_ms, want_ls) or (product_ms, product_ls) != (want_ms, want_ls):
        faults.append(f"fixed versions {file_ms:#x}.{file_ls:#x} and {product_ms:#x}.{product_ls:#x}")
    if not strings.get("FileDescription"):
        faults.append("no FileDescription")
    for fault in faults:
        print(f"{path}: {fault}")
    if not faults:
        print(f"{path}: {strings}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
