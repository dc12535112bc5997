#!/usr/bin/env bash
# Makes docs/screenshots/*.png from the current window: builds dz-screenshots
# in the dev preset and runs it on the offscreen platform (no display
# needed), in English and German, light and dark.
#   tools/make-screenshots.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/dev}"
if [ ! -d "$build" ]; then
  cmake --preset dev -S "$root"
fi
cmake --build "$build" --target dz-screenshots -j2
out="$root/docs/screenshots"
mkdir -p "$out"
# Fonts and sizes as on a desktop at 96 dots per inch, whatever this machine says.
QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 QT_FONT_DPI=96 LANGUAGE= LC_ALL=C.UTF-8 \
  "$build/bin/dz-screenshots" "$out"
for f in "$out"/*.png; do
  size=$(stat -c %s "$f")
  if [ "$size" -ge 153600 ]; then
    echo "$f is $size bytes, above the 150 KB the README can carry" >&2
    exit 1
  fi
done
