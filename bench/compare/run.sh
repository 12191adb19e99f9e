#!/usr/bin/env bash
# The launcher against the standard tools doing the same work, in one table.
#
#   bench/compare/run.sh [build-dir]
#
# Generates FILES files (default 600) of SIZE_KIB KiB (default 525: about 315 MB) and
# publishes them per file, bzip2-compressed (".VKC", served by pyftpdlib), and packed (one
# up_list.zip, served by nginx). Then times, RUNS times each (default 3), the two sides of
# every row taking turns (launcher first in odd runs, the tool first in even ones):
#   per-file FTP   patch-session-driver            vs  curl (one connection) + bzip2 -d
#   packed HTTP    patch-session-driver --http     vs  curl + bsdtar -x
#   zip extract    torvane-tool zip extract        vs  bsdtar -x, and unzip
#   .VKC restore   torvane-tool vkc restore        vs  bzip2 -d  (every file of the set)
# and prints the median wall time of each side, the ratio of the medians, the median CPU time
# (user + system) of each side and each side's largest peak resident set size (/usr/bin/time).
# Every output tree is compared with the generated data. The machine's load matters: run it on
# a quiet machine, and read the ratios (both sides ran under the same load, in turns) rather
# than the seconds; the load averages before and after the runs are printed with the table.
# ROWS (an extended regular expression over the row names: ftp, http, zip, vkc) picks rows.
# Needs the test build (patch-session-driver, torvane-tool), pyftpdlib, nginx, curl, bzip2,
# bsdtar, unzip, /usr/bin/time and about 4 x the data size of free disk. Not run by tests or CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$(pwd)
. bench/common.sh
build=$(realpath "${1:-build}")
driver=$build/bin/patch-session-driver
tool=$build/bin/torvane-tool
files=${FILES:-600}
size_kib=${SIZE_KIB:-525}
runs=${RUNS:-3}
for need in curl bzip2 bsdtar unzip /usr/bin/time /usr/sbin/nginx; do
  command -v "$need" >/dev/null || { echo "missing: $need" >&2; exit 1; }
done
for program in "$driver" "$tool"; do
  [ -x "$program" ] || { echo "build it first: $program" >&2; exit 1; }
done

bench_work_dir compare
generate_data "$files" "$size_kib"
publish_compressed ftp
publish_packed http
mkdir -p vkc && cp ftp/1.00.01/*.VKC vkc/
echo "   $(du -sm data | cut -f1) MiB of data, $(du -sm ftp | cut -f1) MiB compressed files," \
  "$(du -sm http/1.00.01/up_list.zip | cut -f1) MiB archive"
start_ftp ftp
start_nginx http
zip=$work/http/1.00.01/up_list.zip

fresh() { rm -rf "$work/out"; mkdir -p "$work/out/Temp"; }
# The output must hold every generated file, byte for byte.
verify() {
  diff -rq --exclude=Temp --exclude=config.ini --exclude=patch.log --exclude='*.VKC' \
    "$work/data" "$work/out" >/dev/null || { echo "DIFFERENT OUTPUT: $1" >&2; exit 1; }
}

# Each side is a function run from a fresh output directory.
launcher_ftp() { "$driver" "$work/out" 127.0.0.1 "$ftp_port" patch secret version.wvd; }
tools_ftp() {
  local args=() f
  for f in data/f*.bmd; do
    f=$(basename "$f").VKC
    args+=(-o "out/$f" "ftp://127.0.0.1:$ftp_port/1.00.01/$f")
  done
  curl -s -u patch:secret "${args[@]}"
  for f in out/*.VKC; do bzip2 -dc "$f" > "${f%.VKC}" && rm "$f"; done
}
launcher_http() { "$driver" --http "$work/out" "127.0.0.1:$http_port" version.wvd; }
tools_http() {
  curl -s -o out/Temp/up_list.zip "http://127.0.0.1:$http_port/1.00.01/up_list.zip?time=1"
  bsdtar -x -f out/Temp/up_list.zip -C out
  rm out/Temp/up_list.zip
}
launcher_zip() { "$tool" zip extract "$zip" out; }
bsdtar_zip() { bsdtar -x -f "$zip" -C out; }
unzip_zip() { unzip -o -qq "$zip" -d out; }
launcher_vkc() { cp vkc/*.VKC out/ && for f in out/*.VKC; do "$tool" vkc restore "$f" out/ && rm "$f"; done; }
bzip2_vkc() { cp vkc/*.VKC out/ && for f in out/*.VKC; do bzip2 -dc "$f" > "${f%.VKC}" && rm "$f"; done; }

# run NAME FUNCTION: one timed run into $work/times/NAME ("seconds peak_kib" lines)
mkdir -p times
run() {
  fresh
  (cd "$work" && /usr/bin/time -a -f "%e %M %U %S" -o "times/$1" bash -c "$(declare -f "$2" fresh); \
    driver='$driver' tool='$tool' zip='$zip' work='$work' ftp_port=$ftp_port \
    http_port=$http_port; $2" >"times/$1.out" 2>&1) || { echo "$1 failed:" >&2; tail "times/$1.out" >&2; exit 1; }
  verify "$1"
}

all_rows=("per-file FTP:launcher_ftp:tools_ftp:curl + bzip2 -d"
          "packed HTTP:launcher_http:tools_http:curl + bsdtar"
          "zip extract:launcher_zip:bsdtar_zip:bsdtar"
          "zip extract:launcher_zip:unzip_zip:unzip"
          ".VKC restore:launcher_vkc:bzip2_vkc:bzip2 -d")
rows=()
for row in "${all_rows[@]}"; do
  IFS=: read -r _ mine _ _ <<<"$row"
  [[ ${mine#launcher_} =~ ${ROWS:-.} ]] && rows+=("$row")
done
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((r = 1; r <= runs; r++)); do
  echo "== run $r of $runs"
  for row in "${rows[@]}"; do
    IFS=: read -r title mine theirs _ <<<"$row"
    if ((r % 2)); then run "$mine" "$mine"; run "$theirs" "$theirs"
    else run "$theirs" "$theirs"; run "$mine" "$mine"; fi
  done
done

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
seconds() { cut -d' ' -f1 "times/$1" | median; }
peak() { cut -d' ' -f2 "times/$1" | sort -n | tail -1; }
cpu() { awk '{print $3 + $4}' "times/$1" | median; }

echo
echo "== $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
  "$(free -g | awk '/^Mem:/ {print $2}') GiB; load $load_before before, $(cut -d' ' -f1-3 /proc/loadavg)" \
  "after; medians of $runs runs (wall and CPU seconds), peak RSS in MiB"
printf '| %-13s | %-15s | %7s | %6s | %6s | %7s | %6s | %6s | %6s | %6s |\n' \
  row tool wall CPU peak "tool wall" CPU peak "wall x" "CPU x"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' --------------- ----------------- --------- -------- \
  -------- --------- -------- -------- -------- --------
for row in "${rows[@]}"; do
  IFS=: read -r title mine theirs label <<<"$row"
  ms=$(seconds "$mine"); ts=$(seconds "$theirs"); mc=$(cpu "$mine"); tc=$(cpu "$theirs")
  printf '| %-13s | %-15s | %7.2f | %6.2f | %6.1f | %9.2f | %6.2f | %6.1f | %6.2f | %6.2f |\n' \
    "$title" "$label" "$ms" "$mc" "$(echo "$(peak "$mine") / 1024" | bc -l)" "$ts" "$tc" \
    "$(echo "$(peak "$theirs") / 1024" | bc -l)" "$(echo "$ms / $ts" | bc -l)" \
    "$(echo "$mc / $tc" | bc -l)"
done
echo "(launcher: wall, CPU, peak; then the tool's; x: launcher / tool, medians)"
