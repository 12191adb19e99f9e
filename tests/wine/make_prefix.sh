#!/bin/sh
# Makes the Wine prefix all Wine tests share, once per build tree (wineboot -i takes a while),
# and compiles the CP949 locale they run the client in into the shared locale cache.
# Usage: make_prefix.sh WINE_TEST_DIR   (makes WINE_TEST_DIR/prefix and WINE_TEST_DIR/cache)
set -eu
dir=$1
prefix=$dir/prefix
if ! command -v wine >/dev/null 2>&1 || ! command -v wineboot >/dev/null 2>&1; then
  echo "wine_prefix: no wine/wineboot program (packages wine and wine64): the Wine tests will be skipped"
  exit 0
fi
if [ ! -f "$prefix/system.reg" ]; then
  rm -rf "$prefix.new"
  mkdir -p "$dir"
  WINEPREFIX="$prefix.new" WINEDEBUG=-all wineboot -i
  # The registry files are complete once the prefix's server has ended.
  WINEPREFIX="$prefix.new" wineserver -w
  test -f "$prefix.new/system.reg"
  mv "$prefix.new" "$prefix"
fi
locales=$dir/cache/torvane/locale
if [ ! -f "$locales/ko_KR.CP949/LC_CTYPE" ]; then
  mkdir -p "$locales"
  localedef -i ko_KR -f CP949 "$locales/ko_KR.CP949" || test -f "$locales/ko_KR.CP949/LC_CTYPE"
fi
echo "wine_prefix: $prefix"
