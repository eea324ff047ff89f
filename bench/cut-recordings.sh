#!/usr/bin/env bash
# Recordings cut off by a flat battery: the camera never wrote their index.
# Each of CARDS (default 3) 1 GiB FAT32 cards (8 KiB clusters) held 16 old
# clips and was quick-formatted in the camera; then 4 new clips were
# recorded, and a fifth was cut off 0.1 to 2 s before its end (its `mdat`
# size a placeholder, no `moov`): after it lie the old clips' bytes. Counted
# per tool: the cut recordings that come back playable (ffprobe says
# nothing), the pictures of them that come back byte-identical and in order
# (of those the camera wrote whole before the cut), and any file that holds
# a picture that is not the recording's own; with times and the scan's peak
# memory.
# BFRAMES=1: the camera stores its pictures out of the order it shows them
# (x264's B-frames, as most cameras record). LONG=1: one 3 GiB card whose cut
# recording is over 1 GiB (four minutes at 40 Mbit/s).
#
#   bash bench/cut-recordings.sh [WORKDIR]
# HX_CLI=path runs another build of the command line.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${HX_CLI:-$ROOT/build/harvestrix-cli}
BFRAMES=${BFRAMES:-0}
LONG=${LONG:-0}
KIND=""
if [ "$BFRAMES" = 1 ]; then KIND=$KIND-b; fi
if [ "$LONG" = 1 ]; then KIND=$KIND-long; fi
WORK=${1:-/tmp/hx-cut-recordings$KIND}
CARDS=${CARDS:-$(if [ "$LONG" = 1 ]; then echo 1; else echo 3; fi)}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

. "$ROOT/scripts/need-pkg.sh"
need_pkg ffmpeg testdisk foremost dosfstools mtools python3 time
[ -x "$CLI" ] || { echo "cut-recordings: $CLI not built" >&2; exit 1; }

for c in $(seq 1 "$CARDS"); do
  [ -f "$WORK/card$c.img" ] && continue
  python3 - "$WORK" "$c" "$BFRAMES" "$LONG" <<'PY'
import os, random, struct, subprocess, sys
work, c, bframes, long = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1", sys.argv[4] == "1"
mib = 3072 if long else 1024
card = os.path.join(work, "card%d.img" % c)
env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
def run(*args): subprocess.run(args, check=True, env=env, stdout=subprocess.DEVNULL)
def clip(key, seconds, rate="12M"):
    out = os.path.join(work, "clip.mp4")
    coding = ["-preset", "veryfast", "-bf", "3"] if bframes else ["-preset", "ultrafast"]
    subprocess.run(["ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i", "testsrc=duration=%g:size=640x360:rate=25" % seconds,
                    "-f", "lavfi", "-i", "sine=frequency=%d:duration=%g" % (200 + key, seconds),
                    "-vf", "noise=alls=%d:allf=t" % (10 + key % 30), "-c:v", "libx264"] + coding +
                   ["-b:v", rate, "-maxrate", rate, "-bufsize", rate, "-g", "25", "-c:a", "aac", out], check=True)
    data = open(out, "rb").read()
    os.remove(out)
    return data
staged = os.path.join(work, "staged")
def put(path, data):
    with open(staged, "wb") as f: f.write(data)
    run("mcopy", "-o", "-i", card, staged, "::/" + path)
rnd = random.Random(c)
run("mkfs.fat", "-C", "-F", "32", "-s", "16", "-n", "CAM", card, str(mib * 1024))
for n in range(16): put("OLD_%04d.MP4" % n, clip(1000 * c + n, rnd.uniform(3, 8)))
run("mkfs.fat", "-F", "32", "-s", "16", "-n", "CAM", card)
for n in range(4): put("MVI_%04d.MP4" % n, clip(100 * c + n, rnd.uniform(3, 6)))
whole = clip(100 * c + 50, 240, "40M") if long else clip(100 * c + 50, rnd.uniform(4, 8))
at = 0
while at + 8 <= len(whole):
    size, kind = struct.unpack(">I4s", whole[at:at + 8])
    if kind == b"mdat": break
    at += size
cut = bytearray(whole[:at + size - int(rnd.uniform(0.1, 2) * 1.6e6)])
cut[at:at + 4] = b"\0\0\0\0"
put("MVI_0004.MP4", bytes(cut))
open(os.path.join(work, "cut%d.mp4" % c), "wb").write(whole)
open(os.path.join(work, "cut%d.len" % c), "w").write(str(len(cut)))
os.remove(staged)
with open(card, "r+b") as f: f.truncate(mib * 1024 * 1024)
run("mkfs.fat", "-F", "32", "-s", "16", "-n", "CAM", card)  # the directory and its sizes are gone too
PY
done

# Each picture in the order stored: its time shown, duration, size and digest
# (not its decoding time, which an encoder may hold back by a few pictures
# more than the pictures need).
packets() {
  ffmpeg -nostdin -v error -i "$1" -map 0:v -c copy -f framemd5 - 2>/dev/null | grep -v '^#' |
    awk -F', *' '{ print $1 "," $3 "," $4 "," $5 "," $6 }' || true
}
timed() {
  /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true
  local t; t=$(tail -1 "$WORK/time.txt" | awk '{ print $1 }'); case "$t" in [0-9]*) echo "$t" ;; *) echo 0 ;; esac
}
# tool folder card: of what the tool gave back that plays and starts as the
# cut recording, the most pictures identical to the recording's first ones,
# and whether any such file holds a picture that is not the recording's own.
judge() {
  local best=0 foreign=0 plays=0 f n
  packets "$WORK/cut$3.mp4" >"$WORK/recorded.txt"
  while IFS= read -r f; do
    [ "$(ffprobe -v error "$f" 2>&1 </dev/null | wc -c)" -eq 0 ] || continue
    packets "$f" >"$WORK/back.txt"
    n=$(wc -l <"$WORK/back.txt")
    [ "$n" -gt 0 ] && [ "$(head -1 "$WORK/back.txt")" = "$(head -1 "$WORK/recorded.txt")" ] || continue
    plays=1
    if cmp -s "$WORK/back.txt" <(head -n "$n" "$WORK/recorded.txt") && [ "$n" -le "$(wc -l <"$WORK/recorded.txt")" ]; then
      [ "$n" -gt "$best" ] && best=$n
    else
      foreign=1
    fi
  done < <(find "$2" -type f \( -iname '*.mp4' -o -iname '*.mov' \) -size +100k)
  # the pictures the camera wrote whole before the cut
  local written
  written=$(ffprobe -v error -select_streams v -show_entries packet=pos,size -of csv=p=0 "$WORK/cut$3.mp4" </dev/null |
            awk -F, -v len="$(cat "$WORK/cut$3.len")" '$1 + $2 <= len { n++ } END { print n + 0 }')
  echo "$plays $best $written $foreign"
}
declare -A plays pics total foreign secs
for tool in harvestrix photorec foremost; do plays[$tool]=0; pics[$tool]=0; total[$tool]=0; foreign[$tool]=0; secs[$tool]=0; done
for c in $(seq 1 "$CARDS"); do
  IMG=$WORK/card$c.img
  rm -rf "$WORK/out-hx" "$WORK/out-pr" "$WORK/out-fm"; mkdir -p "$WORK/out-pr"
  t1=$(timed "$CLI" --cache "$WORK/out-hx" scan "$IMG" --new --yes)
  echo "card $c: the scan's peak memory $(( $(tail -1 "$WORK/time.txt" | awk '{ print $2 + 0 }') / 1024 )) MB"
  t2=$(cd "$WORK/out-pr" && timed photorec /log /d "$WORK/out-pr/f" /cmd "$IMG" options,paranoid,search)
  t3=$(timed foremost -q -t mp4,mov -i "$IMG" -o "$WORK/out-fm")
  for pair in "harvestrix $t1 out-hx" "photorec $t2 out-pr" "foremost $t3 out-fm"; do
    set -- $pair
    read -r p b n x < <(judge "$1" "$WORK/$3" "$c")
    plays[$1]=$((plays[$1] + p)); pics[$1]=$((pics[$1] + b)); total[$1]=$((total[$1] + n)); foreign[$1]=$((foreign[$1] + x))
    secs[$1]=$(echo "${secs[$1]} + $2" | bc)
  done
done
for tool in harvestrix photorec foremost; do
  printf '%-11s %d of %d cut recordings play, %5d of the %5d pictures written byte-identical, %d with others'"'"' pictures, %7.2f s\n' \
    "$tool" "${plays[$tool]}" "$CARDS" "${pics[$tool]}" "${total[$tool]}" "${foreign[$tool]}" "${secs[$tool]}"
done
