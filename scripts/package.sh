#!/usr/bin/env bash
# Builds the Debian package of Harvestrix (both programs, the desktop entry
# and its icons, the AppStream metainfo, the manual page of harvestrix-cli):
#   bash scripts/package.sh [BUILD_DIR]        the .deb is left in BUILD_DIR (build-package)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-package}
bash "$ROOT/scripts/install-deps.sh"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHX_BUILD_TESTS=OFF -DHX_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" --target harvestrix harvestrix-cli man-page
(cd "$BUILD" && cpack -G DEB >/dev/null)
deb=$(ls -t "$BUILD"/harvestrix_*.deb | head -1)
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Depends\|Recommends\):/  \1:/p'
