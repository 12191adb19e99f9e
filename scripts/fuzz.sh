#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed number of runs over its
# committed seed corpus (fuzz/corpus/<name>/).  Usage: scripts/fuzz.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
runs=${2:-2000}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTORVANE_FUZZ=ON -DTORVANE_TESTS=OFF -DTORVANE_GUI=OFF
targets=$(find fuzz -maxdepth 1 -name '*.cpp' -printf 'fuzz_%f\n' | sed 's/\.cpp$//' | sort)
[ -n "$targets" ] || { echo "no fuzz targets"; exit 0; }
cmake --build "$build" -j "$(nproc)" --target $targets
for t in $targets; do
  name=${t#fuzz_}
  seeds=fuzz/corpus/$name
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/ 2>/dev/null || true
  echo "-- $t ($runs runs)"
  ASAN_OPTIONS=detect_leaks=1 "$build/bin/$t" -runs="$runs" -max_len=65536 -timeout=20 -rss_limit_mb=2048 "$work"
  rm -rf "$work"
done
echo "fuzz: all targets passed"
