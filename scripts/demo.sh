#!/usr/bin/env bash
# The launcher's main job on a built-in demo deployment, from nothing:
#   installs what it needs, builds, makes a demo game directory and a demo patch repository
#   (per-file, compressed, packed, test-server and self-update versions, published with
#   torvane-publish), starts the demo connect server and a real patch server on 127.0.0.1,
#   runs the launcher against them until the game client (a stand-in) has been started after
#   the launcher's own update, then once more through the server view, as a player would, so
#   that the stand-in shows the whole hand-off; and stops everything it started.
#
# Usage: scripts/demo.sh [--cli | --window] [--ftp | --http] [--keep]
#   --cli     the terminal launcher (default when there is no display)
#   --window  the skinned window (default when $DISPLAY is set and the window was built)
#   --ftp     patches from an FTP server (pyftpdlib; default): every patch kind
#   --http    patches from nginx over HTTP (packed patches only, as HTTP sessions require)
#   --keep    leave demo-run/ in place afterwards (it is always rebuilt at the next run)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

front=""
transport=ftp
keep=0
for arg in "$@"; do
  case $arg in
    --cli) front=cli ;;
    --window) front=window ;;
    --ftp) transport=ftp ;;
    --http) transport=http ;;
    --keep) keep=1 ;;
    -h | --help) sed -n '2,17p' "$0"; exit 0 ;;
    *) echo "demo: unknown option $arg" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
bin=$root/build/bin

if [ -z "$front" ]; then
  if [ -n "${DISPLAY:-}" ] && [ -x "$bin/torvane" ]; then front=window; else front=cli; fi
fi
if [ "$front" = window ] && [ ! -x "$bin/torvane" ]; then
  echo "demo: the window launcher was not built (GTK development packages missing?)" >&2
  exit 1
fi

run=$root/demo-run
rm -rf "$run"
mkdir -p "$run/logs"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ "$keep" = 1 ] || rm -rf "$run"
}
trap cleanup EXIT

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
wait_port() {
  for _ in $(seq 1 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "demo: nothing listens on port $1" >&2
  return 1
}

echo "== demo game trees"
/usr/bin/python3 scripts/demo/make_trees.py "$run/trees"
trees=$run/trees

echo "== patch repository ($transport)"
repo=$run/repository
publish() { "$bin/torvane-publish" add "$repo" "$@"; }
if [ "$transport" = ftp ]; then
  publish --label 1.00.01 --from "$trees/base" --to "$trees/1.00.01" --files
  publish --label 1.00.02 --from "$trees/1.00.01" --to "$trees/1.00.02" --compressed
  publish --label 1.01.00 --from "$trees/1.00.02" --to "$trees/1.01.00" --packed
  publish --label 1.01.01 --from "$trees/1.01.00" --to "$trees/1.01.01" --files --test-server
  publish --label 1.02.00 --from "$trees/1.01.00" --to "$trees/1.02.00" --packed
else
  publish --label 1.00.01 --from "$trees/base" --to "$trees/1.00.01" --packed
  publish --label 1.00.02 --from "$trees/1.00.01" --to "$trees/1.00.02" --packed
  publish --label 1.01.00 --from "$trees/1.00.02" --to "$trees/1.01.00" --packed
  publish --label 1.01.01 --from "$trees/1.01.00" --to "$trees/1.01.01" --packed --test-server
  publish --label 1.02.00 --from "$trees/1.01.00" --to "$trees/1.02.00" --packed
fi
"$bin/torvane-publish" check "$repo"

echo "== game directory"
game=$run/game
cp -r "$trees/base" "$game"
cp "$root/build/assets/message.wtf" "$game/message.wtf"
# The game client: the stand-in, keeping what it was handed in game-stub.log.
cat >"$game/game.exe" <<STUB
#!/bin/sh
exec "$bin/torvane-game-stub" "\$@" >>"$game/game-stub.log" 2>&1
STUB
chmod +x "$game/game.exe"
cat >"$run/torvane.conf" <<CONF
# Demo deployment: everything stays inside demo-run/.
game_client = game.exe
registry_dir = $run/registry
desktop_dir = $run/desktop
news_host = 127.0.0.1:NEWS_PORT
data_dir = $root/build/assets
skin_dir = $root/build/assets/skin
scramble_key = 17 2B 3D 4F
CONF
cp "$run/torvane.conf" "$game/torvane.conf"

echo "== servers"
patch_port=$(free_port)
if [ "$transport" = ftp ]; then
  /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$patch_port" -d "$repo" -u demo -P demo-pass \
    >"$run/logs/ftp.log" 2>&1 &
  pids+=($!)
  patch_host=127.0.0.1
else
  mkdir -p "$run/nginx"
  cat >"$run/nginx/nginx.conf" <<NGINX
daemon off;
pid $run/nginx/nginx.pid;
error_log $run/logs/nginx-error.log;
events { worker_connections 64; }
http {
  access_log $run/logs/nginx-access.log;
  client_body_temp_path $run/nginx/body;
  proxy_temp_path $run/nginx/proxy;
  fastcgi_temp_path $run/nginx/fastcgi;
  uwsgi_temp_path $run/nginx/uwsgi;
  scgi_temp_path $run/nginx/scgi;
  server {
    listen 127.0.0.1:$patch_port;
    root $repo;
  }
}
NGINX
  nginx -c "$run/nginx/nginx.conf" -p "$run/nginx" &
  pids+=($!)
  # The HTTP session builds its URLs from the host alone, so the port travels in it.
  patch_host=127.0.0.1:$patch_port
fi
wait_port "$patch_port"
sed -i "s/NEWS_PORT/$patch_port/" "$run/torvane.conf" "$game/torvane.conf"
printf '<html><body><h1>Demo news</h1><p>Version 1.02.00 is out.</p></body></html>\n' >"$repo/gg.htm"

cat >"$run/connectd.conf" <<CONF
# Demo connect server: four game servers (the third one closed) and the patch server.
server.0.name = Aurora
server.0.address = 127.0.0.1
server.0.port = 55901
server.1.name = Borealis
server.1.address = 127.0.0.1
server.1.port = 55902
server.2.name = Cinder (closed)
server.2.address = 127.0.0.1
server.2.port = 0
server.3.name = Dawn
server.3.address = 127.0.0.1
server.3.port = 55904
patch = $transport
patch_host = $patch_host
patch_port = $patch_port
patch_user = demo
patch_password = demo-pass
patch_version_file = version.wvd
CONF
connect_port=$(free_port)
"$bin/torvane-connectd" --config "$run/connectd.conf" --port "$connect_port" \
  >"$run/logs/connectd.log" 2>&1 &
pids+=($!)
wait_port "$connect_port"
printf 'connect_address = 127.0.0.1\nconnect_port = %s\n' "$connect_port" >>"$run/torvane.conf"

# The stand-in is started detached: wait for its report, then show it.
show_game() {
  for _ in $(seq 1 100); do
    grep -q '^stamp:' "$game/game-stub.log" 2>/dev/null && break
    sleep 0.05
  done
  if [ -f "$game/game-stub.log" ]; then sed 's/^/  game: /' "$game/game-stub.log"; else echo "  (the game was not started)"; fi
  rm -f "$game/game-stub.log"
}

run_launcher() {
  local status=0
  cd "$game"
  if [ "$front" = cli ]; then
    "$bin/torvane-cli" --config "$run/torvane.conf" --game-dir "$game" \
      --connect "127.0.0.1:$connect_port" --pick 1 --start || status=$?
  else
    # WebKit's sandbox cannot run as root; a demo run as root does without it.
    [ "$(id -u)" -ne 0 ] || export WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1
    TORVANE_CONFIG="$run/torvane.conf" "$bin/torvane" --game-dir "$game" || status=$?
  fi
  cd "$root"
  return $status
}

echo "== launcher ($front): patching up to the launcher's own update"
status=0
run_launcher || status=$?
echo "installed version: $(grep -i '^Version' "$game/config.ini" || true)"
echo "-- the game, started by the update itself (no server chosen yet, so no registry values):"
show_game

if [ $status -eq 0 ]; then
  echo "== launcher ($front) again: the rest of the patches, the server view, server 1, the game"
  [ "$front" = cli ] || echo "(choose a server in the window and press Connect)"
  run_launcher || status=$?
  echo "-- the game, started from the server view:"
  show_game
fi

echo "== result"
echo "installed version: $(grep -i '^Version' "$game/config.ini" || true)"
exit $status
