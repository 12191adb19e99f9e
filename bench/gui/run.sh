#!/usr/bin/env bash
# The same FTP patch run through the window launcher (torvane, under a private Xvfb display)
# and through the terminal launcher (torvane-cli), side by side over loopback.
#
#   bench/gui/run.sh [build-dir]
#
# Generates FILES files (default 300) of SIZE_KIB KiB each (default 1024), bzip2-compressed
# per file (".VKC") and served by pyftpdlib; torvane-connectd hands both launchers that FTP
# server. Each launcher patches a fresh game directory from 1.00.00 to 1.00.01. The terminal
# launcher ends by itself when the client is current; the window launcher stays open on its
# server list, so its run ends when config.ini names the new version (polled every 20 ms) and
# its peak resident set size is read from /proc then. Prints, for both, the time from start
# and the time from the first RETR (the patch phase, without start-up), the GUI/terminal
# ratios, both peaks, whether the installed trees match, and whether the GUI is within 5% of
# the terminal launcher. Needs torvane, torvane-cli, torvane-connectd, torvane_assets, Xvfb,
# pyftpdlib and bzip2. Not run by tests or CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$(pwd)
build=$(realpath "${1:-build}")
files=${FILES:-300}
size_kib=${SIZE_KIB:-1024}
for need in bzip2 bc Xvfb /usr/bin/time; do
  command -v "$need" >/dev/null || { echo "missing: $need" >&2; exit 1; }
done
for program in torvane torvane-cli torvane-connectd; do
  [ -x "$build/bin/$program" ] || { echo "build it first: $program" >&2; exit 1; }
done
[ -d "$build/assets/skin" ] || { echo "build it first: torvane_assets" >&2; exit 1; }

work=${WORK_DIR:-$(mktemp -d /tmp/torvane-bench-gui.XXXXXX)}
mkdir -p "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 200); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done; return 1; }
now() { date +%s.%N; }

echo "== generating $files files of $size_kib KiB"
/usr/bin/python3 - "$files" "$size_kib" <<'PY'
import os, random, sys
files, size = int(sys.argv[1]), int(sys.argv[2]) * 1024
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(4000)]
os.makedirs("data", exist_ok=True)
for i in range(files):
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + (b" " if rng.random() < 0.9 else bytes([rng.randrange(256)]))
    with open(f"data/f{i:04d}.bmd", "wb") as f:
        f.write(out[:size])
PY
mkdir -p ftp/1.00.01
printf '"1.00.01"\n' > ftp/version.wvd
{ echo "#COMPRESSED#"; for f in data/f*.bmd; do echo "\"$(basename "$f").VKC\""; done; } > ftp/1.00.01/list.inf
for f in data/f*.bmd; do bzip2 -c "$f" > "ftp/1.00.01/$(basename "$f").VKC"; done
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

fresh() { rm -rf "$1"; mkdir -p "$1/Temp"; printf '[LOGIN]\r\nVersion=1.00.00\r\n' > "$1/config.ini"; }

# first_retr: the time of the run's first RETR (the version file), polled with the run.
first_retr=
poll_retr() { if [ -z "$first_retr" ] && [ -s retr.log ]; then first_retr=$(now); fi; }

echo "== terminal launcher"
fresh game-cli
: > retr.log; first_retr=
start=$(now)
(cd game-cli && exec /usr/bin/time -f "%e %M" -o "$work/cli.time" "$work/bin/torvane-cli" \
   --config "$work/bin/torvane.conf" --game-dir "$work/game-cli" --no-start >"$work/cli.out" 2>&1) &
cli=$!
while kill -0 "$cli" 2>/dev/null; do poll_retr; sleep 0.02; done
wait "$cli" || { echo "torvane-cli failed:" >&2; tail -5 cli.out >&2; exit 1; }
end=$(now)
poll_retr
cli_transfer=$(echo "$end - $first_retr" | bc -l)

echo "== window launcher under Xvfb"
display=
for n in $(seq 90 130); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >xvfb.log 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
fresh game-gui
: > retr.log; first_retr=
env_extra=()
[ "$(id -u)" = 0 ] && env_extra+=(WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1)
start=$(now)
(cd game-gui && exec env DISPLAY="$display" TORVANE_SOUND=off WEBKIT_DISABLE_COMPOSITING_MODE=1 \
   XDG_RUNTIME_DIR="$work/run" "${env_extra[@]}" "$work/bin/torvane" >"$work/gui.out" 2>&1) &
gui=$!
pids+=($gui)
peak=0
until grep -q '1\.00\.01' game-gui/config.ini 2>/dev/null; do
  kill -0 "$gui" 2>/dev/null || { echo "torvane ended early:" >&2; tail -5 gui.out >&2; exit 1; }
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$gui/status" 2>/dev/null || echo 0)
  [ "${hwm:-0}" -gt "$peak" ] && peak=$hwm
  poll_retr
  sleep 0.02
done
end=$(now)
gui_transfer=$(echo "$end - $first_retr" | bc -l)
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$gui/status" 2>/dev/null || echo 0)
[ "${hwm:-0}" -gt "$peak" ] && peak=$hwm
kill "$gui" 2>/dev/null || true
gui_time=$(echo "$end - $start" | bc -l)
read -r cli_time cli_peak < cli.time

same=$(diff -rq --exclude=Temp --exclude=config.ini --exclude=patch.log game-gui game-cli >/dev/null && echo same || echo DIFFERENT)
ratio=$(echo "$gui_time / $cli_time" | bc -l)
transfer_ratio=$(echo "$gui_transfer / $cli_transfer" | bc -l)
echo
printf '                      start to current | first RETR to current | peak RSS\n'
printf 'terminal torvane-cli  %10.2f s       | %10.2f s            | %8d KiB\n' "$cli_time" "$cli_transfer" "$cli_peak"
printf 'window   torvane      %10.2f s       | %10.2f s            | %8d KiB\n' "$gui_time" "$gui_transfer" "$peak"
printf 'GUI/terminal ratio    %10.3f         | %10.3f\n' "$ratio" "$transfer_ratio"
echo "installed trees: $same"
verdict() { [ "$(echo "$1 <= 1.05" | bc -l)" = 1 ] && echo met || echo "NOT met"; }
echo "goal (GUI within 5% of the terminal launcher): whole run $(verdict "$ratio"), patch phase $(verdict "$transfer_ratio")"
