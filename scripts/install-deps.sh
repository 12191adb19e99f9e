#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the benchmarks use.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev libbz2-dev libcurl4-openssl-dev libzip-dev libsodium-dev libssl-dev minisign
  libgtkmm-3.0-dev libwebkit2gtk-4.1-dev libgstreamer1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev clang-format
  xvfb xauth x11-utils xdotool imagemagick
  fonts-noto-cjk fonts-dejavu-core
  nginx vsftpd python3 python3-pyftpdlib
  unzip zip bzip2 curl hyperfine file dpkg-dev openssl
  strace libarchive-tools linux-perf time
  lintian appstream desktop-file-utils bash-completion man-db
  # Windows game clients: Wine runs the Windows test client (64-bit only: never wine32, which
  # breaks the wine command here), mingw-w64 builds it, locales has the charmaps for localedef.
  wine wine64 mingw-w64 locales
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# One line per step; apt's own output goes to a log file, shown only when a step fails.
log=${TORVANE_DEPS_LOG:-${TMPDIR:-/tmp}/torvane-install-deps.log}
step() {
  local what=$1
  shift
  echo "install-deps: $what"
  if ! "$@" >>"$log" 2>&1; then
    echo "install-deps: failed: $what; the last lines of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
}
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  : >"$log"
  echo "install-deps: ${#missing[@]} of ${#packages[@]} packages missing (apt's output: $log)"
  step "updating the package lists" $SUDO apt-get update
  step "installing ${missing[*]}" \
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
else
  echo "install-deps: all ${#packages[@]} packages are installed"
fi
