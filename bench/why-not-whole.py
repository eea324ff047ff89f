#!/usr/bin/env python3
"""Says of each new file of a bench card that did not come back byte-identical
why not: the file the tool wrote that starts as it does, and where that one
stops being its bytes, counted in the pieces the file lay in on the card.

    why-not-whole.py WORKDIR OUTDIR   (WORKDIR holds new/ and layout.json)"""
import hashlib, json, os, sys

work, out = sys.argv[1], sys.argv[2]
meta = json.load(open(os.path.join(work, "layout.json")))
cluster = meta["clusterBytes"]
written = []
for top, _, names in os.walk(out):
    for n in names:
        p = os.path.join(top, n)
        if os.path.getsize(p) > 0: written.append(p)
heads, digests = {}, set()
for p in written:
    with open(p, "rb") as f: head = f.read(65536)
    # (past its first bytes: a clip written as far as it plays gets a media data size of its own there)
    heads.setdefault(head[64:4096], []).append(p)
    digests.add(hashlib.sha1(open(p, "rb").read()).hexdigest())

def common(a, b):
    n = min(len(a), len(b))
    k = 0
    step = 1 << 20
    while k < n and a[k:k + step] == b[k:k + step]: k += step
    k = min(k, n)
    while k > 0 and a[k - 1:k] != b[k - 1:k]: k -= 1
    lo = max(0, k - step)
    k = lo
    while k < n and a[k] == b[k]: k += 1
    return k

for kind in ("first", "last", "photos"):
    folder = os.path.join(work, "new", kind)
    for name in sorted(os.listdir(folder)):
        data = open(os.path.join(folder, name), "rb").read()
        if hashlib.sha1(data).hexdigest() in digests: continue
        runs = meta["layout"].get(name, [])
        starts, at = [], 0
        for a, b in runs:
            starts.append(at)
            at += (b - a + 1) * cluster
        where = "%d pieces (%s MB)" % (len(runs), ", ".join("%.1f" % ((b - a + 1) * cluster / 1e6) for a, b in runs))
        index = "" if kind == "photos" else (" index %s" % kind)
        candidates = heads.get(data[64:4096], [])
        if not candidates:
            print("  %-14s%s, %s: not found" % (name, index, where))
            continue
        best, same = None, -1
        for p in candidates:
            other = open(p, "rb").read()
            k = 64 + common(data[64:], other[64:]) if len(other) > 64 else 0
            if k > same: best, same, head = p, k, other[:64] == data[:64]
        got = os.path.getsize(best)
        piece = sum(1 for s in starts if s <= same)
        if same >= len(data): why = "holds %d bytes more after its own" % (got - len(data))
        elif same >= got: why = "cut at byte %d of %d, in piece %d" % (got, len(data), piece)
        else:
            zeros = open(best, "rb").read()[same:same + 4096].count(0) == min(4096, got - same)
            why = "its own to byte %d of %d, in piece %d (which starts at %d), then %s" % (
                same, len(data), piece, starts[piece - 1] if piece else 0, "zeros" if zeros else "other bytes")
        if not head: why += ", its header rewritten (written as incomplete)"
        print("  %-14s%s, %s: %s (%s)" % (name, index, where, why, os.path.basename(best)))
