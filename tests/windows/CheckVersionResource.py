#!/usr/bin/env python3
"""Reads the version resource back from a built PE file, as the loader finds
it through the section table and the resource tree, and checks it.

    CheckVersionResource.py FILE VERSION ORIGINAL_FILENAME COPYRIGHT
"""
import struct
import sys


def version_resource(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    is_pe32 = struct.unpack_from("<H", data, pe + 24)[0] == 0x10B
    rsrc = struct.unpack_from("<I", data, pe + 24 + (96 if is_pe32 else 112) + 2 * 8)[0]
    table = [struct.unpack_from("<8xIIII", data, pe + 24 + optional_size + 40 * i) for i in range(sections)]

    def offset(rva):
        return next(raw + rva - va for size, va, raw_size, raw in table if va <= rva < va + max(size, raw_size))

    def entries(directory):
        count = sum(struct.unpack_from("<HH", data, directory + 12))
        return [struct.unpack_from("<II", data, directory + 16 + 8 * i) for i in range(count)]

    base = offset(rsrc)
    entry = next(e for e in entries(base) if e[0] == 16)  # RT_VERSION
    while entry[1] & 0x80000000:  # then the first name and the first language
        entry = entries(base + (entry[1] & 0x7FFFFFFF))[0]
    rva, size = struct.unpack_from("<II", data, base + entry[1])
    return data[offset(rva):offset(rva) + size]


def parse_block(data, at=0):
    """A VS_VERSIONINFO block and its children: (key, value, children, end)."""
    length, value_length, text = struct.unpack_from("<HHH", data, at)
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    pos = (key_end + 2 + 3) & ~3
    value_end = pos + (value_length * 2 if text else value_length)
    children, child = [], (value_end + 3) & ~3
    while child < at + length:
        children.append(parse_block(data, child))
        child = (children[-1][3] + 3) & ~3
    return data[at + 6:key_end].decode("utf-16-le"), data[pos:value_end], children, at + length


def main():
    path, version, filename, copyright_line = sys.argv[1:5]
    with open(path, "rb") as f:
        key, fixed, children, _ = parse_block(version_resource(f.read()))
    n = [int(x) for x in version.split(".")] + [0, 0, 0]
    want = (0xFEEF04BD, n[0] << 16 | n[1], n[2] << 16 | n[3], n[0] << 16 | n[1], n[2] << 16 | n[3])
    got = struct.unpack_from("<I4xIIII", fixed)
    strings = {name: value.decode("utf-16-le").rstrip("\0")
               for block in children if block[0] == "StringFileInfo"
               for table in block[2] for name, value, _, _ in table[2]}
    expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "Quarnel",
                "OriginalFilename": filename, "LegalCopyright": copyright_line}
    faults = [f"{name} is {strings.get(name)!r}, not {value!r}"
              for name, value in expected.items() if strings.get(name) != value]
    if key != "VS_VERSION_INFO" or got != want:
        faults.append(f"{key}: signature and fixed versions {[hex(v) for v in got]}")
    if not strings.get("FileDescription"):
        faults.append("no FileDescription")
    print("\n".join(f"{path}: {fault}" for fault in faults) or f"{path}: {strings}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
