#!/bin/bash
# Peak memory of an FTP patch session against the size of its "list.inf".
#
#   bash bench/patch/list-memory.sh [build-dir]
#
# Serves, with pyftpdlib, one version whose list.inf is 64 KiB, 1 MiB, 4 MiB and 16 MiB of
# one-letter file names (the worst case: one list item per two bytes), runs
# patch-session-driver on a fresh game directory for each and prints its peak resident set
# size (/usr/bin/time) beside that of `wc -w` reading the same list, with the session's exit
# status (such lists are refused: a directory lists at most 999 files). The launcher's peak
# should stay flat, bounded by the list reader's 16 MiB limit, not grow with the list.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$src/build}")
driver="$build/bin/patch-session-driver"
# shellcheck source=../common.sh
source "$src/bench/common.sh"
[ -x "$driver" ] || { echo "build it first: cmake --build $build --target patch-session-driver" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time" >&2; exit 1; }

bench_work_dir list-memory
mkdir -p ftp/1.00.01
echo '"1.00.01"' > ftp/version.wvd
port=$(free_port)
/usr/bin/python3 "$src/tests/support/ftp_server.py" --port "$port" --root "$work/ftp" >ftp.log 2>&1 &
pids+=($!)
wait_port "$port" || { echo "pyftpdlib did not start" >&2; exit 1; }

peak_kib() { /usr/bin/time -q -f %M -o rss.txt "$@" >/dev/null 2>&1 || true; cat rss.txt; }

printf '%-10s %14s %14s %s\n' "list" "launcher KiB" "wc -w KiB" "session"
for kib in 64 1024 4096 16383; do
  /usr/bin/python3 -c "import sys; sys.stdout.write('a ' * ($kib * 512))" > ftp/1.00.01/list.inf
  rm -rf game && mkdir -p game/Temp
  launcher=$(peak_kib "$driver" game 127.0.0.1 "$port" patch secret version.wvd)
  /usr/bin/time -f %x -o status.txt "$driver" game 127.0.0.1 "$port" patch secret version.wvd \
    >session.txt 2>&1 || true
  words=$(peak_kib wc -w ftp/1.00.01/list.inf)
  printf '%-10s %14s %14s %s\n' "${kib} KiB" "$launcher" "$words" \
    "exit $(tail -n1 status.txt), last $(grep -E '^status' session.txt | tail -n1)"
done
