#!/usr/bin/env python3
"""Writes the demo game's trees: the installed client and the versions that follow it.

Usage: make_trees.py OUT_DIR

OUT_DIR/base     the client as installed (version 1.00.00)
OUT_DIR/1.00.01  changed and new files, a new directory        (published per file)
OUT_DIR/1.00.02  a large changed file and new nested data      (published compressed)
OUT_DIR/1.01.00  removed file and directory, config.ini bump   (published packed)
OUT_DIR/1.01.01  a test-server build that normal clients skip  (per file, test server)
OUT_DIR/1.02.00  a new launcher program file (self-update)     (published packed)

The contents are pseudo-random but fixed: the same trees every run.
"""
import os
import random
import shutil
import sys


def blob(seed, size):
    rng = random.Random(seed)
    # Half text-like, half noise: compressible enough to make the packers do some work.
    words = [b"grass", b"stone", b"river", b"tower", b"ember", b"frost", b"\n"]
    out = bytearray()
    while len(out) < size // 2:
        out += rng.choice(words) + b" "
    out += rng.randbytes(size - len(out))
    return bytes(out[:size])


def write(root, rel, data):
    path = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def config(version):
    return ("[LOGIN]\r\nVersion=%s\r\nTestVersion=%s\r\n" % (version, version)).encode()


def main():
    out = sys.argv[1]
    if os.path.exists(out):
        shutil.rmtree(out)

    base = {
        "config.ini": config("1.00.00"),
        "Data/Player/Hero.bmd": blob(1, 40_000),
        "Data/Player/hero_face.ozj": blob(2, 12_000),
        "Data/World1/Terrain.att": blob(3, 65_536),
        "Data/World1/Objects/tree01.bmd": blob(4, 9_000),
        "Data/Old/legacy.dat": blob(5, 3_000),
        "readme.txt": b"Demo game client for the launcher.\n",
    }
    trees = [("base", dict(base))]

    v = dict(base)
    v["Data/Player/Hero.bmd"] = blob(11, 42_000)
    v["Data/World2/Terrain.att"] = blob(12, 65_536)
    v["Data/World2/Objects/rock01.bmd"] = blob(13, 7_500)
    v["Data/Sound/theme.wav"] = blob(14, 120_000)
    trees.append(("1.00.01", dict(v)))

    v["Data/World1/Terrain.att"] = blob(21, 65_536)
    v["Data/Maps/Arena/arena.map"] = blob(22, 2_000_000)
    v["Data/Maps/Arena/arena.obj"] = blob(23, 30_000)
    trees.append(("1.00.02", dict(v)))

    del v["Data/Old/legacy.dat"]
    del v["readme.txt"]
    v["config.ini"] = config("1.01.00")
    v["Data/Player/hero_face.ozj"] = blob(31, 12_500)
    v["Data/Interface/Main.ozt"] = blob(32, 25_000)
    trees.append(("1.01.00", dict(v)))

    t = dict(v)
    t["Data/Test/probe.dat"] = blob(41, 4_000)
    trees.append(("1.01.01", t))

    v["Torvane.exe"] = blob(51, 50_000)
    v["config.ini"] = config("1.02.00")
    v["Data/Interface/Main.ozt"] = blob(52, 26_000)
    trees.append(("1.02.00", dict(v)))

    for name, files in trees:
        for rel, data in files.items():
            write(os.path.join(out, name), rel, data)


if __name__ == "__main__":
    main()
