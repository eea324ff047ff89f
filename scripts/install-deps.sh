#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Idempotent: only packages that are missing are installed.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang
  qt6-base-dev qt6-image-formats-plugins qt6-translations-l10n libgl-dev
  libjpeg62-turbo-dev zlib1g-dev libexiv2-dev libxxhash-dev libheif-dev libavcodec-dev dcraw
  libgtest-dev libgmock-dev libbenchmark-dev
  dosfstools mtools ntfs-3g exfatprogs exfat-fuse fuse3 libfuse3-dev fdisk
  imagemagick libimage-exiftool-perl chromium libheif-examples webp ffmpeg
  dpkg-dev appstream man-db
  libsystemd-dev dbus-daemon util-linux
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
