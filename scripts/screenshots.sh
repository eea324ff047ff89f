#!/usr/bin/env bash
# Saves pictures of the main window as PNG files under the build folder:
# the start page, the search types, the Dutch start page and the window after
# a scan of a card image with deleted photographs.
#   bash scripts/screenshots.sh [BUILD_DIR]     -> BUILD_DIR/screenshots/*.png
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-${BUILD_DIR:-build}}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD" -j2 --target gui_screenshots

OUT="$BUILD/screenshots"
WORK=$(mktemp -d /tmp/hx-shots-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$OUT"

# A 64 MB FAT32 card with a few photographs, half of them deleted again.
CARD="$WORK/card.img"
truncate -s 64M "$CARD"
mkfs.fat -F 32 -n CARD "$CARD" >/dev/null
mmd -i "$CARD" ::DCIM
for i in 1 2 3 4 5 6; do
  convert -size 640x480 "plasma:" -quality 90 "$WORK/IMG_000$i.JPG" 2>/dev/null ||
    convert -size 640x480 "gradient:#3a80c9-#f2b33d" -quality 90 "$WORK/IMG_000$i.JPG"
  mcopy -i "$CARD" "$WORK/IMG_000$i.JPG" ::DCIM/
done
mdel -i "$CARD" ::DCIM/IMG_0002.JPG ::DCIM/IMG_0004.JPG ::DCIM/IMG_0006.JPG

# Settings and cache of this run stay out of the user's home.
export XDG_CONFIG_HOME="$WORK/config" XDG_CACHE_HOME="$WORK/cache" XDG_DATA_HOME="$WORK/data"
export QT_QPA_PLATFORM=offscreen
"$BUILD/tests/gui/gui_screenshots" "$OUT" "$CARD"
ls -l "$OUT"/*.png
