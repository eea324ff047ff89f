#!/usr/bin/env bash
# The demo: a camera card image with real photos; some are deleted, then the
# whole card is quick-formatted; the carving scan gets them back, and every
# recovered photo is compared byte for byte with the original.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target harvestrix-cli
CLI="$BUILD/harvestrix-cli"

WORK=$(mktemp -d /tmp/harvestrix-demo.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
# The demo keeps its settings to itself: the user's remembered caches stay as they are.
export XDG_CONFIG_HOME="$WORK/config" XDG_CONFIG_DIRS="$WORK/config-system" XDG_CACHE_HOME="$WORK/cache"
COUNT=${DEMO_PHOTOS:-12}
echo "== Making $COUNT photos"
"$CLI" demo photos "$WORK/photos" --count "$COUNT" >/dev/null
du -sh "$WORK/photos" | awk '{print "   " $1 " of JPEGs with EXIF"}'

echo "== Making a 300 MB FAT32 card and copying them on"
mkfs.fat -F 32 -s 8 -n CAMERA -C "$WORK/card.img" $((300 * 1024)) >/dev/null 2>&1
mmd -i "$WORK/card.img" ::DCIM ::DCIM/100CANON
for f in "$WORK"/photos/*.JPG; do mcopy -i "$WORK/card.img" "$f" ::DCIM/100CANON/; done

echo "== Deleting every third photo, then quick-formatting the card"
i=0
for f in "$WORK"/photos/*.JPG; do
  if (( i % 3 == 1 )); then mdel -i "$WORK/card.img" "::DCIM/100CANON/$(basename "$f")"; fi
  i=$((i + 1))
done
mkfs.fat -F 32 -s 8 -n CAMERA "$WORK/card.img" >/dev/null 2>&1
echo "   the card now lists: $(mdir -i "$WORK/card.img" -b :: 2>/dev/null | wc -l) files"

echo "== Scanning the card"
"$CLI" --cache "$WORK" --attach "$WORK/card.img" scan "$WORK/card.img" --types jpg --yes

echo "== Comparing"
find "$WORK/QXCache" -maxdepth 1 -type f ! -name ScanState.dat -exec sha256sum {} + | awk '{print $1}' | sort -u > "$WORK/found.sha"
intact=0
for f in "$WORK"/photos/*.JPG; do
  if grep -qx "$(sha256sum "$f" | awk '{print $1}')" "$WORK/found.sha"; then intact=$((intact + 1)); fi
done
echo "$intact of $COUNT photos came back intact (byte-identical to the originals)."
[ "$intact" -eq "$COUNT" ]
