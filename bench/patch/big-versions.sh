#!/usr/bin/env bash
# Big versions: does patching time grow in line with a version's size, and memory not at all?
#
#   bench/patch/big-versions.sh [build-dir]
#
# Patches, from a fresh game directory each, two sizes of each kind of version:
#   packed HTTP  one up_list.zip of SMALL_FILES and of BIG_FILES files (default 5,000 and
#                20,000) in twenty directories, served by nginx;
#   per-file FTP SMALL_DIRS and BIG_DIRS directories (default 2 and 10) of 999 files each, one
#                list.inf switching directory before each 999 (the server's directories
#                mirror the game's), served by pyftpdlib.
# Every file is FILE_KIB KiB (default 4) of text-like data. Prints for each run the files, the
# wall and CPU seconds, the milliseconds per file and the peak resident set size, then for each
# kind the ratio of the big run's time to the small one's beside the ratio of their sizes
# (linear time: the two ratios about equal) and of their peaks (flat memory: about 1).
# SKIP_PACKED=1 runs the per-file versions only.
# Needs the test build (patch-session-driver), pyftpdlib, nginx and /usr/bin/time.
# Not run by tests or CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$(pwd)
. bench/common.sh
build=$(realpath "${1:-build}")
driver=$build/bin/patch-session-driver
small_files=${SMALL_FILES:-5000}
big_files=${BIG_FILES:-20000}
small_dirs=${SMALL_DIRS:-2}
big_dirs=${BIG_DIRS:-10}
file_kib=${FILE_KIB:-4}
for need in /usr/bin/time /usr/sbin/nginx; do
  command -v "$need" >/dev/null || { echo "missing: $need" >&2; exit 1; }
done
[ -x "$driver" ] || { echo "build it first: $driver" >&2; exit 1; }

bench_work_dir big-versions
echo "== load $(cut -d' ' -f1-3 /proc/loadavg); generating the versions"
mkdir -p http ftp
# make_version KIND SIZE LABEL COUNT: the version LABEL, named alone by the version list
# SIZE.wvd. KIND packed writes http/LABEL/up_list.zip of COUNT files in twenty directories;
# KIND perfile writes ftp/LABEL/DirNN/ with COUNT directories of 999 files and their list.inf.
make_version() {
  /usr/bin/python3 - "$@" "$file_kib" <<'PY'
import os, random, sys, zipfile
kind, size, label, count, kib = sys.argv[1:4] + [int(a) for a in sys.argv[4:6]]
rng = random.Random(11)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(2000)]
def content():
    out = bytearray()
    while len(out) < kib * 1024:
        out += rng.choice(words) + b" "
    return bytes(out[:kib * 1024])
if kind == "packed":
    top = f"http/{label}"
    os.makedirs(top)
    open(f"http/{size}.wvd", "w").write(f'"{label}"\n')
    open(f"{top}/list.inf", "w").write('#PACKINGVERSION#\n"config.ini"\n')
    with zipfile.ZipFile(f"{top}/up_list.zip", "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(count):
            z.writestr(f"Data{i % 20:02d}/f{i:05d}.bmd", content())
        z.writestr("config.ini", f"[LOGIN]\r\nVersion={label}\r\n")
else:
    top = f"ftp/{label}"
    os.makedirs(top)
    open(f"ftp/{size}.wvd", "w").write(f'"{label}"\n')
    # Files lie in directories of the same names on the server too.
    lines = ["#NEWTOOLVERSION#"]
    for d in range(count):
        os.makedirs(f"{top}/Dir{d:02d}")
        lines.append(f'1 "Dir{d:02d}"')
        for i in range(999):
            open(f"{top}/Dir{d:02d}/f{i:03d}.bmd", "wb").write(content())
            lines.append(f'"f{i:03d}.bmd"')
    open(f"{top}/list.inf", "w").write("\n".join(lines) + "\n")
PY
}
[ -n "${SKIP_PACKED:-}" ] || make_version packed small 1.00.01 "$small_files"
[ -n "${SKIP_PACKED:-}" ] || make_version packed big 1.00.02 "$big_files"
make_version perfile small 1.00.01 "$small_dirs"
make_version perfile big 1.00.02 "$big_dirs"
echo "   $(du -sm http | cut -f1) MiB packed, $(du -sm ftp | cut -f1) MiB per file"
start_nginx http
start_ftp ftp

fresh() { rm -rf "$work/game"; mkdir -p "$work/game/Temp"; }
# run KIND SIZE FILES: one timed patch; appends "kind size files wall cpu peak_kib" to results
run() {
  fresh
  local log=$work/$1-$2.out
  if [ "$1" = packed ]; then
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$driver" --http "$work/game" \
      "127.0.0.1:$http_port" "$2.wvd" >"$log" 2>&1
  else
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$driver" "$work/game" 127.0.0.1 \
      "$ftp_port" patch secret "$2.wvd" >"$log" 2>&1
  fi || { echo "$1 $2 failed:" >&2; tail "$log" >&2; exit 1; }
  local installed
  installed=$(find "$work/game" -name '*.bmd' | wc -l)
  [ "$installed" = "$3" ] || { echo "$1 $2: $installed of $3 files installed" >&2; exit 1; }
  read -r wall user sys peak <"$work/time.txt"
  echo "$1 $2 $3 $wall $(echo "$user + $sys" | bc -l) $peak" >>"$work/results"
  printf '%-8s %-6s %6d files %8.2f s wall %7.2f s CPU %7.3f ms/file %8d KiB peak\n' "$1" "$2" \
    "$3" "$wall" "$(echo "$user + $sys" | bc -l)" "$(echo "1000 * $wall / $3" | bc -l)" "$peak"
}

: >"$work/results"
echo "== patching"
if [ -z "${SKIP_PACKED:-}" ]; then
  run packed small "$small_files"
  run packed big "$big_files"
fi
run perfile small $((small_dirs * 999))
run perfile big $((big_dirs * 999))

echo
echo "== load $(cut -d' ' -f1-3 /proc/loadavg)"
for kind in packed perfile; do
  grep -q "^$kind big" "$work/results" || continue
  read -r _ _ sf sw sc sp < <(grep "^$kind small" "$work/results")
  read -r _ _ bf bw bc bp < <(grep "^$kind big" "$work/results")
  printf '%-8s size x %5.2f | wall x %5.2f | CPU x %5.2f | peak RSS x %5.2f (%d -> %d KiB)\n' \
    "$kind" "$(echo "$bf / $sf" | bc -l)" "$(echo "$bw / $sw" | bc -l)" \
    "$(echo "$bc / $sc" | bc -l)" "$(echo "$bp / $sp" | bc -l)" "$sp" "$bp"
done
