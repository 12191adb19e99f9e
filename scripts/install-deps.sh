#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the benchmarks use.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev libbz2-dev libcurl4-openssl-dev libzip-dev libsodium-dev minisign
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
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
