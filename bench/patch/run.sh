#!/usr/bin/env bash
# Patching over loopback: the launcher's FTP and HTTP sessions against curl plus the standard
# unpackers doing the same work, side by side.
#
#   bench/patch/run.sh [build-dir]
#
# Generates FILES files (default 300) of SIZE_KIB KiB each (default 1024, so about 300 MiB),
# then publishes them twice:
#   per-file FTP: every file bzip2-compressed (".VKC"), served by pyftpdlib;
#   packed HTTP:  one up_list.zip of all files, served by nginx.
# and times, from a fresh game directory each:
#   launcher FTP session (patch-session-driver)   vs  curl (one connection) + bzip2 -d
#   launcher HTTP session (patch-session-driver)  vs  curl + unzip
# printing wall time, the launcher/standard ratio and each side's peak resident set size
# (/usr/bin/time). The installed trees are compared with the standard tools' output.
# Needs the test build (patch-session-driver), pyftpdlib, nginx, curl, bzip2, unzip and
# about 4 x the data size of free disk in WORK_DIR. Not run by tests or CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$(pwd)
. bench/common.sh
build=${1:-build}
driver=$(realpath "$build/bin/patch-session-driver")
files=${FILES:-300}
size_kib=${SIZE_KIB:-1024}
for need in curl bzip2 unzip /usr/bin/time /usr/sbin/nginx; do
  command -v "$need" >/dev/null || { echo "missing: $need" >&2; exit 1; }
done
[ -x "$driver" ] || { echo "build it first: cmake --build $build --target patch-session-driver" >&2; exit 1; }

bench_work_dir patch
generate_data "$files" "$size_kib"

publish_compressed ftp
publish_packed http
echo "   $(du -sm ftp | cut -f1) MiB compressed files, $(du -sm http | cut -f1) MiB archive"
start_ftp ftp
start_nginx http

# measure NAME COMMAND...: prints "seconds peak_kib" into $work/NAME.time
measure() { local name=$1; shift; /usr/bin/time -f "%e %M" -o "$work/$name.time" "$@" >"$work/$name.out" 2>&1; }

fresh() { rm -rf "$1"; mkdir -p "$1/Temp"; }

echo "== per-file FTP (.VKC)"
fresh game-ftp
measure launcher-ftp "$driver" "$work/game-ftp" 127.0.0.1 "$ftp_port" patch secret version.wvd
fresh std-ftp
args=()
for f in data/f*.bmd; do n=$(basename "$f").VKC; args+=(-o "std-ftp/$n" "ftp://127.0.0.1:$ftp_port/1.00.01/$n"); done
printf '%s\n' "${args[@]}" > /dev/null
measure std-ftp bash -c 'curl -s -u patch:secret "$@" && for f in std-ftp/*.VKC; do bzip2 -d -c "$f" > "${f%.VKC}" && rm "$f"; done' _ "${args[@]}"

echo "== packed HTTP (up_list.zip)"
fresh game-http
measure launcher-http "$driver" --http "$work/game-http" "127.0.0.1:$http_port" version.wvd
fresh std-http
measure std-http bash -c "curl -s -o std-http/up_list.zip 'http://127.0.0.1:$http_port/1.00.01/up_list.zip?time=1' && unzip -o -qq std-http/up_list.zip -d std-http && rm std-http/up_list.zip"

check() {  # launcher tree vs standard tree, data files only
  diff -rq --exclude=Temp --exclude=config.ini --exclude=patch.log "$1" "$2" >/dev/null && echo same || echo DIFFERENT
}
row() {
  read -r lt lm < "$work/$2.time"; read -r st sm < "$work/$3.time"
  printf '%-16s launcher %7.2f s %8d KiB | standard %7.2f s %8d KiB | time ratio %5.2f | tree %s\n' \
    "$1" "$lt" "$lm" "$st" "$sm" "$(echo "$lt / $st" | bc -l)" "$(check "$4" "$5")"
}
echo
row "per-file FTP" launcher-ftp std-ftp game-ftp std-ftp
row "packed HTTP" launcher-http std-http game-http std-http
