#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, runs every test.
# Usage: scripts/test.sh [build-dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${1:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_WERROR=ON ${TORVANE_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
cd "$build"
# TORVANE_CTEST_ARGS: extra ctest arguments (CI leaves the multi-gigabyte tests out of the sanitizer run).
ctest --output-on-failure -j "$(nproc)" --timeout 900 ${TORVANE_CTEST_ARGS:-}
