#!/usr/bin/python3
"""Writes the launcher's click sound: a short, soft two-tone blip, 16-bit mono PCM."""
import math
import os
import struct
import sys

RATE = 22050


def samples():
    length = int(RATE * 0.07)
    for i in range(length):
        t = i / RATE
        freq = 1760.0 if t < 0.03 else 1320.0
        attack = min(1.0, i / (RATE * 0.004))
        decay = math.exp(-t * 45.0)
        yield int(9000 * attack * decay * math.sin(2 * math.pi * freq * t))


def main():
    out = sys.argv[1]
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    data = b"".join(struct.pack("<h", s) for s in samples())
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    fmt = b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE * 2, 2, 16)
    with open(out, "wb") as f:
        f.write(header + fmt + b"data" + struct.pack("<I", len(data)) + data)


if __name__ == "__main__":
    main()
