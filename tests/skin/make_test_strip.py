#!/usr/bin/env python3
"""Draws the skin tests' button strip: 84 x 21, four opaque 21 x 21 frames of
solid colours, so a test can tell from pixels which frame a button drew.

    make_test_strip.py OUTPUT.png
"""
import os
import struct
import sys
import zlib

# Frames 0..3; the tests hold the same values.
FRAMES = [(200, 0, 0), (0, 160, 0), (0, 0, 200), (0, 128, 128)]


def png(width, height, pixel):
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def main():
    out = sys.argv[1]
    os.makedirs(os.path.dirname(out) or ".", exist_ok=True)
    data = png(84, 21, lambda x, y: FRAMES[x // 21] + (255,))
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
