#!/usr/bin/env bash
# Saves pictures of the main window as PNG files under the build folder: the
# start page, the search types, the window after a scan of a card image with
# deleted photographs (list and thumbnails), and the Dutch window.
#   bash scripts/screenshots.sh [BUILD_DIR]     -> BUILD_DIR/screenshots/*.png
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-${BUILD_DIR:-build}}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD" -j2 --target gui_screenshots
OUT="$BUILD/screenshots"
mkdir -p "$OUT"
QT_QPA_PLATFORM=offscreen "$BUILD/tests/gui/gui_screenshots" "$OUT"
ls -l "$OUT"/*.png
