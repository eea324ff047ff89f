#!/usr/bin/env bash
# The scan of a phone card: 1,000 ordinary photos on one card, 1,000 motion
# photos (Google's two forms and Samsung's, a 2 s clip each) on another,
# both quick-formatted FAT32 cards whose files lie one after another as a
# phone writes them. harvestrix and photorec run in turns, RUNS times, page
# cache warm; the medians, each tool's peak memory and how many files each
# gets back byte-identical are printed.
#
#   bash bench/phone-pictures.sh [WORKDIR]     RUNS=3 by default
#   HX_CLI=/path/to/harvestrix-cli             another build (an older one, to compare)
#   PEERS=0                                    harvestrix alone
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${HX_CLI:-$ROOT/build/harvestrix-cli}
WORK=${1:-/tmp/hx-phone-pictures}
RUNS=${RUNS:-3}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

. "$ROOT/scripts/need-pkg.sh"
need_pkg testdisk imagemagick libimage-exiftool-perl dosfstools ffmpeg python3 time
[ -x "$CLI" ] || { echo "phone-pictures: $CLI not built" >&2; exit 1; }

SRC=$WORK/src
mkdir -p "$SRC"
# Phone-like photos of 2 to 4 MB with an EXIF header, and clips of 2 s as phones keep them.
for n in $(seq 0 7); do
  p=$SRC/photo$n.jpg
  if [ ! -f "$p" ]; then
    w=$((3200 + n * 100)); h=$((w * 3 / 4))
    convert -size $((w / 8))x$((h / 8)) plasma:fractal -resize "${w}x${h}!" \
            -attenuate 0.3 +noise Gaussian -quality 90 "$p"
    exiftool -q -overwrite_original -Make=Google -Model="Pixel 7" \
             "-DateTimeOriginal=2026:06:0$((n + 1)) 1$n:00:00" "$p"
  fi
  c=$SRC/clip$n.mp4
  [ -f "$c" ] || ffmpeg -v error -f lavfi -i "testsrc2=duration=2:size=1280x720:rate=30" \
      -f lavfi -i "sine=frequency=$((400 + 50 * n)):duration=2" -vf "hue=h=$((n * 40))" \
      -c:v libx264 -preset veryfast -b:v 4M -pix_fmt yuv420p -c:a aac "$c"
done

python3 - "$SRC" "$WORK" <<'PY'
import hashlib, os, struct, subprocess, sys
src, out = sys.argv[1], sys.argv[2]
photos = [open(os.path.join(src, "photo%d.jpg" % n), "rb").read() for n in range(8)]
clips = [open(os.path.join(src, "clip%d.mp4" % n), "rb").read() for n in range(8)]

def segment(marker, body):
    return b"\xff" + bytes([marker]) + struct.pack(">H", len(body) + 2) + body

def variant(data, i, extra=b""):
    # After the first segment: a comment that makes each copy a photo of its own, and `extra`.
    first = 4 + (data[4] << 8 | data[5])
    text = b"photo %d" % i
    return data[:first] + segment(0xFE, text) + extra + data[first:]

XMP = b"http://ns.adobe.com/xap/1.0/\0"
def motion(i):
    photo, clip = photos[i % 8], clips[(i * 3) % 8]
    form = i % 3
    if form == 0:  # Google's older form
        xmp = b'<x:xmpmeta><rdf:Description GCamera:MicroVideo="1" GCamera:MicroVideoVersion="1" ' \
              b'GCamera:MicroVideoOffset="%d"/></x:xmpmeta>' % len(clip)
        return variant(photo, i, segment(0xE1, XMP + xmp)) + clip
    if form == 1:  # the container directory
        xmp = (b'<x:xmpmeta><rdf:Description GCamera:MotionPhoto="1"><Container:Directory><rdf:Seq>'
               b'<rdf:li><Container:Item Item:Mime="image/jpeg" Item:Semantic="Primary" Item:Length="0" Item:Padding="0"/></rdf:li>'
               b'<rdf:li><Container:Item Item:Mime="video/mp4" Item:Semantic="MotionPhoto" Item:Length="%d" Item:Padding="0"/></rdf:li>'
               b'</rdf:Seq></Container:Directory></rdf:Description></x:xmpmeta>' % len(clip))
        return variant(photo, i, segment(0xE1, XMP + xmp)) + clip
    record = b"\0\0\x30\x0a" + struct.pack("<I", 16) + b"MotionPhoto_Data" + clip
    sef = b"SEFH" + struct.pack("<II", 107, 1) + b"\0\0\x30\x0a" + struct.pack("<II", len(record), len(record))
    return variant(photo, i) + record + sef + struct.pack("<I", len(sef)) + b"SEFT"

def card(name, files):
    path = os.path.join(out, name + ".img")
    if os.path.exists(path):
        return
    total = sum(len(f) for f in files)
    mib = (total >> 20) * 11 // 10 + 64
    part = path + ".part"
    with open(part, "wb") as f:
        f.truncate(mib << 20)
    subprocess.run(["mkfs.fat", "-F", "32", "-s", "64", "-n", "PHONE", part], check=True, stdout=subprocess.DEVNULL)
    boot = open(part, "rb").read(512)
    reserved, fats, fat_sectors = struct.unpack("<H", boot[14:16])[0], boot[16], struct.unpack("<I", boot[36:40])[0]
    data = (reserved + fats * fat_sectors) * 512 + 64 * 512  # the first cluster after the root folder's
    cluster = 64 * 512
    with open(part, "r+b") as f:  # one after another from the first free cluster: a quick-formatted card
        at = data
        for bytes_ in files:
            f.seek(at); f.write(bytes_)
            at += (len(bytes_) + cluster - 1) // cluster * cluster
    with open(path + ".md5", "w") as f:
        for bytes_ in files:
            f.write(hashlib.md5(bytes_).hexdigest() + "\n")
    os.rename(part, path)

card("photos-1000", [variant(photos[i % 8], i) for i in range(1000)])
card("motion-1000", [motion(i) for i in range(1000)])
PY

median() { sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }
timed() { /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true; tail -1 "$WORK/time.txt"; }
intact() {  # folder, md5 list: how many of the files came back byte-identical
  comm -12 <(find "$1" -type f -exec md5sum {} + | awk '{print $1}' | sort -u) <(sort -u "$2") | wc -l
}

printf '%-12s %7s %10s %11s %6s %11s %10s %12s\n' medium hx_s photorec_s vs_photorec hx_MB photorec_MB hx_whole photorec_whole
for m in ${MEDIA:-photos-1000 motion-1000}; do
  img=$WORK/$m.img
  cat "$img" >/dev/null
  : >"$WORK/hx.t"; : >"$WORK/pr.t"
  for r in $(seq 1 "$RUNS"); do
    rm -rf "$WORK/out-hx" "$WORK/out-pr"; mkdir -p "$WORK/out-pr"; sync
    timed "$CLI" --cache "$WORK/out-hx" scan "$img" --new --yes >>"$WORK/hx.t"
    sync
    [ "${PEERS:-1}" = 0 ] && { echo "0 0" >>"$WORK/pr.t"; continue; }
    (cd "$WORK/out-pr" && timed photorec /log /d "$WORK/out-pr/f" /cmd "$img" options,paranoid,search) >>"$WORK/pr.t"
  done
  hx=$(awk '{print $1}' "$WORK/hx.t" | median); pr=$(awk '{print $1}' "$WORK/pr.t" | median)
  hxm=$(awk '{print $2}' "$WORK/hx.t" | sort -n | tail -1); prm=$(awk '{print $2}' "$WORK/pr.t" | sort -n | tail -1)
  [ "$pr" = 0 ] && pr=$hx
  printf '%-12s %7s %10s %11.1f %6d %11d %10s %12s\n' "$m" "$hx" "$pr" "$(awk -v a="$pr" -v b="$hx" 'BEGIN{print a / b}')" \
    $((hxm / 1024)) $((prm / 1024)) "$(intact "$WORK/out-hx" "$img.md5")/1000" "$(intact "$WORK/out-pr" "$img.md5")/1000"
done
echo "(vs_photorec: photorec's time over harvestrix's; MB: peak memory; whole: files back byte-identical)"
