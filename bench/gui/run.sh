#!/usr/bin/env bash
# The same FTP patch run through the window launcher (torvane, under a private Xvfb display)
# and through the terminal launcher (torvane-cli), side by side over loopback.
#
#   bench/gui/run.sh [build-dir]
#
# Generates FILES files (default 300) of SIZE_KIB KiB each (default 1024), bzip2-compressed
# per file (".VKC") and served by pyftpdlib; torvane-connectd hands both launchers that FTP
# server. In each of ROUNDS rounds (default 3) each launcher patches a fresh game directory
# from 1.00.00 to 1.00.01, the two taking turns to go first. One watcher (measure.py) times
# both alike: a run ends when config.ini names the new version, its patch phase starts at the
# first RETR, and its peak resident set size is read from /proc meanwhile. Prints each run,
# then the medians of both, the GUI/terminal ratios, whether the installed trees match, and
# whether the GUI is within 5% of the terminal launcher. Needs torvane, torvane-cli,
# torvane-connectd, torvane_assets, Xvfb, pyftpdlib and bzip2. Not run by tests or CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$(pwd)
. bench/common.sh
build=$(realpath "${1:-build}")
files=${FILES:-300}
size_kib=${SIZE_KIB:-1024}
rounds=${ROUNDS:-3}
for need in bzip2 Xvfb; do
  command -v "$need" >/dev/null || { echo "missing: $need" >&2; exit 1; }
done
for program in torvane torvane-cli torvane-connectd; do
  [ -x "$build/bin/$program" ] || { echo "build it first: $program" >&2; exit 1; }
done
[ -d "$build/assets/skin" ] || { echo "build it first: torvane_assets" >&2; exit 1; }

bench_work_dir gui
generate_data "$files" "$size_kib"
publish_compressed ftp
echo "   $(du -sm ftp | cut -f1) MiB compressed files"

ftp_port=$(free_port)
/usr/bin/python3 "$src/tests/support/ftp_server.py" --port "$ftp_port" --root "$work/ftp" \
  --retrievals-file "$work/retr.log" >ftp.log 2>&1 &
pids+=($!)
connect_port=$(free_port)
{
  printf 'patch = ftp\npatch_host = 127.0.0.1\npatch_port = %s\n' "$ftp_port"
  printf 'patch_user = patch\npatch_password = secret\npatch_version_file = version.wvd\n'
  printf 'server.0.name = Bench\nserver.0.address = 10.0.0.1\nserver.0.port = 55901\n'
} > connectd.conf
"$build/bin/torvane-connectd" --config connectd.conf --port "$connect_port" >connectd.log 2>&1 &
pids+=($!)
wait_port "$ftp_port"; wait_port "$connect_port"

# The window launcher reads torvane.conf beside itself: both run copies from bin/.
mkdir -p bin run && chmod 700 run
cp "$build/bin/torvane" "$build/bin/torvane-cli" bin/
cat > bin/torvane.conf <<CONF
connect_address = 127.0.0.1
connect_port = $connect_port
news_host = 127.0.0.1:1
data_dir = $build/assets
registry_dir = $work/registry
desktop_dir = $work/desktop
product_name = TorvaneBench$$
CONF

display=
for n in $(seq 90 130); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >xvfb.log 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
echo "== $rounds rounds, terminal and window launcher in turn"
/usr/bin/python3 "$src/bench/gui/measure.py" "$work" "$display" "$rounds"
