#!/usr/bin/python3
"""Draws the application icon from code alone: one PNG per hicolor size.

Usage: make_icon.py OUTPUT_DIR

Writes OUTPUT_DIR/<size>x<size>/apps/torvane.png for every size below, laid out as the hicolor
icon theme expects them. The picture (a blue rounded square with a white downward arrow over a
bar: "patch, then play") is drawn at four times the size and averaged down, so its edges are
smooth without any image library.
"""
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
OVERSAMPLE = 4


def inside_rounded_square(x, y, radius):
    """x, y in 0..1; the square covers 0.04..0.96 with corners of the given radius."""
    low, high = 0.04, 0.96
    if not (low <= x <= high and low <= y <= high):
        return False
    cx = min(max(x, low + radius), high - radius)
    cy = min(max(y, low + radius), high - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    if 0.42 <= x <= 0.58 and 0.18 <= y <= 0.52:  # shaft
        return True
    if 0.52 <= y <= 0.72:  # head: a triangle narrowing downwards
        half = 0.22 * (0.72 - y) / 0.20
        return abs(x - 0.5) <= half
    return 0.22 <= x <= 0.78 and 0.78 <= y <= 0.86  # the bar under it


def colour_at(x, y):
    """RGBA of one sample point, x and y in 0..1."""
    if not inside_rounded_square(x, y, 0.18):
        return (0, 0, 0, 0)
    if inside_arrow(x, y):
        return (255, 255, 255, 255)
    shade = 1.0 - 0.35 * y  # lighter at the top
    return (int(40 * shade), int(110 * shade), int(200 * shade), 255)


def render(size):
    rows = []
    samples = size * OVERSAMPLE
    for py in range(size):
        row = bytearray([0])  # PNG filter type "none"
        for px in range(size):
            total = [0, 0, 0, 0]
            for sy in range(OVERSAMPLE):
                for sx in range(OVERSAMPLE):
                    x = (px * OVERSAMPLE + sx + 0.5) / samples
                    y = (py * OVERSAMPLE + sy + 0.5) / samples
                    r, g, b, a = colour_at(x, y)
                    # Premultiplied, so transparent samples do not darken the edges.
                    total[0] += r * a
                    total[1] += g * a
                    total[2] += b * a
                    total[3] += a
            alpha = total[3] / (OVERSAMPLE * OVERSAMPLE)
            if total[3]:
                row += bytes([total[0] // total[3], total[1] // total[3], total[2] // total[3]])
            else:
                row += bytes([0, 0, 0])
            row.append(int(round(alpha)))
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(size):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(render(size), 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    for size in SIZES:
        folder = os.path.join(sys.argv[1], "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "torvane.png"), "wb") as out:
            out.write(png(size))


if __name__ == "__main__":
    main()
