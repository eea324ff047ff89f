#!/usr/bin/env bash
# The Debian package, installed into an empty root with dpkg: both programs
# start from it, and it holds the desktop entry, the icons in the usual
# sizes, AppStream metainfo that appstreamcli accepts and the manual page.
#   CheckPackage.sh BUILD_DIR WORK_DIR
set -euo pipefail
BUILD=$1 WORK=$2
rm -rf "$WORK"
mkdir -p "$WORK/out" "$WORK/root/var/lib/dpkg/info" "$WORK/root/var/lib/dpkg/updates"
: >"$WORK/root/var/lib/dpkg/status"
fail() { echo "package check: $*" >&2; exit 1; }
(cd "$BUILD" && cpack -G DEB -B "$WORK/out" -D CPACK_STRIP_FILES=OFF -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip >/dev/null) ||
  fail "cpack failed"
deb=$(ls "$WORK"/out/harvestrix_*.deb) || fail "no package made"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libjpeg62-turbo libexiv2 libheif; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
# The dependencies are this machine's own; only the package's files go into the root.
dpkg --root="$WORK/root" --force-depends --force-not-root --force-bad-path -i "$deb" >/dev/null 2>"$WORK/dpkg.err" ||
  fail "dpkg -i: $(cat "$WORK/dpkg.err")"
usr=$WORK/root/usr
"$usr/bin/harvestrix-cli" --version | grep -q "^Harvestrix [0-9]" || fail "harvestrix-cli --version"
QT_QPA_PLATFORM=offscreen "$usr/bin/harvestrix" --help | grep -qi "usage" || fail "harvestrix --help"
[ -f "$usr/share/applications/harvestrix.desktop" ] || fail "no desktop entry"
for size in 16 24 32 48 64 128 256; do
  icon=$usr/share/icons/hicolor/${size}x${size}/apps/harvestrix.png
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
done
[ -f "$usr/share/icons/hicolor/scalable/apps/harvestrix.svg" ] || fail "no scalable icon"
appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml >/dev/null || fail "metainfo refused"
page=$(ls "$usr"/share/man/man1/harvestrix-cli.1*) || fail "no manual page"
man -l "$page" 2>/dev/null | grep -q "undelete SOURCE" || fail "the manual page lacks the commands"
echo "package check: $(basename "$deb") installs and starts"
