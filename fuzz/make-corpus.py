#!/usr/bin/env python3
"""Writes the fuzz seed corpus into fuzz/corpus/ (or the folder given).

Each seed is a fuzz input: a 4-byte little-endian float texel size, then a
source file. The seeds cover valid images of odd sizes, every refused header
field, ID fields, colour maps, truncations and a TGA 2.0 footer, so the fuzzer
starts next to every branch of the job. Deterministic: the same seeds each run.
"""
import os
import random
import struct
import sys

FOOTER = b"\0" * 8 + b"TRUEVISION-XFILE.\0"


def header(width=4, height=3, idlen=0, cmaptype=0, imgtype=2, cmapfirst=0, cmaplen=0,
           cmapbits=0, xorigin=0, yorigin=0, pixsize=24, desc=0):
    return struct.pack("<BBBHHBHHHHBB", idlen, cmaptype, imgtype, cmapfirst, cmaplen, cmapbits,
                       xorigin, yorigin, width & 0xFFFF, height & 0xFFFF, pixsize, desc)


def pixels(rng, width, height):
    return bytes(rng.getrandbits(8) for _ in range(3 * width * height))


def tga(rng, width=4, height=3, prefix=b"", tail=b"", **fields):
    return header(width, height, **fields) + prefix + pixels(rng, width, height) + tail


def seeds():
    rng = random.Random(20261208)
    valid = tga(rng, 7, 5)
    yield "valid-1x1", tga(rng, 1, 1)
    for w, h in [(1, 9), (9, 1), (2, 2), (3, 7), (13, 11), (31, 3), (64, 33)]:
        yield f"valid-{w}x{h}", tga(rng, w, h)
    yield "valid-flat", header(8, 8) + b"\x80" * 192
    yield "valid-steps", header(8, 2) + bytes([0, 0, 0, 255, 255, 255] * 8)
    yield "idfield-5", tga(rng, 5, 4, prefix=b"hello", idlen=5)
    yield "idfield-255", tga(rng, 3, 3, prefix=bytes(range(255)), idlen=255)
    yield "cmap-24", tga(rng, 4, 4, prefix=bytes(rng.getrandbits(8) for _ in range(12)),
                         cmaptype=1, cmaplen=4, cmapbits=24)
    yield "cmap-15", tga(rng, 4, 4, prefix=b"\x11" * 6, cmaptype=1, cmaplen=3, cmapbits=15)
    yield "cmap-255bits", tga(rng, 2, 2, prefix=b"\x22" * 64, cmaptype=1, cmaplen=2, cmapbits=255)
    yield "cmap-and-id", tga(rng, 3, 2, prefix=b"id" + b"\x33" * 8, idlen=2, cmaptype=1,
                             cmaplen=2, cmapbits=32)
    yield "cmap-fields-type0", tga(rng, 4, 3, cmapfirst=0x1234, cmaplen=0x5678, cmapbits=16)
    yield "cmaptype-2", tga(rng, 4, 3, cmaptype=2, cmaplen=9, cmapbits=24)
    yield "origin", tga(rng, 4, 3, xorigin=0xBEEF, yorigin=0x0102)
    yield "footer", valid + FOOTER
    yield "trailing", valid + b"\xff" * 40
    for v in (0, 1, 3, 9, 10, 11, 32, 33, 255):
        yield f"imgtype-{v}", tga(rng, 4, 3, imgtype=v)
    for v in (0, 8, 15, 16, 32, 255):
        yield f"pixsize-{v}", tga(rng, 4, 3, pixsize=v)
    for v in (1, 8, 16, 32, 48, 64, 128, 255):
        yield f"desc-{v}", tga(rng, 4, 3, desc=v)
    for v in (0, 0x8000, 0xFFFF):
        yield f"width-{v:x}", header(v, 3) + pixels(rng, 4, 3)
        yield f"height-{v:x}", header(4, v) + pixels(rng, 4, 3)
    yield "huge-small-file", header(32767, 32767) + pixels(rng, 8, 8)
    yield "huge-width", header(32767, 2) + pixels(rng, 8, 8)
    yield "rle-32", tga(rng, 4, 3, imgtype=10, pixsize=32, desc=8)
    yield "empty", b""
    yield "17-bytes", valid[:17]
    yield "header-only", valid[:18]
    yield "one-short", valid[:-1]
    yield "id-runs-out", header(2, 2, idlen=255) + b"\x07" * 100
    yield "cmap-runs-out", header(2, 2, cmaptype=1, cmaplen=256, cmapbits=24) + b"\x01" * 700


TEXELS = [1.0, 0.0625, 0.5, 2.0, 0.0, -1.0, float("inf"), float("nan"), 1e-30, 3e38]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    os.makedirs(out, exist_ok=True)
    for i, (name, body) in enumerate(seeds()):
        texel = TEXELS[i % len(TEXELS)] if name.startswith("valid") else 1.0
        with open(os.path.join(out, name), "wb") as f:
            f.write(struct.pack("<f", texel) + body)


if __name__ == "__main__":
    main()
