"""Makes archives with 64-bit records for the zip reader's tests, without storing big data.

usage:
  make_zip64.py small OUT              a few stored and deflated entries, all forced to 64 bits
  make_zip64.py many OUT COUNT         COUNT small entries; entry i holds entry_text(i)
  make_zip64.py big OUT SOURCE         one deflated entry "big.bin" read from SOURCE
  make_zip64.py beyond OUT             a stored entry of 4.5 GiB of zeros (left as a hole in
                                       OUT), then "after.txt" whose header lies past 4 GiB
  make_zip64.py tiny OUT               the same layout with 1000 zeros: every record 64-bit
"""
import struct
import sys
import zipfile
import zlib

STAMP = (2025, 4, 11, 13, 33, 42)


def entry_text(i):
    return ("entry %d\n" % i) * (i % 4)


def small(out):
    with zipfile.ZipFile(out, "w") as z:
        for name, data, method in (
            ("stored.txt", b"hello", zipfile.ZIP_STORED),
            ("Data/deflated.bin", bytes(range(256)) * 300, zipfile.ZIP_DEFLATED),
            ("empty", b"", zipfile.ZIP_DEFLATED),
        ):
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = method
            with z.open(info, "w", force_zip64=True) as f:
                f.write(data)


def many(out, count):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
        for i in range(count):
            z.writestr(zipfile.ZipInfo("d%d/f%d.txt" % (i // 1000, i), STAMP), entry_text(i))


def big(out, source):
    info = zipfile.ZipInfo("big.bin", STAMP)
    info.compress_type = zipfile.ZIP_DEFLATED
    with zipfile.ZipFile(out, "w", compresslevel=1) as z, open(source, "rb") as src:
        with z.open(info, "w", force_zip64=True) as f:
            while True:
                piece = src.read(1 << 22)
                if not piece:
                    break
                f.write(piece)


def beyond(out, size):
    # Written by hand so that the zeros of the first entry stay a hole in the file.
    crc = 0
    zeros = bytes(min(size, 1 << 24))
    for _ in range(size // len(zeros)):
        crc = zlib.crc32(zeros, crc)
    after = b"written after the first 4 GiB\n"
    dostime, dosdate = (13 << 11) | (33 << 5) | 21, (45 << 9) | (4 << 5) | 11
    records = []
    with open(out, "wb") as f:
        offset = 0
        for name, data_crc, data_size, method in ((b"zeros.bin", crc, size, 0),
                                                  (b"after.txt", zlib.crc32(after), len(after), 0)):
            extra = struct.pack("<HHQQ", 1, 16, data_size, data_size)
            f.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, method, dostime, dosdate,
                                data_crc, 0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra)))
            f.write(name + extra)
            if name == b"zeros.bin":
                f.seek(size, 1)
            else:
                f.write(after)
            records.append((name, data_crc, data_size, method, offset))
            offset = f.tell()
        central = offset
        for name, data_crc, data_size, method, at in records:
            extra = struct.pack("<HHQQQ", 1, 24, data_size, data_size, at)
            f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, method, dostime,
                                dosdate, data_crc, 0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra),
                                0, 0, 0, 0x20, 0xFFFFFFFF))
            f.write(name + extra)
        end64 = f.tell()
        f.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, len(records),
                            len(records), end64 - central, central))
        f.write(struct.pack("<IIQI", 0x07064B50, 0, end64, 1))
        f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF,
                            0xFFFFFFFF, 0))


def main():
    kind, out = sys.argv[1], sys.argv[2]
    if kind == "small":
        small(out)
    elif kind == "many":
        many(out, int(sys.argv[3]))
    elif kind == "big":
        big(out, sys.argv[3])
    elif kind == "beyond":
        beyond(out, 9 << 29)
    elif kind == "tiny":
        beyond(out, 1000)
    else:
        sys.exit("unknown kind " + kind)


if __name__ == "__main__":
    main()
