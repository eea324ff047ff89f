#!/usr/bin/env bash
# Saves pictures of the main window as PNG files under the build folder: every
# main state (start, types, a question, scanning, results, thumbnails, preview,
# filter, undelete lists) in English, Dutch and German, and the report
# of "Recover everything" as a browser shows it.
#   bash scripts/screenshots.sh [BUILD_DIR]     -> BUILD_DIR/screenshots/*.png
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-${BUILD_DIR:-build}}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD" -j2 --target gui_screenshots harvestrix-cli
OUT="$BUILD/screenshots"
mkdir -p "$OUT"

# The recovery report of a small card whose photos were deleted.
BROWSER=$(command -v chromium || command -v chromium-browser || true)
if [ -n "$BROWSER" ]; then
  WORK=$(mktemp -d /tmp/harvestrix-shots.XXXXXX)
  trap 'rm -rf "$WORK"' EXIT
  export XDG_CONFIG_HOME="$WORK/config" XDG_CONFIG_DIRS="$WORK/config-system" XDG_CACHE_HOME="$WORK/cache"
  "$BUILD/harvestrix-cli" demo photos "$WORK/photos" --count 6 >/dev/null
  mkfs.fat -F 16 -s 4 -n CAMERA -C "$WORK/card.img" $((64 * 1024)) >/dev/null 2>&1
  mmd -i "$WORK/card.img" ::DCIM ::DCIM/100CANON
  for f in "$WORK"/photos/*.JPG; do mcopy -i "$WORK/card.img" "$f" ::DCIM/100CANON/; done
  mdeltree -i "$WORK/card.img" ::DCIM
  "$BUILD/harvestrix-cli" --attach "$WORK/card.img" recover "$WORK/card.img" --to "$WORK/Recovered" --yes >/dev/null
  "$BROWSER" --headless --no-sandbox --disable-gpu --allow-file-access-from-files --window-size=1280,800 \
    --screenshot="$OUT/report.png" "file://$WORK/Recovered/report.html" >/dev/null 2>&1
fi
QT_QPA_PLATFORM=offscreen "$BUILD/tests/gui/gui_screenshots" "$OUT"
ls -l "$OUT"/*.png
