# Shared by the patch benchmarks (sourced, not run). Gives:
#   bench_work_dir NAME       makes $work (or WORK_DIR), enters it, and at exit kills every
#                             process in $pids and removes $work unless KEEP is set
#   free_port, wait_port N    a free loopback port; wait until one accepts connections
#   generate_data FILES KIB   data/fNNNN.bmd, text-like files that compress as game data does
#   publish_compressed DIR    DIR/version.wvd naming 1.00.01 and DIR/1.00.01 with every data
#                             file bzip2-compressed (".VKC") under a "#COMPRESSED#" list.inf
#   publish_packed DIR        the same version packed: data/* (with a config.ini naming
#                             1.00.01) deflated into DIR/1.00.01/up_list.zip
#   start_ftp DIR, start_nginx DIR
#                             pyftpdlib or nginx serving DIR on a free port ($ftp_port,
#                             $http_port), added to $pids, waited for

bench_work_dir() {
  work=${WORK_DIR:-$(mktemp -d "/tmp/torvane-bench-$1.XXXXXX")}
  mkdir -p "$work"
  pids=()
  trap bench_cleanup EXIT
  cd "$work"
}

bench_cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 200); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done; return 1; }

generate_data() {
  echo "== generating $1 files of $2 KiB"
  /usr/bin/python3 - "$1" "$2" <<'PY'
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
}

publish_compressed() {
  mkdir -p "$1/1.00.01"
  printf '"1.00.01"\n' > "$1/version.wvd"
  { echo "#COMPRESSED#"; for f in data/f*.bmd; do echo "\"$(basename "$f").VKC\""; done; } > "$1/1.00.01/list.inf"
  for f in data/f*.bmd; do bzip2 -c "$f" > "$1/1.00.01/$(basename "$f").VKC"; done
}

publish_packed() {
  mkdir -p "$1/1.00.01"
  printf '"1.00.01"\n' > "$1/version.wvd"
  { echo "#PACKINGVERSION#"; echo '"config.ini"'; } > "$1/1.00.01/list.inf"
  printf '[LOGIN]\r\nVersion=1.00.01\r\n' > data/config.ini
  (cd data && /usr/bin/python3 -c '
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for n in sorted(os.listdir(".")): z.write(n)' "$(realpath "../$1")/1.00.01/up_list.zip")
  rm data/config.ini
}

start_ftp() {
  ftp_port=$(free_port)
  /usr/bin/python3 "$src/tests/support/ftp_server.py" --port "$ftp_port" --root "$(realpath "$1")" \
    >"$work/ftp.log" 2>&1 &
  pids+=($!)
  wait_port "$ftp_port"
}

start_nginx() {
  http_port=$(free_port)
  mkdir -p "$work/nginx/logs"
  cat > "$work/nginx/nginx.conf" <<CONF
$( [ "$(id -u)" = 0 ] && echo "user root;" )
daemon off; master_process off; worker_processes 1;
pid $work/nginx/nginx.pid; error_log $work/nginx/logs/error.log;
events { worker_connections 64; }
http { access_log off; sendfile on;
  client_body_temp_path $work/nginx/b; proxy_temp_path $work/nginx/p; fastcgi_temp_path $work/nginx/f;
  uwsgi_temp_path $work/nginx/u; scgi_temp_path $work/nginx/s;
  server { listen 127.0.0.1:$http_port; root $(realpath "$1"); } }
CONF
  /usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" >"$work/nginx.log" 2>&1 &
  pids+=($!)
  wait_port "$http_port"
}
