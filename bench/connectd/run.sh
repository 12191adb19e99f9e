#!/usr/bin/env bash
# The connect server under load: CONCURRENT launchers at once (default 5000) on loopback,
# each reading the greeting, asking for the server list and its version, and reading the list
# and the FTP patch-server message; then TOTAL conversations (default 50000) with CONCURRENT
# in flight. Prints the time to answer all at once, the server's resident memory idle and with
# every client held, sessions per second and the server's peak resident memory.
#
#   bench/connectd/run.sh [build-dir]
#
# Needs torvane-connectd and connect-load built (cmake --build build --target torvane-connectd
# connect-load). Clients come from 50 loopback addresses (127.0.0.1 to 127.0.0.50), 100 each
# at most; the caps are raised (256 per address, twice CONCURRENT in all) so that closes the
# server has not yet seen do not count against the next wave. Not run by tests
# or CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
. bench/common.sh
build=${1:-build}
concurrent=${CONCURRENT:-5000}
total=${TOTAL:-50000}
sources=${SOURCES:-50}
for program in torvane-connectd connect-load; do
  [ -x "$build/bin/$program" ] || { echo "build it first: cmake --build $build --target $program" >&2; exit 1; }
done
connectd=$(realpath "$build/bin/torvane-connectd")
load=$(realpath "$build/bin/connect-load")

bench_work_dir connectd
cat > connectd.conf <<CONF
server.0.name = Alpha
server.0.address = 127.0.0.1
server.0.port = 55901
patch = ftp
patch_host = 127.0.0.1
patch_port = 2121
patch_user = anonymous
patch_password = guest
patch_version_file = version.wvd
CONF
port=$(free_port)
"$connectd" --config connectd.conf --port "$port" --max-connections $((2 * concurrent + 100)) \
  --max-per-address 256 >connectd.out 2>connectd.log &
pids+=($!)
wait_port "$port"
echo "== $concurrent clients at once, then $total sessions ($(nproc) CPUs, $(uname -r))"
"$load" "$port" "$concurrent" "$total" "$sources" "${pids[0]}"
kill -TERM "${pids[0]}" && wait "${pids[0]}" || true
echo "== server log: $(grep -c '^session ' connectd.log) session lines (one per conversation), others:"
grep -v '^session \|^listening ' connectd.log | head -5 || true
