#!/usr/bin/env bash
# Clips in pieces on a formatted camcorder card, filled as a camera fills
# one: a 2112 MiB FAT32 card (32 KiB clusters) got 40 older files of 3 to
# 12 MB (random bytes; HX_OLD=clips makes them old clips instead), every
# other one deleted, then 12 H.264 clips of 5 to 10 s at 8 to 16 Mbit/s
# (8 MP4 with AAC, 4 MOV with PCM sound, half with their index first) and
# 4 photos, written into the holes by first-free allocation (so most lie in
# two to four pieces around the older files); then a quick format.
# Counted: the 16 new files that come back byte-identical from a scan (the
# clips with their index first and last apart), plain and with DeepScan,
# beside photorec and foremost, with times (and the time a `cat` of the card
# takes) and the scan's peak memory. Each new file that does not come back whole is
# named, with its pieces and where the closest file the scan wrote stops
# being its bytes: in which piece, or not found at all.
#
#   bash bench/clips-in-pieces.sh [WORKDIR]
# HX_CLI=path runs another build of the command line (to compare before and after).
# HX_SEED=n fills the card another way (default 11): the same kinds of files in
# other sizes and other places. HX_LONG=1: a 3 GiB card of 24 older files of
# 40 to 100 MB, every other one deleted, then one recording of four minutes
# at 40 Mbit/s (over 1 GiB, its index last) and a photo: the recording lies
# in a dozen pieces or more. HX_HOLES=small: a 200 MiB FAT16 card (4 KiB
# clusters) of 300 older files of 64 to 128 KiB, every other one deleted, then
# 4 small recordings (240x180, a picture of tens of KiB) of 4 to 8 s and 2
# photos: each recording lies in dozens of pieces, each about a picture long
# (with HX_OLD=clips the older files are clips of the same camera, of half a
# second to a second at 1 Mbit/s, whose pictures decode as the new ones do).
# The clips are coded as cameras code them: H.264 high profile, 4:2:0, with
# arithmetic coding (CABAC) and B-frames (IPB). HX_CODEC=ultrafast codes them
# as x264's fastest setting does instead (4:4:4, variable-length codes, no
# B-frames), where the decoder says at which macroblock another file's bytes
# begin.
# HX_CODEC=hevc codes them in H.265 (x265, with B-frames), as newer cameras
# and phones record. HX_CODEC=slices codes them as camcorders do at full HD:
# 1920x1080 at 29.97 pictures a second, each picture in four slices, a sync
# picture every half second. HX_CODEC=hevc4k codes them as phones record
# 4K: H.265 at 3840x2160, 30 pictures a second, 32 to 64 Mbit/s.
# HX_WRAP=1 (the 2112 MiB card): older files over 97 % of the card, every
# other one deleted, and the camera goes on from where it last wrote, near
# the card's end, then wraps to its start, as a card's allocation does after
# many deletions: the clip across the wrap has a later piece before an
# earlier one on the card.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${HX_CLI:-$ROOT/build/harvestrix-cli}
WORK=${1:-/tmp/hx-clips-in-pieces${HX_OLD:+-$HX_OLD}${HX_SEED:+-$HX_SEED}${HX_LONG:+-long}${HX_HOLES:+-$HX_HOLES}${HX_WRAP:+-wrap}-${HX_CODEC:-camera}}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

. "$ROOT/scripts/need-pkg.sh"
need_pkg ffmpeg testdisk foremost imagemagick dosfstools mtools python3 time
[ -x "$CLI" ] || { echo "clips-in-pieces: $CLI not built" >&2; exit 1; }

CARD=$WORK/card.img
if [ ! -f "$CARD" ]; then
python3 - "$WORK" "${HX_OLD:-random}" "${HX_SEED:-11}" "${HX_LONG:-0}" "${HX_HOLES:-large}" "${HX_CODEC:-camera}" "${HX_WRAP:-0}" <<'PY'
import json, os, random, struct, subprocess, sys
work, old, draw, long, small, codec = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4] == "1", sys.argv[5] == "small", sys.argv[6]
wrap = sys.argv[7] == "1" and not small and not long
card = os.path.join(work, "card.img")
env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
def run(*args): subprocess.run(args, check=True, env=env, stdout=subprocess.DEVNULL)
fat = ["-F", "16", "-s", "8"] if small else ["-F", "32", "-s", "64"]
run("mkfs.fat", "-C", *fat, "-n", "CAM", card, str((200 if small else 3072 if long else 2112) * 1024))
# FAT32 keeps a hint of the next free cluster in its FSInfo sector (FAT16 has
# none: its boot sector holds the volume's label there).
with open(card, "rb") as f: fsinfo = None if small else struct.unpack_from("<H", f.read(512), 48)[0]
staged = os.path.join(work, "staged")
def put(path, data, hint=2):
    if fsinfo and hint:
        with open(card, "r+b") as f:  # first free cluster, as a camera allocates
            f.seek(fsinfo * 512 + 492); f.write(struct.pack("<I", hint))
    with open(staged, "wb") as f: f.write(data)
    run("mcopy", "-o", "-i", card, staged, "::/" + path)
layout = {}  # each new file: its runs of clusters, in file order
def pieces(path):
    out = subprocess.run(["mshowfat", "-i", card, "::/" + path], env=env, capture_output=True, text=True).stdout
    runs = [tuple(int(x) for x in r.split("-")) if "-" in r else (int(r), int(r)) for r in out.split("<")[1:] for r in [r.split(">")[0]]]
    layout[os.path.basename(path)] = runs
    return len(runs)
def clip(key, seconds, ext, first, mbit):
    out = os.path.join(work, "clip" + ext)
    rate = mbit * 4 if codec == "hevc4k" else mbit
    subprocess.run(["ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i",
                    "testsrc=duration=%g:size=%s:rate=%s" % (seconds, "240x180" if small else "1920x1080" if codec == "slices" else
                                                             "3840x2160" if codec == "hevc4k" else "640x360",
                                                             "30000/1001" if codec == "slices" else "30" if codec == "hevc4k" else "25"),
                    "-f", "lavfi", "-i",
                    "sine=frequency=%d:duration=%g" % (200 + key, seconds),
                    "-vf", "noise=alls=%d:allf=t" % (10 + key % 30)] + (
                   ["-c:v", "libx265", "-preset", "veryfast", "-x265-params", "log-level=error", "-tag:v", "hvc1", "-pix_fmt", "yuv420p"]
                   if codec in ("hevc", "hevc4k") else ["-c:v", "libx264", "-preset", "ultrafast"] if codec == "ultrafast" else
                   ["-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-pix_fmt", "yuv420p"]) + (
                   ["-x264-params", "slices=4"] if codec == "slices" else []) + [
                    "-b:v", "%dM" % rate, "-maxrate", "%dM" % rate, "-bufsize", "%dM" % rate, "-g", "15" if codec == "slices" else "30" if codec == "hevc4k" else "25",
                    "-c:a", "pcm_s16le" if ext == ".mov" else "aac"] + (["-movflags", "+faststart"] if first else []) + [out],
                   check=True)
    data = open(out, "rb").read()
    os.remove(out)
    return data
rnd = random.Random(draw)
run("mmd", "-i", card, "::/DCIM"); run("mmd", "-i", card, "::/DCIM/100CAM")
olds = 24 if long else 300 if small else 40
sizes = []
while wrap and sum(sizes) < 0.975 * 2112 * 2**20:  # older files over nearly all the card
    sizes.append(rnd.randint(3 << 20, 12 << 20))
olds = len(sizes) or olds
for n in range(olds):
    if wrap: put("DCIM/100CAM/OLD_%04d.MP4" % n, rnd.randbytes(sizes[n]))
    elif small and old == "clips": put("DCIM/100CAM/OLD_%04d.MP4" % n, clip(n, rnd.uniform(0.5, 1), ".mp4", n % 2 == 0, 1))
    elif small: put("DCIM/100CAM/OLD_%04d.MP4" % n, rnd.randbytes(rnd.randint(64 << 10, 128 << 10)))
    elif long: put("DCIM/100CAM/OLD_%04d.MP4" % n, rnd.randbytes(rnd.randint(40 << 20, 100 << 20)))
    elif old == "clips": put("DCIM/100CAM/OLD_%04d.MP4" % n, clip(n, rnd.uniform(2, 8), ".mp4", n % 2 == 0, 12))
    else: put("DCIM/100CAM/OLD_%04d.MP4" % n, rnd.randbytes(rnd.randint(3 << 20, 12 << 20)))
# With HX_WRAP=1 the camera goes on from where it last wrote (the FSInfo
# hint), near the card's end, and wraps to its start: a clip there lies in
# pieces at the card's end and its start, a later piece before an earlier.
hint = 2
if wrap:
    out = subprocess.run(["mshowfat", "-i", card, "::/DCIM/100CAM/OLD_%04d.MP4" % (olds * 97 // 100 | 1)], env=env,
                         capture_output=True, text=True).stdout
    hint = int(out.split("<")[1].split("-")[0].split(">")[0])
for n in range(1, olds, 2):
    run("mdel", "-i", card, "::/DCIM/100CAM/OLD_%04d.MP4" % n)
new = os.path.join(work, "new")
os.makedirs(os.path.join(new, "first"), exist_ok=True)
os.makedirs(os.path.join(new, "last"), exist_ok=True)
os.makedirs(os.path.join(new, "photos"), exist_ok=True)
split = 0
for n in range(1 if long else 4 if small else 12):
    ext = ".MOV" if n % 3 == 2 else ".MP4"
    first = n % 2 == 0 and not long
    name = "DCIM/100CAM/MVI_%04d%s" % (n, ext)
    data = clip(100 + n, 240 if long else rnd.uniform(4, 8) if small else rnd.uniform(5, 10), ext.lower(), first,
                40 if long else rnd.choice([3, 8]) if small else rnd.choice([8, 12, 16]))
    put(name, data, hint)
    hint = None if wrap else 2  # wrapping: the camera's own hint from here on
    split += pieces(name) > 1
    open(os.path.join(new, "first" if first else "last", os.path.basename(name)), "wb").write(data)
    if n % 3 == 0:
        photo = os.path.join(work, "photo.jpg")
        subprocess.run(["convert", "-size", "420x315", "plasma:fractal", "-resize", "640x480!" if small else "3360x2520!", "-attenuate", "0.3",
                        "+noise", "Gaussian", "-quality", "92", photo], check=True)
        data = open(photo, "rb").read()
        os.remove(photo)
        put("DCIM/100CAM/IMG_%04d.JPG" % n, data, hint)
        split += pieces("DCIM/100CAM/IMG_%04d.JPG" % n) > 1
        open(os.path.join(new, "photos", "IMG_%04d.JPG" % n), "wb").write(data)
os.remove(staged)
run("mkfs.fat", *fat, "-n", "CAM", card)  # a quick format: new tables, the clusters as they were
json.dump({"clusterBytes": 4096 if small else 32768, "layout": layout}, open(os.path.join(work, "layout.json"), "w"))
print("new files in pieces: %d of %d" % (split, len(layout)))
PY
fi

hashes() { find "$1" -type f -size +0 -exec sha1sum {} + 2>/dev/null | cut -d' ' -f1 | sort -u; }
for kind in first last photos; do hashes "$WORK/new/$kind" >"$WORK/$kind.sha"; done
timed() { /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true; tail -1 "$WORK/time.txt" | cut -d' ' -f1; }
peak() { echo "$(( $(tail -1 "$WORK/time.txt" | cut -d' ' -f2) / 1024 )) MB peak"; }
report() {  # tool seconds folder
  local got all=0 parts=""
  for kind in first last photos; do
    got=$(hashes "$3" | comm -12 - "$WORK/$kind.sha" | wc -l)
    all=$((all + got)); parts="$parts $kind $got/$(wc -l <"$WORK/$kind.sha")"
  done
  printf '%-22s %2d of %d byte-identical (%s), %6.2f s\n' "$1" "$all" "$(cat "$WORK"/*.sha | wc -l)" "${parts# }" "$2"
}
sync
rm -rf "$WORK/out-hx" "$WORK/out-pr" "$WORK/out-fm"
t=$(timed cat "$CARD"); echo "cat of the card: $t s"
t=$(timed "$CLI" --cache "$WORK/out-hx" scan "$CARD" --new --yes); report "harvestrix scan" "$t" "$WORK/out-hx"; peak
python3 "$ROOT/bench/why-not-whole.py" "$WORK" "$WORK/out-hx"
rm -rf "$WORK/out-hx-deep"
t=$(timed "$CLI" --cache "$WORK/out-hx-deep" scan "$CARD" --deep --new --yes); report "harvestrix DeepScan" "$t" "$WORK/out-hx-deep"; peak
mkdir -p "$WORK/out-pr"
t=$(cd "$WORK/out-pr" && timed photorec /log /d "$WORK/out-pr/f" /cmd "$CARD" options,paranoid,search); report "photorec" "$t" "$WORK/out-pr"
t=$(timed foremost -q -t mp4,mov,jpg -i "$CARD" -o "$WORK/out-fm"); report "foremost" "$t" "$WORK/out-fm"
