# Shared by the patch benchmarks (sourced, not run). Gives:
#   bench_work_dir NAME       makes $work (or WORK_DIR), enters it, and at exit kills every
#                             process in $pids and removes $work unless KEEP is set
#   free_port, wait_port N    a free loopback port; wait until one accepts connections
#   generate_data FILES KIB   data/fNNNN.bmd, text-like files that compress as game data does
#   publish_compressed DIR    DIR/version.wvd naming 1.00.01 and DIR/1.00.01 with every data
#                             file bzip2-compressed (".VKC") under a "#COMPRESSED#" list.inf

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
