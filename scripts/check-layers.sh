#!/usr/bin/env bash
# Fails when a library under src/ includes a header of a layer above its own, when one front
# end includes the other, or when a folder other than src/gtk includes a toolkit header.
# The layer order is README.md's ("Layers"); the build enforces the same order through each
# library's include root and link dependencies (cmake/TorvaneTargets.cmake).
# Usage: scripts/check-layers.sh [source-dir]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# Lowest first. The two front ends share a rank: neither may use the other.
declare -A rank=([platform]=0 [trust]=1 [text]=2 [archive]=3 [patch]=4 [net]=5 [ui]=6 [options]=7
                 [app]=8 [gtk]=9 [cli]=9)
toolkit='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(gtk|gtkmm|gdk|gdkmm|glib|glibmm|gio|giomm|webkit2|gst|pango|pangomm|cairo|cairomm|sigc\+\+|X11)[/.-]'

failures=0
for dir in src/*/; do
  layer=$(basename "$dir")
  if [ -z "${rank[$layer]+set}" ]; then
    echo "check-layers: src/$layer is in no layer; add it to README.md and to this script" >&2
    failures=$((failures + 1))
    continue
  fi
  while IFS= read -r -d '' file; do
    while IFS=: read -r line used; do
      [ "$used" = "$layer" ] && continue
      if [ -z "${rank[$used]+set}" ]; then
        continue  # not one of our folders (a header beside the file, a system header)
      fi
      if [ "${rank[$used]}" -ge "${rank[$layer]}" ]; then
        echo "$file:$line: $layer may not include a header of $used (layer order: README.md)" >&2
        failures=$((failures + 1))
      fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]+/' "$file" |
             sed -E 's/^([0-9]+):[^"]*"([a-z]+)\/.*/\1:\2/')
    if [ "$layer" != gtk ]; then
      while IFS= read -r hit; do
        echo "$file:${hit%%:*}: only src/gtk may include a toolkit header" >&2
        failures=$((failures + 1))
      done < <(grep -nE "$toolkit" "$file" || true)
    fi
  done < <(find "$dir" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
done

if [ "$failures" -ne 0 ]; then
  echo "check-layers: $failures include(s) against the layer order" >&2
  exit 1
fi
echo "check-layers: every include follows the layer order"
