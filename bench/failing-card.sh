#!/usr/bin/env bash
# A card with failing sectors, read as the system reads one: a read-only loop
# device over the test file system that fails chosen sectors with EIO. The
# scan of that device is timed beside photorec on the same device and beside
# GNU ddrescue's default run followed by a scan of its image; each count is of
# the files that come back byte-identical to a find on the healthy card (the
# finds of both the scan and photorec there).
#
#   bash bench/failing-card.sh [IMAGE [WORKDIR]]
#
# IMAGE defaults to the dense FAT32 card of bench/against-peers.sh (made when
# missing); FAIL_PERMILLE (default 10, that is 1 %) of its sectors fail, in
# clusters of 1 to 8 sectors (5 is 0.5 %; a fraction is taken too), and
# with LATE_MS every read answers that many milliseconds late (0.2: a card of
# some 20 MB/s). `recover` (undelete and scan) of the device is timed too.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${HX_CLI:-$ROOT/build/harvestrix-cli}
FAULTYFS=${HX_FAULTYFS:-$ROOT/build/tests/hx-faultyfs}
WORK=${2:-/tmp/hx-failing-card}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
IMG=${1:-}
if [ -z "$IMG" ]; then
  IMG=$WORK/fat-dense.img
  [ -f "$IMG" ] || MEDIA=none RUNS=0 bash "$ROOT/bench/against-peers.sh" "$WORK" >/dev/null 2>&1 || [ -f "$IMG" ]
fi
IMG=$(cd "$(dirname "$IMG")" && pwd)/$(basename "$IMG")

. "$ROOT/scripts/need-pkg.sh"
need_pkg testdisk gddrescue fuse3 time
[ -x "$CLI" ] && [ -x "$FAULTYFS" ] || { echo "failing-card: build harvestrix-cli and the tests first" >&2; exit 1; }

hashes() { find "$1" -type f -size +0 -exec sha1sum {} + 2>/dev/null | cut -d' ' -f1 | sort -u; }
identical() { hashes "$1" | comm -12 - "$WORK/reference.sha"; }
timed() { /usr/bin/time -f "%e" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true; tail -1 "$WORK/time.txt"; }
# photorec of MEDIUM into a folder of its own: bash "$WORK/photorec.sh" MEDIUM FOLDER
cat >"$WORK/photorec.sh" <<'SH'
rm -rf "$2" && mkdir -p "$2" && cd "$2" && photorec /log /d "$2/f" /cmd "$1" options,paranoid,search
SH

# What the healthy card gives.
rm -rf "$WORK/ref-hx"
"$CLI" --cache "$WORK/ref-hx" scan "$IMG" --new --yes >/dev/null 2>&1 || true
bash "$WORK/photorec.sh" "$IMG" "$WORK/ref-pr" >/dev/null 2>&1 || true
{ hashes "$WORK/ref-hx"; hashes "$WORK/ref-pr"; } | sort -u >"$WORK/reference.sha"

# The failing sectors, the same each run.
python3 - "$IMG" "${FAIL_PERMILLE:-10}" "${LATE_MS:-0}" >"$WORK/rules.txt" <<'PY'
import os, random, sys
sectors = os.path.getsize(sys.argv[1]) // 512
want, rng, bad = int(sectors * float(sys.argv[2]) / 1000), random.Random(48), set()
while len(bad) < want:
    s = rng.randrange(64, sectors - 8)  # the boot sector stays readable
    bad.update(range(s, s + rng.randint(1, 8)))
runs, start, prev = [], None, None
for s in sorted(bad):
    if start is None: start = prev = s
    elif s == prev + 1: prev = s
    else: runs.append((start, prev)); start = prev = s
runs.append((start, prev))
for a, b in runs: print("bad %d-%d" % (a, b))
if float(sys.argv[3]) > 0: print("slow 0-%d %s" % (sectors - 1, sys.argv[3]))
PY
MNT=$WORK/mnt
mkdir -p "$MNT"
fusermount -u "$MNT" 2>/dev/null || true
"$FAULTYFS" "$IMG" "$WORK/rules.txt" "$MNT"
DEV=$(losetup -r -f --show "$MNT/card.img")
cleanup() { losetup -d "$DEV" 2>/dev/null || true; sleep 0.5; fusermount -u "$MNT" 2>/dev/null || true; }
trap cleanup EXIT

rm -rf "$WORK/hx" "$WORK/rc" "$WORK/rc-cache" "$WORK/dd" "$WORK/dd.img" "$WORK/dd.map"
hx_s=$(timed "$CLI" --cache "$WORK/hx" scan "$DEV" --new --yes)
rc_s=$(timed "$CLI" --cache "$WORK/rc-cache" recover "$DEV" --to "$WORK/rc" --include-present --layout found --yes)
pr_s=$(timed bash "$WORK/photorec.sh" "$DEV" "$WORK/pr")
dd_s=$(timed ddrescue "$DEV" "$WORK/dd.img" "$WORK/dd.map")
dds_s=$(timed "$CLI" --cache "$WORK/dd" scan "$WORK/dd.img" --new --yes)

printf 'medium %s, %s of %s sectors failing (%s runs); %s files on the healthy card\n' "$(basename "$IMG")" \
  "$(awk -F'[ -]' '$1 == "bad" {n += $3 - $2 + 1} END {print n}' "$WORK/rules.txt")" "$(( $(stat -c %s "$IMG") / 512 ))" \
  "$(grep -c '^bad' "$WORK/rules.txt")" "$(wc -l <"$WORK/reference.sha")"
printf '%-26s %8s %16s\n' tool seconds byte-identical
printf '%-26s %8s %16s\n' "harvestrix scan" "$hx_s" "$(identical "$WORK/hx" | wc -l)"
printf '%-26s %8s %16s\n' "harvestrix recover" "$rc_s" "$(identical "$WORK/rc" | wc -l)"
printf '%-26s %8s %16s\n' "photorec" "$pr_s" "$(identical "$WORK/pr" | wc -l)"
printf '%-26s %8s %16s\n' "ddrescue + harvestrix scan" "$(echo "$dd_s + $dds_s" | bc)" "$(identical "$WORK/dd" | wc -l)"
