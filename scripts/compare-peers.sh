#!/usr/bin/env bash
# Makes card images the way cameras and people fill them, recovers each with
# harvestrix-cli, photorec and foremost, and counts for every tool how many of
# the files once written come back byte for byte.
#
#   scripts/compare-peers.sh [WORKDIR]      (needs root for the exFAT card)
#
# HX_CLI overrides the program (default build/harvestrix-cli).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${HX_CLI:-$ROOT/build/harvestrix-cli}
WORK=${1:-$(mktemp -d /tmp/hx-peers.XXXXXX)}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

. "$ROOT/scripts/need-pkg.sh"
need_pkg testdisk foremost imagemagick libimage-exiftool-perl dosfstools mtools exfatprogs exfat-fuse python3
[ -x "$CLI" ] || { echo "compare-peers: $CLI not built" >&2; exit 1; }

SRC=$WORK/files
mkdir -p "$SRC"

# photo N W H [thumbW]: a camera-like JPEG with EXIF (and a big EXIF thumbnail when thumbW is given).
photo() {
  local n=$1 w=$2 h=$3 tw=${4:-160} out=$SRC/photo$1.jpg
  [ -f "$out" ] && return 0
  convert -size $((w / 8))x$((h / 8)) plasma:fractal -resize "${w}x${h}!" \
          -attenuate 0.4 +noise Gaussian -quality 92 "$out"
  convert "$out" -resize "${tw}x" -quality 60 "$WORK/thumb.jpg"
  exiftool -q -overwrite_original -Make=Canon "-Model=Canon EOS 400D DIGITAL" \
           "-DateTimeOriginal=2024:05:$(printf %02d $((n % 28 + 1))) 10:00:00" \
           "-ThumbnailImage<=$WORK/thumb.jpg" "$out"
}

python3 - "$SRC" <<'PY'
# Camera raw files (TIFF containers with a JPEG preview) and QuickTime movies.
import os, random, struct, sys
src = sys.argv[1]
def tiff(endian, magic_tail, make, model, preview, raw, cr2=False):
    e = '<' if endian == 'II' else '>'
    out = bytearray(endian.encode())
    out += struct.pack(e + 'HI', 42, 16 if cr2 else 8)
    if cr2: out += b'CR' + struct.pack(e + 'BBI', 2, 0, 0)
    # Layout: IFD0 (make, model, preview strip, sub IFD) then strings, preview, raw IFD and raw strip.
    def ifd(entries, at, nxt=0):
        b = struct.pack(e + 'H', len(entries))
        for tag, typ, cnt, val in sorted(entries):
            b += struct.pack(e + 'HHI', tag, typ, cnt) + (struct.pack(e + 'I', val) if typ == 4 else struct.pack(e + 'I', val))
        return b + struct.pack(e + 'I', nxt)
    ifd0_at = len(out)
    ifd0_len = 2 + 12 * 6 + 4
    strings_at = ifd0_at + ifd0_len
    mk, md = make.encode() + b'\0', model.encode() + b'\0'
    preview_at = strings_at + len(mk) + len(md)
    preview_at += preview_at & 1
    raw_ifd_at = preview_at + len(preview)
    raw_ifd_at += raw_ifd_at & 1
    raw_ifd_len = 2 + 12 * 5 + 4
    raw_at = raw_ifd_at + raw_ifd_len
    out += ifd([(0x10F, 2, len(mk), strings_at), (0x110, 2, len(md), strings_at + len(mk)),
                (0x111, 4, 1, preview_at), (0x117, 4, 1, len(preview)), (0x103, 3, 1, 6 << (16 if e == '>' else 0)),
                (0x14A, 4, 1, raw_ifd_at)], ifd0_at)
    out += mk + md
    out += b'\0' * (preview_at - len(out)) + preview
    out += b'\0' * (raw_ifd_at - len(out))
    out += ifd([(0x100, 4, 1, 3000), (0x101, 4, 1, 2000), (0x103, 3, 1, 1 << (16 if e == '>' else 0)),
                (0x111, 4, 1, raw_at), (0x117, 4, 1, len(raw))], raw_ifd_at)
    out += raw
    return bytes(out)
def box(kind, payload): return struct.pack('>I', 8 + len(payload)) + kind + payload
rnd = random.Random(7)
prev = open(os.path.join(src, 'photo0.jpg'), 'rb').read() if os.path.exists(os.path.join(src, 'photo0.jpg')) else None
for i in range(4):
    preview = b'\xff\xd8\xff\xdb' + rnd.randbytes(30000 + 5000 * i) + b'\xff\xd9'
    raw = rnd.randbytes(900000 + 77777 * i)
    open(os.path.join(src, 'raw%d.cr2' % i), 'wb').write(tiff('II', b'', 'Canon', 'Canon EOS 5D', preview, raw, cr2=True))
    open(os.path.join(src, 'raw%d.nef' % i), 'wb').write(tiff('MM', b'', 'NIKON CORPORATION', 'NIKON D70', preview, raw))
for i in range(3):
    mdat = rnd.randbytes(700000 + 100001 * i)
    moov = box(b'moov', box(b'mvhd', bytes(100)) + box(b'trak', box(b'tkhd', bytes(84))))
    if i == 0:   # an old QuickTime movie: the media data first
        data = box(b'mdat', mdat) + moov
    else:        # a camera's: file type, movie header, media data
        data = box(b'ftyp', b'qt  \0\0\2\0qt  ') + moov + box(b'mdat', mdat)
    open(os.path.join(src, 'movie%d.mov' % i), 'wb').write(data)
PY

for n in $(seq 1 60); do photo "$n" $((1200 + (n % 5) * 400)) $((900 + (n % 5) * 300)); done
for n in $(seq 100 107); do photo "$n" 2400 1800 480; done

IMAGES=()

# 1. FAT32 card: photos shot, some deleted out of order, new ones fill the gaps (and fragment).
fat=$WORK/fat32.img
rm -f "$fat"; truncate -s 160M "$fat"; mkfs.fat -F 32 -s 4 -n CARD "$fat" >/dev/null
mmd -i "$fat" ::DCIM
for n in $(seq 1 40); do mcopy -i "$fat" "$SRC/photo$n.jpg" "::DCIM/IMG_$((1000 + n)).JPG"; done
# The card is full: the new photos can only go into the gaps the deleted ones left.
free=$(mdir -i "$fat" :: | grep 'bytes free' | tr -cd '0-9')
[ "$free" -lt $((160 * 1024 * 1024)) ] || { echo "compare-peers: cannot read the card's free space" >&2; exit 1; }
head -c $((free - 3 * 1024 * 1024)) /dev/zero | tr '\0' 'F' >"$WORK/filler.bin"
mcopy -i "$fat" "$WORK/filler.bin" ::FILLER.BIN; rm -f "$WORK/filler.bin"
for n in 7 3 22 15 30 9 18 27 35 12; do mdel -i "$fat" "::DCIM/IMG_$((1000 + n)).JPG"; done
for n in $(seq 41 52); do mcopy -i "$fat" "$SRC/photo$n.jpg" "::DCIM/IMG_$((1000 + n)).JPG" 2>/dev/null || break; done
for n in 44 2 50; do mdel -i "$fat" "::DCIM/IMG_$((1000 + n)).JPG" 2>/dev/null || true; done
IMAGES+=("$fat")

# 2. exFAT card with photos, movies and raws, some deleted.
exf=$WORK/exfat.img
if [ "$(id -u)" -eq 0 ]; then
  rm -f "$exf"; truncate -s 256M "$exf"; mkfs.exfat -c 32K -L CARD "$exf" >/dev/null
  loop=$(losetup -f --show "$exf"); mnt=$(mktemp -d)
  mount.exfat-fuse "$loop" "$mnt" >/dev/null 2>&1
  mkdir -p "$mnt/DCIM"
  for n in $(seq 1 24); do cp "$SRC/photo$n.jpg" "$mnt/DCIM/IMG_$((2000 + n)).JPG"; done
  for i in 0 1 2 3; do cp "$SRC/raw$i.cr2" "$mnt/DCIM/RAW_$i.CR2"; done
  for i in 0 1 2; do cp "$SRC/movie$i.mov" "$mnt/DCIM/MVI_$i.MOV"; done
  rm "$mnt"/DCIM/IMG_2005.JPG "$mnt"/DCIM/IMG_2011.JPG "$mnt"/DCIM/IMG_2017.JPG "$mnt"/DCIM/RAW_1.CR2 "$mnt"/DCIM/MVI_1.MOV
  sync; fusermount -u "$mnt"; sleep 0.5; losetup -d "$loop"; rmdir "$mnt"
  IMAGES+=("$exf")
else
  echo "compare-peers: not root, no exFAT card" >&2
fi

# 3. Photos with large EXIF thumbnails on FAT32, all deleted.
thumbs=$WORK/thumbs.img
rm -f "$thumbs"; truncate -s 300M "$thumbs"; mkfs.fat -F 32 -s 8 -n CARD "$thumbs" >/dev/null
for n in $(seq 100 107); do mcopy -i "$thumbs" "$SRC/photo$n.jpg" "::P$n.JPG"; done
mdel -i "$thumbs" "::P*.JPG"
IMAGES+=("$thumbs")

# 4. No file system: files one after another at sector boundaries, with junk between.
python3 - "$SRC" "$WORK/raw.img" <<'PY'
import os, random, sys
src, out = sys.argv[1], sys.argv[2]
rnd = random.Random(11)
names = ['photo%d.jpg' % n for n in range(41, 53)] + ['raw0.cr2', 'raw2.nef', 'movie2.mov']
rnd.shuffle(names)
with open(out, 'wb') as f:
    f.write(bytes(512 * 3))
    for name in names:
        data = open(os.path.join(src, name), 'rb').read()
        f.write(data + rnd.randbytes((-len(data)) % 512))
        f.write(rnd.randbytes(512 * rnd.randint(1, 5)))
    f.write(bytes(512 * 64))
PY
IMAGES+=("$WORK/raw.img")

# 5. Camera raws and movies on a FAT32 card, deleted.
media=$WORK/rawmov.img
rm -f "$media"; truncate -s 300M "$media"; mkfs.fat -F 32 -s 8 -n CARD "$media" >/dev/null
for i in 0 1 2 3; do mcopy -i "$media" "$SRC/raw$i.cr2" "::R$i.CR2"; mcopy -i "$media" "$SRC/raw$i.nef" "::R$i.NEF"; done
for i in 0 1 2; do mcopy -i "$media" "$SRC/movie$i.mov" "::M$i.MOV"; done
mdel -i "$media" "::R*.*"; mdel -i "$media" "::M*.*"
IMAGES+=("$media")

# Every file made, by content.
( cd "$SRC" && sha256sum -- * ) | awk '{print $1}' | sort -u >"$WORK/originals.sha"

intact() {  # folder: how many distinct originals are among its files
  find "$1" -type f -exec sha256sum {} + 2>/dev/null | awk '{print $1}' | sort -u | comm -12 - "$WORK/originals.sha" | wc -l
}
present() {  # image: originals whose bytes lie whole and in order somewhere in the image
  python3 - "$1" "$SRC" <<'PY'
import os, sys
img = open(sys.argv[1], 'rb').read()
print(sum(1 for n in os.listdir(sys.argv[2]) if img.find(open(os.path.join(sys.argv[2], n), 'rb').read()) >= 0))
PY
}

printf '%-12s %9s %11s %9s %9s %9s\n' image contiguous hx-recover hx-scan photorec foremost
for img in "${IMAGES[@]}"; do
  base=$(basename "$img" .img)
  out=$WORK/out-$base
  rm -rf "$out"; mkdir -p "$out/hx" "$out/photorec"
  "$CLI" --cache "$out/hx" scan "$img" --new --yes >"$out/hx.log" 2>&1 || true
  "$CLI" recover "$img" --to "$out/hx-recover" --include-present --yes >"$out/hx-recover.log" 2>&1 || true
  (cd "$out" && photorec /log /d "$out/photorec/f" /cmd "$img" options,paranoid,search >"$out/photorec.out" 2>&1) || true
  rm -rf "$out/foremost"; foremost -Q -i "$img" -o "$out/foremost" >/dev/null 2>&1 || true
  printf '%-12s %9s %11s %9s %9s %9s\n' "$base" "$(present "$img")" "$(intact "$out/hx-recover")" "$(intact "$out/hx")" \
         "$(intact "$out/photorec")" "$(intact "$out/foremost")"
done
echo "(contiguous: originals lying whole and in order in the image; the rest: byte-identical files recovered;"
echo " hx-recover: harvestrix-cli recover --include-present, hx-scan: harvestrix-cli scan)"
echo "work folder: $WORK"
