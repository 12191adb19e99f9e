"""Reference reading of a zip archive with Python's zipfile, for the reader's compatibility test.

usage: zip_reference.py OUTDIR ARCHIVE...
For the k-th archive prints one line: "supported N" after writing entry i's bytes to
OUTDIR/k/i when the archive is one the reader is meant to read (single disk, only stored
and deflated entries, no encryption) and Python reads every entry;
otherwise "unsupported: REASON".
"""
import os
import sys
import zipfile


def reference(archive, outdir):
    with open(archive, "rb") as f:
        data = f.read()
    eocd = data.rfind(b"PK\x05\x06", max(0, len(data) - 65535 - 22))
    if eocd < 0:
        print("unsupported: no end record")
        return
    try:
        with zipfile.ZipFile(archive) as z:
            infos = z.infolist()
            if not infos:
                print("unsupported: no entries")
                return
            for i, info in enumerate(infos):
                if info.compress_type not in (0, 8):
                    print("unsupported: method %d" % info.compress_type)
                    return
                if info.flag_bits & 1:
                    print("unsupported: encrypted")
                    return
                payload = z.read(info)
                if len(payload) != info.file_size:
                    # Python does not hold an entry to its stated size; the reader does.
                    print("unsupported: %d bytes where %d are stated" % (len(payload), info.file_size))
                    return
                with open(os.path.join(outdir, str(i)), "wb") as out:
                    out.write(payload)
            print("supported %d" % len(infos))
    except Exception as e:  # any failure of the reference reader
        print("unsupported: %s" % type(e).__name__)


def main():
    outdir = sys.argv[1]
    for k, archive in enumerate(sys.argv[2:]):
        target = os.path.join(outdir, str(k))
        os.mkdir(target)
        reference(archive, target)
        sys.stdout.flush()


main()
