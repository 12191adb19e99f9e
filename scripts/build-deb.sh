#!/usr/bin/env bash
# Builds the programs alone (no tests, no benchmarks) with Debian's hardening flags and packages
# them: the build command for operators.
#
#   bash scripts/build-deb.sh [build-dir]        (default build-deb)
#
# Set the package's maintainer first, as Debian tools do:
#   DEBFULLNAME="Jo Operator" DEBEMAIL=jo@example.net bash scripts/build-deb.sh
# (or pass -DTORVANE_PACKAGE_MAINTAINER="Jo Operator <jo@example.net>" in CMAKE_ARGS).
# Prints the path of the .deb it made; install it with "sudo apt install ./torvane_*.deb".
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}

# Every hardening feature dpkg-buildflags knows (fortified functions, stack protector, full
# RELRO with immediate binding, format checks), in the variables CMake reads when it first
# configures a build directory.
export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
export CFLAGS="$CPPFLAGS $(dpkg-buildflags --get CFLAGS)"
export CXXFLAGS="$CPPFLAGS $(dpkg-buildflags --get CXXFLAGS)"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_TESTS=OFF \
  "${launcher[@]}" ${CMAKE_ARGS:-}
cmake --build "$build"
(cd "$build" && cpack -G DEB >/dev/null)
ls "$(realpath "$build")"/torvane_*.deb
