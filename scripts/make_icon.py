#!/usr/bin/env python3
"""Draws the application icon (a USB stick with the Ortivex ring) and writes it
as a Windows .ico with PNG images of 16 to 256 pixels.

usage: make_icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
SUPERSAMPLE = 4

BODY = (0x3B, 0x2F, 0x8F)
BODY_EDGE = (0x26, 0x1E, 0x63)
METAL = (0xC9, 0xCE, 0xD6)
HOLE = (0x55, 0x5B, 0x66)
RING = (0x3D, 0xDB, 0xC4)


def rounded_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def color_at(x, y):
    """Colour of the unit-square point (x, y), or None for transparent."""
    # Ring on the body, slightly below its centre.
    d2 = (x - 0.5) ** 2 + (y - 0.64) ** 2
    if rounded_rect(x, y, 0.22, 0.30, 0.78, 0.97, 0.09):
        if 0.105 ** 2 <= d2 <= 0.175 ** 2:
            return RING
        if not rounded_rect(x, y, 0.25, 0.33, 0.75, 0.94, 0.07):
            return BODY_EDGE
        return BODY
    if rounded_rect(x, y, 0.33, 0.04, 0.67, 0.32, 0.02):
        if rounded_rect(x, y, 0.40, 0.12, 0.47, 0.19, 0.005) or rounded_rect(
                x, y, 0.53, 0.12, 0.60, 0.19, 0.005):
            return HOLE
        return METAL
    return None


def render(size):
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = bytearray([0])  # PNG filter type 0
        for px in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    c = color_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        a += 1
            if a:
                row += bytes((r // a, g // a, b // a, 255 * a // (n * n)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return png(size, b"".join(rows))


def png(size, raw):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        body += data
    return out + body


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [(s, render(s)) for s in SIZES]
    with open(sys.argv[1], "wb") as f:
        f.write(ico(images))


if __name__ == "__main__":
    main()
