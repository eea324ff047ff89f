#!/usr/bin/env bash
# Deleted photos in pieces on a camera card: a 512 MiB FAT32 card (4 KiB
# clusters) that got 64 old files of 1 to 4 MB, every other one deleted, then
# 28 photos of 3 to 5 MB written into the holes by first-free allocation, as
# a camera or a PC writes them (so most lie in pieces around the live old
# files), then 12 of the photos deleted (10 of them in pieces).
# Counted: the deleted photos that come back byte-identical, and the files
# written under a name that says "(unverified)", for `undelete --restore all`,
# `recover --include-present` and The Sleuth Kit's tsk_recover; with times.
#
#   bash bench/photos-in-holes.sh [WORKDIR]
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${HX_CLI:-$ROOT/build/harvestrix-cli}
WORK=${1:-/tmp/hx-photos-in-holes}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

. "$ROOT/scripts/need-pkg.sh"
need_pkg sleuthkit imagemagick dosfstools mtools python3 time
[ -x "$CLI" ] || { echo "photos-in-holes: $CLI not built" >&2; exit 1; }

SRC=$WORK/src
mkdir -p "$SRC"
for n in $(seq 0 3); do
  big=$SRC/big$n.jpg
  [ -f "$big" ] && continue
  w=$((3400 + n * 300)); h=$((w * 3 / 4))
  convert -size $((w / 8))x$((h / 8)) plasma:fractal -resize "${w}x${h}!" \
          -attenuate 0.3 +noise Gaussian -quality 92 "$big"
done

CARD=$WORK/card.img
if [ ! -f "$CARD" ]; then
python3 - "$SRC" "$WORK" <<'PY'
import os, random, struct, subprocess, sys
src, work = sys.argv[1], sys.argv[2]
card = os.path.join(work, "card.img")
env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
def run(*args): subprocess.run(args, check=True, env=env, stdout=subprocess.DEVNULL)
run("mkfs.fat", "-C", "-F", "32", "-s", "8", "-n", "CARD", card, str(512 * 1024))
with open(card, "rb") as f: fsinfo = struct.unpack_from("<H", f.read(512), 48)[0]
def put(path, data):
    with open(card, "r+b") as f:  # first free cluster, as a camera allocates
        f.seek(fsinfo * 512 + 492); f.write(struct.pack("<I", 2))
    tmp = os.path.join(work, "staged")
    with open(tmp, "wb") as f: f.write(data)
    run("mcopy", "-o", "-i", card, tmp, "::/" + path)
def pieces(path):
    out = subprocess.run(["mshowfat", "-i", card, "::/" + path], env=env, capture_output=True, text=True).stdout
    return out.count("<")
rnd = random.Random(7)
run("mmd", "-i", card, "::/OLD"); run("mmd", "-i", card, "::/DCIM"); run("mmd", "-i", card, "::/DCIM/100CAM")
for n in range(64):
    put("OLD/FILL%04d.DAT" % n, rnd.randbytes(rnd.randint(1 << 20, 4 << 20)))
for n in range(1, 64, 2):
    run("mdel", "-i", card, "::/OLD/FILL%04d.DAT" % n)
bigs = [open(os.path.join(src, "big%d.jpg" % n), "rb").read() for n in range(4)]
def variant(data, i):
    # A comment segment after the first one makes each copy a photo of its
    # own: of a length of its own, so that no cluster is another copy's.
    first = 4 + (data[4] << 8 | data[5])
    text = b"photo %d" % i + bytes(rnd.randrange(256) for _ in range(64 + 131 * i))
    return data[:first] + b"\xff\xfe" + struct.pack(">H", len(text) + 2) + text + data[first:]
os.makedirs(os.path.join(work, "deleted"), exist_ok=True)
photos = {}
for n in range(1, 29):
    photos["DCIM/100CAM/DSC_%04d.JPG" % n] = variant(bigs[n % 4], n)
    put("DCIM/100CAM/DSC_%04d.JPG" % n, photos["DCIM/100CAM/DSC_%04d.JPG" % n])
split = whole = 0
for name, data in photos.items():
    many = pieces(name) > 1
    if (many and split < 10) or (not many and whole < 2):
        if many: split += 1
        else: whole += 1
        with open(os.path.join(work, "deleted", os.path.basename(name)), "wb") as f: f.write(data)
        run("mdel", "-i", card, "::/" + name)
os.remove(os.path.join(work, "staged"))
print("deleted photos: %d in pieces, %d in one run" % (split, whole))
PY
fi

hashes() { find "$1" -type f -size +0 -exec sha1sum {} + 2>/dev/null | cut -d' ' -f1 | sort -u; }
hashes "$WORK/deleted" >"$WORK/deleted.sha"
total=$(wc -l <"$WORK/deleted.sha")
timed() { /usr/bin/time -f "%e" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true; tail -1 "$WORK/time.txt"; }
report() {  # tool seconds folder
  local back unverified
  back=$(hashes "$3" | comm -12 - "$WORK/deleted.sha" | wc -l)
  unverified=$(find "$3" -type f -name '*(unverified)*' | wc -l)
  printf '%-34s %2d of %d deleted photos byte-identical, %2d unverified files, %6.2f s\n' "$1" "$back" "$total" "$unverified" "$2"
}
sync
rm -rf "$WORK/out-undelete" "$WORK/out-recover" "$WORK/out-tsk"
t=$(timed "$CLI" undelete "$CARD" --restore all --to "$WORK/out-undelete" --yes); report "harvestrix undelete --restore all" "$t" "$WORK/out-undelete"
t=$(timed "$CLI" recover "$CARD" --to "$WORK/out-recover" --include-present --layout found --yes); report "harvestrix recover --include-present" "$t" "$WORK/out-recover"
t=$(timed tsk_recover -e "$CARD" "$WORK/out-tsk"); report "tsk_recover -e" "$t" "$WORK/out-tsk"
