#!/usr/bin/env bash
# Unpacking and restoring a large patch file: torvane-tool against unzip and bzip2, side by side.
#
#   bench/archive/run.sh [build-dir]
#
# Generates a file of SIZE_MIB MiB (default 2047: the largest size that still fits a plain,
# non-64-bit zip entry with every writer), zips it (deflate) and bzip2s it, then times
#   torvane-tool zip extract   vs  unzip -o -qq
#   torvane-tool vkc restore   vs  bzip2 -dc
# with hyperfine (RUNS runs each, default 3) and measures each one's peak resident set size
# with /usr/bin/time. Memory must stay flat: the reader and the restorer stream through fixed
# buffers, whatever the file size. Needs about 4 x SIZE_MIB of free disk in WORK_DIR
# (default: a fresh directory under /tmp, removed at the end). Not run by tests or CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
tool=$(realpath "$build/bin/torvane-tool")
size_mib=${SIZE_MIB:-2047}
runs=${RUNS:-3}
for need in hyperfine zip unzip bzip2 /usr/bin/time; do
  command -v "$need" >/dev/null || { echo "missing: $need" >&2; exit 1; }
done
[ -x "$tool" ] || { echo "build torvane-tool first: cmake --build $build --target torvane-tool" >&2; exit 1; }

work=${WORK_DIR:-$(mktemp -d /tmp/torvane-bench-archive.XXXXXX)}
mkdir -p "$work"
cleanup() { [ -n "${KEEP:-}" ] || rm -rf "$work"; }
trap cleanup EXIT
cd "$work"

echo "== generating ${size_mib} MiB in $work"
# Text-like data (base64 of random bytes): compresses about 4:3, like game data, and gives
# neither compressor long repeats to exploit.
head -c $((48 * 1024 * 1024)) /dev/urandom > raw
base64 -w 76 raw > b64
head -c $((64 * 1024 * 1024)) b64 > chunk
rm raw b64
rm -f big.dat
remaining=$size_mib
while [ "$remaining" -ge 64 ]; do cat chunk >> big.dat; remaining=$((remaining - 64)); done
[ "$remaining" -gt 0 ] && head -c $((remaining * 1024 * 1024)) chunk >> big.dat
rm chunk
echo "== compressing"
zip -q -1 big.zip big.dat
bzip2 -k -9 big.dat
mv big.dat.bz2 big.dat.VKC
ls -l big.dat big.zip big.dat.VKC

mkdir -p out-tool out-unzip
hyperfine --runs "$runs" --export-json zip.json \
  --prepare 'rm -rf out-tool out-unzip; mkdir out-tool out-unzip' \
  -n torvane-zip "$tool zip extract big.zip out-tool" \
  -n unzip 'unzip -o -qq big.zip -d out-unzip'

mkdir -p restore
cp big.dat.VKC restore/
hyperfine --runs "$runs" --export-json vkc.json \
  --prepare 'rm -f restore/big.dat bzip2.out' \
  -n torvane-vkc "$tool vkc restore restore/big.dat.VKC restore/" \
  -n bzip2 'bzip2 -dc big.dat.VKC > bzip2.out'

peak() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }
rm -rf out-tool out-unzip restore/big.dat; mkdir out-tool out-unzip
rss_tool_zip=$(peak "$tool" zip extract big.zip out-tool)
rss_unzip=$(peak unzip -o -qq big.zip -d out-unzip)
rss_tool_vkc=$(peak "$tool" vkc restore restore/big.dat.VKC restore/)
rss_bzip2=$(peak sh -c 'bzip2 -dc big.dat.VKC > bzip2.out')
# Every output must be the original, byte for byte.
for out in out-tool/big.dat out-unzip/big.dat restore/big.dat bzip2.out; do cmp big.dat "$out"; done

mean() { /usr/bin/python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print('%.2f' % [r['mean'] for r in d['results'] if r['command']==sys.argv[2]][0])" "$1" "$2"; }
zt=$(mean zip.json torvane-zip); zu=$(mean zip.json unzip)
vt=$(mean vkc.json torvane-vkc); vb=$(mean vkc.json bzip2)
ratio() { /usr/bin/python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$1" "$2"; }

echo
echo "== results (${size_mib} MiB, mean of $runs runs; peak RSS in KiB)"
printf '%-28s %10s %12s\n' command seconds peak-rss
printf '%-28s %10s %12s\n' "torvane-tool zip extract" "$zt" "$rss_tool_zip"
printf '%-28s %10s %12s\n' "unzip" "$zu" "$rss_unzip"
printf '%-28s %10s %12s\n' "torvane-tool vkc restore" "$vt" "$rss_tool_vkc"
printf '%-28s %10s %12s\n' "bzip2 -dc" "$vb" "$rss_bzip2"
echo "zip extract time ratio (torvane / unzip):  $(ratio "$zt" "$zu")"
echo "vkc restore time ratio (torvane / bzip2):  $(ratio "$vt" "$vb")"
