#!/usr/bin/env bash
# The carving scan's speed beside photorec's and cat's on media made as
# cameras and people fill them, page cache warm (or cold, COLD=1), each tool writing its finds
# once. Every medium is run in turns (harvestrix, photorec, cat), RUNS times;
# the medians and the ratios are printed, with each tool's peak memory.
#
#   bash bench/against-peers.sh [WORKDIR]      RUNS=3 by default; MEDIA="split-512 ..." for some
#   COLD=1 bash bench/against-peers.sh         each run reads the medium from the disk, as a
#                                              card just put in is read (drops the page cache: root)
#
# Media:
#   fat-dense   512 MiB FAT32 card, 120 photos and 19 documents, some deleted
#   noise-2g    2 GiB of noise with 200 JPEGs at sector boundaries
#   split-512   512 MiB without a file system, 32 KiB blocks, 120 JPEGs of which
#               30 are split around noise and 20 around another JPEG
#   camera-2g   2 GiB FAT32 card of 357 photos and movies, quick-formatted
# The split medium also reports how many photos each tool gets back byte-identical.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${HX_CLI:-$ROOT/build/harvestrix-cli}
WORK=${1:-/tmp/hx-against-peers}
RUNS=${RUNS:-3}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

. "$ROOT/scripts/need-pkg.sh"
need_pkg testdisk imagemagick libimage-exiftool-perl dosfstools mtools python3 time
[ -x "$CLI" ] || { echo "against-peers: $CLI not built" >&2; exit 1; }

SRC=$WORK/src
mkdir -p "$SRC"
# Camera-like photos: 12 of 3 to 5 MB with an EXIF thumbnail, 12 of 100 to 300 KB.
for n in $(seq 0 11); do
  big=$SRC/big$n.jpg small=$SRC/small$n.jpg
  if [ ! -f "$big" ]; then
    w=$((3000 + n * 100)); h=$((w * 3 / 4))
    convert -size $((w / 8))x$((h / 8)) plasma:fractal -resize "${w}x${h}!" \
            -attenuate 0.3 +noise Gaussian -quality 92 "$big"
    convert "$big" -resize 160x -quality 60 "$WORK/thumb.jpg"
    exiftool -q -overwrite_original -Make=Canon "-Model=Canon EOS 400D DIGITAL" \
             "-DateTimeOriginal=2024:05:0$((n % 9 + 1)) 10:00:00" "-ThumbnailImage<=$WORK/thumb.jpg" "$big"
  fi
  if [ ! -f "$small" ]; then
    w=$((600 + n * 40))
    convert -size $((w / 4))x$((w * 3 / 16)) plasma:fractal -resize "${w}x$((w * 3 / 4))!" \
            -attenuate 0.3 +noise Gaussian -quality 90 "$small"
  fi
done

python3 - "$SRC" "$WORK" <<'PY'
import os, random, struct, subprocess, sys
src, out = sys.argv[1], sys.argv[2]
def variant(data, i):
    # A comment segment after the first one makes each copy a photo of its own.
    first = 4 + (data[4] << 8 | data[5])
    text = b"photo %d" % i
    return data[:first] + b"\xff\xfe" + struct.pack(">H", len(text) + 2) + text + data[first:]
bigs = [open(os.path.join(src, "big%d.jpg" % n), "rb").read() for n in range(12)]
smalls = [open(os.path.join(src, "small%d.jpg" % n), "rb").read() for n in range(12)]
rnd = random.Random(5)
def noise(n):
    return b"".join(rnd.randbytes(min(n - k, 1 << 24)) for k in range(0, n, 1 << 24))

p = os.path.join(out, "noise-2g.img")
if not os.path.exists(p):
    size = 2 << 30
    with open(p + ".part", "wb") as f:
        for _ in range(size // (64 << 20)):
            f.write(noise(64 << 20))
        slot = size // 200
        for i in range(200):
            ph = variant(bigs[i % 12], i) if i % 3 else variant(smalls[i % 12], i)
            f.seek((i * slot + rnd.randrange(0, slot - len(ph) - 512)) // 512 * 512)
            f.write(ph)
    os.rename(p + ".part", p)

p = os.path.join(out, "split-512.img")
truth = os.path.join(out, "split-512.photos")
if not os.path.exists(p):
    B = 32768
    img = bytearray(512 << 20)
    pos = 0
    def put(data):
        global pos
        img[pos:pos + len(data)] = data
        pos += (len(data) + B - 1) // B * B
    photos = [variant(smalls[i % 12], 1000 + i) for i in range(120)]
    os.makedirs(truth, exist_ok=True)
    for i, ph in enumerate(photos):
        open(os.path.join(truth, "%03d.jpg" % i), "wb").write(ph)
    i = 0
    while i < 120:
        ph = photos[i]
        if i < 30:
            cut = rnd.randrange(1, len(ph) // B) * B
            put(ph[:cut]); put(noise(B * rnd.randrange(1, 9))); put(ph[cut:]); i += 1
        elif i < 70 and i % 2 == 0:
            cut = rnd.randrange(1, len(ph) // B) * B
            put(ph[:cut]); put(photos[i + 1]); put(ph[cut:]); i += 2
        else:
            put(ph); i += 1
        if rnd.random() < 0.3:
            put(noise(B * rnd.randrange(1, 4)))
    open(p, "wb").write(img)

def fat_card(path, mib, files, deleted=(), reformat=False):
    if os.path.exists(path):
        return
    part = path + ".part"
    with open(part, "wb") as f:
        f.truncate(mib << 20)
    subprocess.run(["mkfs.fat", "-F", "32", "-s", "16" if mib > 1024 else "8", "-n", "CARD", part],
                   check=True, stdout=subprocess.DEVNULL)
    for folder in sorted({os.path.dirname(n) for n, _ in files}):
        acc = ""
        for piece in folder.split("/"):
            acc = acc + "/" + piece if acc else piece
            subprocess.run(["mmd", "-D", "s", "-i", part, "::" + acc], stderr=subprocess.DEVNULL)
    one = os.path.join(out, "one.bin")
    for name, data in files:
        open(one, "wb").write(data)
        subprocess.run(["mcopy", "-i", part, one, "::" + name], check=True)
    for name in deleted:
        subprocess.run(["mdel", "-i", part, "::" + name], check=True)
    if reformat:
        subprocess.run(["mkfs.fat", "-F", "32", "-s", "16", "-n", "CARD", part], check=True, stdout=subprocess.DEVNULL)
    os.remove(one)
    os.rename(part, path)

files = []
for n in range(1, 121):
    ph = smalls[n % 12] if n % 3 == 0 else bigs[n % 12]
    files.append(("DCIM/100CANON/IMG_%04d.JPG" % (1000 + n), variant(ph, 5000 + n)))
for d in range(1, 20):
    files.append(("DOCS/NOTE%d.TXT" % d, (b"Notes %d. " % d) * (3000 + 400 * d)))
fat_card(os.path.join(out, "fat-dense.img"), 512, files,
         ["DCIM/100CANON/IMG_%04d.JPG" % (1000 + n) for n in range(3, 121, 7)])

def movie(i):
    def box(kind, payload):
        return struct.pack(">I", 8 + len(payload)) + kind + payload
    moov = box(b"moov", box(b"mvhd", bytes(100)) + box(b"trak", box(b"tkhd", bytes(84))))
    return box(b"ftyp", b"qt  \0\0\2\0qt  ") + moov + box(b"mdat", noise(3000000 + 7919 * i))
files = []
for n in range(357):
    if n % 12 == 11:
        files.append(("DCIM/100CANON/MVI_%04d.MOV" % n, movie(n)))
    else:
        ph = smalls[n % 12] if n % 4 == 0 else bigs[n % 12]
        files.append(("DCIM/100CANON/IMG_%04d.JPG" % n, variant(ph, 9000 + n)))
fat_card(os.path.join(out, "camera-2g.img"), 2048, files, reformat=True)
PY

# Before each timed command: with COLD=1 nothing of the medium is cached.
cool() {
  [ "${COLD:-0}" = 1 ] || return 0
  sync; echo 3 >/proc/sys/vm/drop_caches
}
if [ "${COLD:-0}" = 1 ] && [ ! -w /proc/sys/vm/drop_caches ]; then
  echo "against-peers: COLD=1 drops the page cache and needs root" >&2; exit 1
fi

median() { sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }
# seconds and peak KB of one command, its output thrown away
timed() { /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true; cat "$WORK/time.txt" | tail -1; }

intact() {  # folder, originals folder: how many originals came back byte-identical
  comm -12 <(find "$1" -type f -exec md5sum {} + | awk '{print $1}' | sort -u) \
           <(find "$2" -type f -exec md5sum {} + | awk '{print $1}' | sort -u) | wc -l
}

printf '%-11s %7s %10s %6s %10s %11s %7s %12s %6s %11s\n' medium hx_s photorec_s cat_s cat_file_s vs_photorec vs_cat vs_cat_file hx_MB photorec_MB
for m in ${MEDIA:-fat-dense noise-2g split-512 camera-2g}; do
  img=$WORK/$m.img
  [ "${COLD:-0}" = 1 ] || cat "$img" >/dev/null
  : >"$WORK/hx.t"; : >"$WORK/pr.t"; : >"$WORK/cat.t"; : >"$WORK/catf.t"
  for r in $(seq 1 "$RUNS"); do
    rm -rf "$WORK/out-hx" "$WORK/out-pr"; mkdir -p "$WORK/out-pr"; sync; cool
    timed "$CLI" --cache "$WORK/out-hx" scan "$img" --new --yes >>"$WORK/hx.t"
    sync; cool
    (cd "$WORK/out-pr" && timed photorec /log /d "$WORK/out-pr/f" /cmd "$img" options,paranoid,search) >>"$WORK/pr.t"
    sync; cool
    timed cat "$img" >>"$WORK/cat.t"
    cool
    timed sh -c "cat '$img' >'$WORK/copy.img'" >>"$WORK/catf.t"
    rm -f "$WORK/copy.img"; sync
  done
  hx=$(awk '{print $1}' "$WORK/hx.t" | median); pr=$(awk '{print $1}' "$WORK/pr.t" | median)
  ct=$(awk '{print $1}' "$WORK/cat.t" | median); cf=$(awk '{print $1}' "$WORK/catf.t" | median)
  hxm=$(awk '{print $2}' "$WORK/hx.t" | sort -n | tail -1); prm=$(awk '{print $2}' "$WORK/pr.t" | sort -n | tail -1)
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN{print a / b}'; }
  printf '%-11s %7s %10s %6s %10s %11.1f %7.2f %12.2f %6d %11d\n' "$m" "$hx" "$pr" "$ct" "$cf" \
    "$(ratio "$pr" "$hx")" "$(ratio "$ct" "$hx")" "$(ratio "$cf" "$hx")" $((hxm / 1024)) $((prm / 1024))
  if [ "$m" = split-512 ]; then
    echo "  split-512 photos back byte-identical: harvestrix $(intact "$WORK/out-hx" "$WORK/split-512.photos")," \
         "photorec $(intact "$WORK/out-pr" "$WORK/split-512.photos") of 120"
  fi
done
echo "(vs_photorec: photorec's time over harvestrix's; vs_cat: cat's (to /dev/null) over harvestrix's;"
echo " vs_cat_file: that of cat into a file, as the scan writes what it finds; MB: peak memory)"
