#include "reassembly/SplitPhotos.h"
#include "reassembly/JoinedPhotoParts.h"
#include "reassembly/PictureContinuation.h"
#include "scan/LaterChecks.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <numeric>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "filesystems/FileSystemTypes.h"
#include "platform/RawFile.h"
#include "shell/Text.h"
#include "media/SalvagedMedium.h"
#include "formats/Formats.h"
#include "formats/JpegEntropy.h"
#include "formats/PictureCheck.h"
#include "volumes/DriveFiles.h"

namespace hx::reassembly {

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMaxPicture = 64ull << 20;  // pictures larger are not joined
constexpr std::uint64_t kSplitBack = 4;  // split points tried before the first fault, in units
constexpr std::uint64_t kMaxGap = 16;    // gaps of other data tried, in units
// Found files between the pieces that are stepped over, at most.
constexpr std::size_t kMaxBetween = 4;
// Bytes of the continuation decoded to judge a join (the first kLook of them
// must look like picture data before any is decoded).
constexpr std::size_t kProbe = 128 * 1024;
// Joins tried in one scan, and for one picture, at most (each decodes the
// first piece again).
constexpr int kMaxProbes = 2000;
constexpr int kProbesPerPicture = 96;
// Places right after other finds, anywhere on the medium, tried for a second piece.
constexpr std::size_t kFarCandidates = 256;
// Pieces of one picture joined at most.
constexpr int kMaxPieces = 4;
// The continuation is read in pieces of this size until its end marker.
constexpr std::size_t kChunk = 1 << 20;
// A place to start the entropy walk again is kept about every so many bytes.
constexpr std::size_t kMarkEvery = 256;
// On a medium written in blocks: how far on a second piece is looked for, the
// found files it takes to tell the block size, and the largest block told.
constexpr std::uint64_t kReach = 32ull << 20;
// Back before the picture's start (a card whose allocation wrapped), and the
// places looked at this far off, at most, for one split of one picture and
// for the whole scan (a first glance at each is a sector's read).
constexpr std::uint64_t kReachBack = 16ull << 20;
constexpr std::size_t kMaxFarCandidates = 16384;
constexpr int kMaxGlances = 1 << 20;
constexpr std::size_t kGlance = 512;
// How far before the other data the entropy walk may stop.
constexpr std::uint64_t kReadAhead = 16;
constexpr std::size_t kBlockEvidence = 8;
constexpr std::uint64_t kMaxBlock = 1ull << 20;

std::vector<std::uint8_t> readFile(const fs::path& path, std::uint64_t cap) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes;
    if (!in) return bytes;
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(in.tellg());
    if (size > cap) return bytes;
    in.seekg(0);
    bytes.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return bytes;
}

// Decodes cleanly up to where its data ends (a probe runs out there).
bool cleanTo(const std::vector<std::uint8_t>& bytes, std::size_t joinAt) {
    const formats::JpegCheck c = formats::CheckJpegBuffer(bytes.data(), bytes.size());
    if (!c.decodes) return false;
    if (c.complete && c.warnings == 0) return true;
    // Running out of data shows as a fault at its very end.
    return c.firstFault != ~0ull && c.firstFault > joinAt && c.firstFault + 64 >= bytes.size();
}

// Where every found file lies, taken before any is joined: a join changes
// only its own picture, so joins may run side by side and none sees what
// another changed, as none did when they ran one after the other.
struct Placed {
    std::uint64_t start = 0, units = 0;  // on the medium; units whole
    bool earlier = false;                // of an earlier scan: not placed on this medium
};
struct Held {
    std::uint64_t start, end;  // units, end excluded
    std::size_t index;
};
struct Layout {
    std::vector<Placed> placed;       // by found-file number
    std::vector<Held> held;           // the bytes each found picture is known to hold, in medium order
    std::vector<std::uint64_t> starts;  // every found file's first unit, sorted
    std::atomic<int> probes{0};       // joins tried, by every joiner
    std::atomic<int> glances{0};      // places whose first sector was read, by every joiner
};

void takeLayout(const scan::ScanContext& ctx, std::uint64_t unit, Layout& layout) {
    for (std::size_t k = 0; k < ctx.found.size(); ++k) {
        const scan::FoundFile& g = ctx.found[k];
        layout.placed.push_back({g.startUnit, (g.size + unit - 1) / unit, g.earlier});
        if (g.earlier) continue;
        const std::uint64_t bytes = g.damaged ? std::min(g.faultAt, g.size) : g.size;
        layout.held.push_back({g.startUnit, g.startUnit + std::max<std::uint64_t>((bytes + unit - 1) / unit, 1), k});
        layout.starts.push_back(g.startUnit);
    }
    std::sort(layout.starts.begin(), layout.starts.end());
}

class Joiner {
public:
    Joiner(scan::ScanContext& ctx, const scan::ScanGeometry& geo, Layout& layout)
        : ctx_(ctx), geo_(geo), unit_(geo.unitBytes()), layout_(layout) {}

    bool open() {
        if (!volumes::OpenDrive(medium_, ctx_.drive, platform::RawFile::Mode::Read)) return false;
        // What the scan could not read is not read again.
        salvaged_.emplace(medium_, geo_.bytesPerSector, ctx_.unreadable);
        return true;
    }

    bool join(std::size_t index) {
        scan::FoundFile& f = ctx_.found[index];
        const fs::path path = ctx_.cacheFolder / f.name;
        std::vector<std::uint8_t> bytes = readFile(path, kMaxPicture);
        if (bytes.size() < unit_) return false;
        // Where the data first goes wrong: the entropy walk over the first
        // piece leaves marks to start again from at any cut, so a candidate
        // costs only the bytes up to its own first fault. Pictures it cannot
        // follow are decoded whole for each candidate.
        entropy_ = {};
        marks_.clear();
        walkable_ = entropy_.readHeaders(bytes.data(), bytes.size());
        std::uint64_t fault = f.faultAt;
        if (walkable_ && f.marks && fault != ~0ull) {
            marks_ = *f.marks;  // the scan's own walk to the fault
        } else if (walkable_) {
            const formats::JpegEntropy::Walk first =
                entropy_.walk(bytes.data(), bytes.size(), entropy_.start(), &marks_, kMarkEvery);
            if (first.outcome == formats::JpegEntropy::Outcome::Complete || marks_.empty()) return false;
            if (first.outcome == formats::JpegEntropy::Outcome::Fault) fault = std::min(fault, first.at);
        }
        if (fault == ~0ull) {
            const formats::JpegCheck check = formats::CheckJpegBuffer(bytes.data(), bytes.size());
            if (!check.decodes) return false;
            fault = check.firstFault;
        }
        if (fault == ~0ull || fault > bytes.size()) return false;
        tried_ = 0;
        looks_.clear();
        if (joinFrom(index, path, bytes, fault, f.startUnit, 1, 0)) return true;
        keepFirstPiece(f, path, bytes, fault);
        return false;
    }

    // A picture whose second piece was not found is kept as its first piece
    // (partial): what follows the start of the block that holds its fault,
    // when that is no picture data, was another file's or noise.
    void keepFirstPiece(scan::FoundFile& f, const fs::path& path, const std::vector<std::uint8_t>& bytes,
                        std::uint64_t fault) {
        const std::uint64_t block = blockUnits_ * unit_;
        const std::uint64_t cut = fault / block * block;
        if (cut < unit_ || cut >= bytes.size()) return;
        if (lookAtContinuation(bytes.data() + cut, bytes.size() - cut).pictureData) return;
        std::error_code ec;
        fs::resize_file(path, cut, ec);
        if (ec) return;
        f.size = cut;
        f.printed = false;
    }

    // The medium was written in blocks of this many units (see JoinSplitPhotos).
    void setBlockUnits(std::uint64_t units) { blockUnits_ = std::max<std::uint64_t>(units, 1); }

private:
    // Joins the picture whose first `bytes` (one piece or more already
    // joined) read cleanly up to `fault`. Unit k of `bytes` lies at medium
    // unit `base` + k from unit `minUnits` - 1 on; cuts come after that.
    // A second piece that reads cleanly to a fault of its own further on is
    // followed by a search for the next one, up to kMaxPieces in all.
    bool joinFrom(std::size_t index, const fs::path& path, const std::vector<std::uint8_t>& bytes, std::uint64_t fault,
                  std::uint64_t base, std::uint64_t minUnits, int depth) {
        scan::FoundFile& f = ctx_.found[index];
        // The split lies at a unit boundary at or before the fault (the
        // decoder notices other data a little after it begins).
        const std::uint64_t faultUnit = std::min<std::uint64_t>((fault + unit_ - 1) / unit_, bytes.size() / unit_);
        // The likeliest joins first: a split just before the fault and a
        // short gap or one file between; then the rest, up to a few dozen.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> joins;  // (units of the first piece, where the second starts)
        if (blockUnits_ > 1) joins = runStartsFirst(blockJoins(index, base, fault, bytes.size()), base);
        for (int tier = 0; tier < 4 && blockUnits_ <= 1; ++tier) {
            // Last, any unit within reach, as on a medium written in blocks:
            // the second piece may lie past megabytes of an older file.
            if (tier == 3) {
                std::set<std::pair<std::uint64_t, std::uint64_t>> tried(joins.begin(), joins.end());
                for (const auto& j : runStartsFirst(blockJoins(index, base, fault, bytes.size()), base))
                    if (!tried.count(j)) joins.push_back(j);
                break;
            }
            // Before the longer gaps: right after any other find, however far
            // on (or before), as a camera's next free clusters may lie past
            // megabytes of other files.
            for (std::uint64_t back = 0; tier == 2 && back <= kSplitBack && back < faultUnit; ++back)
                for (std::uint64_t next : afterAnyFind(index, base + faultUnit - back))
                    joins.emplace_back(faultUnit - back, next);
            for (std::uint64_t back = 0; back <= kSplitBack && back < faultUnit; ++back) {
                if ((tier == 0) != (back <= 1) && tier < 2) continue;
                const std::uint64_t pieceUnits = faultUnit - back;
                for (std::uint64_t next : continuations(index, base + pieceUnits, tier == 2))
                    joins.emplace_back(pieceUnits, next);
            }
        }
        // The first piece's restart markers are found once; it is copied only
        // for a second piece that looks like its continuation.
        const std::vector<std::size_t> restarts = restartEnds(bytes);
        std::vector<std::uint8_t> probe;
        for (const auto& [pieceUnits, next] : joins) {
            if (layout_.probes >= kMaxProbes || tried_ >= kProbesPerPicture) return false;
            if (pieceUnits < minUnits) continue;
            const auto joinAt = static_cast<std::size_t>(pieceUnits * unit_);
            const int restart = nextRestart(bytes, restarts, joinAt);
            // Most candidates fail on their first bytes, and the same
            // second piece comes up for several first pieces: each is
            // looked at once, and read whole only when it looks right.
            if (!lookAt(next).follows(restart)) continue;
            probe.clear();
            if (!append(probe, next, kProbe)) continue;
            ++layout_.probes;
            ++tried_;
            std::vector<formats::JpegEntropy::Mark> probeMarks;
            if (!continues(bytes, joinAt, probe, &probeMarks)) continue;
            // The picture's end by its markers across the join, then every code up to it.
            std::vector<std::uint8_t> joined;
            joined.reserve(joinAt + probe.size() + kChunk);
            joined.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(joinAt));
            joined.insert(joined.end(), probe.begin(), probe.end());
            if (appendToEnd(joined, joinAt, next) && wholeFromProbe(joined, joinAt, probeMarks)) {
                // What the photo holds after its picture lies where its last piece runs on.
                const std::uint64_t after = geo_.byteOf(next) + (joined.size() - joinAt);
                TakeFollowingParts(*salvaged_, after, geo_.byteOf(geo_.endUnit()), joined, f);
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(joined.data()), static_cast<std::streamsize>(joined.size()));
                if (!out.flush()) return false;
                f.size = joined.size();
                f.pieces = depth + 2;
                f.damaged = false;
                f.printed = false;
                return true;
            }
            if (depth + 2 < kMaxPieces && walkable_ && nextPiece(index, path, joined, joinAt, next, pieceUnits, depth))
                return true;
        }
        return false;
    }

    // The second piece read cleanly for a whole unit or more, then went wrong
    // itself: a third piece is looked for from where it did.
    bool nextPiece(std::size_t index, const fs::path& path, const std::vector<std::uint8_t>& joined, std::size_t joinAt,
                   std::uint64_t next, std::uint64_t pieceUnits, int depth) {
        const std::vector<formats::JpegEntropy::Mark> before = marks_;
        std::vector<formats::JpegEntropy::Mark> more;
        const formats::JpegEntropy::Walk walk =
            walkAcross(joined, joinAt, joined.data() + joinAt, joined.size() - joinAt, &more);
        bool done = false;
        if (walk.outcome == formats::JpegEntropy::Outcome::Fault && !more.empty()) {
            const std::uint64_t from = more.front().byte;  // where the walk started, in `joined`
            const std::uint64_t fault = from + walk.at;
            // Another picture's data read from its middle runs on until that
            // picture's end marker: a piece of this one ends at no such marker.
            const bool otherPicturesEnd = endMarkerNear(joined, fault);
            if (fault >= joinAt + unit_ && !otherPicturesEnd) {
                while (!marks_.empty() && marks_.back().byte >= from) marks_.pop_back();
                marks_.insert(marks_.end(), more.begin(), more.end());
                done = joinFrom(index, path, joined, fault, next - pieceUnits, pieceUnits + 1, depth + 1);
            }
        }
        marks_ = before;
        return done;
    }

    // How the bytes at `unit` look as a continuation, looked at once: a
    // glance at its first sector tells most other data at once.
    const ContinuationLook& lookAt(std::uint64_t unit) {
        auto seen = looks_.find(unit);
        if (seen != looks_.end()) return seen->second;
        glance_.clear();
        ContinuationLook look;
        int restart = -1;
        if (layout_.glances++ < kMaxGlances && append(glance_, unit, kGlance) &&
            markersFit(glance_.data(), glance_.size(), restart)) {
            glance_.clear();
            append(glance_, unit, kLook);
            look = lookAtContinuation(glance_.data(), glance_.size());
        }
        return looks_.emplace(unit, look).first->second;
    }

    // Where a piece of picture data starts (after a block of something else)
    // before the blocks inside such a run: another picture's data read from
    // its middle decodes cleanly for a while, and would use up the tries.
    // The few blocks right after the split keep their place ahead (a whole
    // picture may lie between the pieces).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runStartsFirst(
        std::vector<std::pair<std::uint64_t, std::uint64_t>> joins, std::uint64_t base) {
        std::stable_partition(joins.begin(), joins.end(), [&](const std::pair<std::uint64_t, std::uint64_t>& j) {
            const std::uint64_t split = base + j.first;
            const bool near = j.second > split && j.second - split <= kMaxGap * blockUnits_;
            return near || j.second < geo_.rootCluster + blockUnits_ || !lookAt(j.second - blockUnits_).pictureData;
        });
        return joins;
    }

    // An end marker lies within a few bytes before `at` in `bytes`.
    static bool endMarkerNear(const std::vector<std::uint8_t>& bytes, std::uint64_t at) {
        const std::uint64_t to = std::min<std::uint64_t>(at + 2, bytes.size());
        for (std::uint64_t i = at > 16 ? at - 16 : 0; i + 1 < to; ++i)
            if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9) return true;
        return false;
    }

    // On a medium written in blocks larger than its units: the split at the
    // start of the block that holds the fault (or the block before), the
    // second piece at any block start up to kReach bytes further on, nearest
    // first, never among the bytes another found picture is known to hold.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> blockJoins(std::size_t index, std::uint64_t base,
                                                                    std::uint64_t fault, std::size_t have) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
        const std::uint64_t block = blockUnits_ * unit_;
        // The walk may stop a few bytes short of where the other data begins (it reads ahead).
        const std::uint64_t faultBlock = (fault + kReadAhead) / block;
        for (std::uint64_t back = 0; back <= 1 && back < faultBlock; ++back) {
            const std::uint64_t pieceUnits = (faultBlock - back) * blockUnits_;
            if (pieceUnits * unit_ > have) continue;
            const std::uint64_t from = base + pieceUnits;
            std::size_t taken = 0;
            auto take = [&](std::uint64_t next) {
                if (heldByAnother(next, index) || std::binary_search(layout_.starts.begin(), layout_.starts.end(), next))
                    return;
                out.emplace_back(pieceUnits, next);
                ++taken;
            };
            for (std::uint64_t next = from + blockUnits_;
                 next < geo_.endUnit() && (next - from) * unit_ <= kReach && taken < kMaxFarCandidates; next += blockUnits_)
                take(next);
            // Before the picture, nearest first.
            for (std::uint64_t next = base; next >= geo_.rootCluster + blockUnits_ && (base - next) * unit_ < kReachBack &&
                                            taken < kMaxFarCandidates;) {
                next -= blockUnits_;
                take(next);
            }
        }
        return out;
    }

    // `unit` lies among the bytes another found picture holds: all of a
    // whole one, a damaged one's up to its fault.
    bool heldByAnother(std::uint64_t unit, std::size_t index) const {
        const std::vector<Held>& held = layout_.held;
        // Found files come in the order of the medium.
        auto it = std::upper_bound(held.begin(), held.end(), unit,
                                   [](std::uint64_t u, const Held& h) { return u < h.start; });
        for (int steps = 0; it != held.begin() && steps < 4; ++steps) {
            --it;
            // Its own first piece's bytes are its own as surely: no piece starts among them.
            if (unit < it->end) return true;
        }
        return false;
    }

    // The first `joinAt` bytes of the picture followed by `probe` read
    // without a fault, up to the probe's end or the picture's.
    // `more` gets the walk's marks past the cut, where the whole picture's walk may go on from.
    bool continues(const std::vector<std::uint8_t>& bytes, std::size_t joinAt, const std::vector<std::uint8_t>& probe,
                   std::vector<formats::JpegEntropy::Mark>* more) {
        if (!walkable_) {
            std::vector<std::uint8_t> joined(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(joinAt));
            joined.insert(joined.end(), probe.begin(), probe.end());
            return cleanTo(joined, joinAt);
        }
        const formats::JpegEntropy::Walk walk = walkAcross(bytes, joinAt, probe.data(), probe.size(), more);
        return walk.outcome == formats::JpegEntropy::Outcome::Complete ||
               walk.outcome == formats::JpegEntropy::Outcome::RanOut;
    }

    // As wholeAcross, the walk going on from the last mark the probe's walk
    // left: the probe's bytes are the joined picture's own, walked once.
    bool wholeFromProbe(const std::vector<std::uint8_t>& joined, std::size_t joinAt,
                        const std::vector<formats::JpegEntropy::Mark>& probeMarks) {
        const std::vector<formats::JpegEntropy::Mark> before = marks_;
        while (!marks_.empty() && marks_.back().byte > joinAt) marks_.pop_back();  // the first piece's past the cut
        std::size_t from = joinAt;
        for (const auto& m : probeMarks)
            if (m.byte > from && m.byte + kMarkEvery < joined.size()) {
                marks_.push_back(m);
                from = static_cast<std::size_t>(m.byte);
            }
        const bool whole = wholeAcross(joined, from);
        marks_ = before;
        return whole;
    }

    // The joined picture holds exactly its MCUs up to its end marker.
    bool wholeAcross(const std::vector<std::uint8_t>& joined, std::size_t joinAt) {
        if (!walkable_) {
            const formats::JpegCheck whole = formats::CheckJpegBuffer(joined.data(), joined.size());
            return whole.complete && whole.warnings == 0 && whole.end == joined.size();
        }
        const formats::JpegEntropy::Walk walk = walkAcross(joined, joinAt, joined.data() + joinAt, joined.size() - joinAt);
        return walk.outcome == formats::JpegEntropy::Outcome::Complete && walk.at == tail_.size();
    }

    // The entropy walk from the last mark before the cut, over the rest of
    // the first piece and then `size` bytes of the second.
    formats::JpegEntropy::Walk walkAcross(const std::vector<std::uint8_t>& bytes, std::size_t joinAt,
                                          const std::uint8_t* second, std::size_t size,
                                          std::vector<formats::JpegEntropy::Mark>* more = nullptr) {
        const auto after = std::upper_bound(marks_.begin(), marks_.end(), joinAt,
                                            [](std::size_t at, const formats::JpegEntropy::Mark& m) { return at < m.byte + 1; });
        if (after == marks_.begin()) return {formats::JpegEntropy::Outcome::Fault, 0, 0};
        const formats::JpegEntropy::Mark& mark = *std::prev(after);
        tail_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(mark.byte), bytes.begin() + static_cast<std::ptrdiff_t>(joinAt));
        tail_.insert(tail_.end(), second, second + size);
        const formats::JpegEntropy::Walk walk =
            entropy_.walk(tail_.data(), tail_.size(), {0, mark.bit, mark.mcu}, more, kMarkEvery);
        // Marks and places in the walk count from the mark's byte.
        if (more)
            for (auto& m : *more) m.byte += mark.byte;
        return walk;
    }

    // Where the second piece may start, most likely first: right after a
    // small gap, then right after each found file that lies in the way.
    // `far`: the longer gaps and the files further on.
    std::vector<std::uint64_t> continuations(std::size_t index, std::uint64_t from, bool far) const {
        std::vector<std::uint64_t> out;
        for (std::uint64_t gap = far ? 9 : 1; gap <= (far ? kMaxGap : 8); ++gap) out.push_back(from + gap);
        std::size_t between = 0;
        for (std::size_t k = index + 1; k < layout_.placed.size() && between < kMaxBetween; ++k) {
            const Placed& g = layout_.placed[k];
            if (g.earlier || g.start < from) continue;
            if (g.start > from + kMaxGap + 1 && between == 0) break;
            ++between;
            const std::uint64_t after = g.start + g.units;
            if (!far && between == 1)
                for (std::uint64_t gap = 0; gap <= 1; ++gap) out.push_back(after + gap);
            if (far)
                for (std::uint64_t gap = between == 1 ? 2 : 0; gap <= 8; ++gap) out.push_back(after + gap);
        }
        // Never into another found file's start, nor among the bytes another
        // picture is known to hold: those are its own.
        out.erase(std::remove_if(out.begin(), out.end(),
                                 [&](std::uint64_t u) {
                                     return u >= geo_.endUnit() ||
                                            std::binary_search(layout_.starts.begin(), layout_.starts.end(), u) ||
                                            heldByAnother(u, index);
                                 }),
                  out.end());
        return out;
    }

    // The unit right after each other find, nearest first from `from`
    // (forward, then from the medium's start), where no find starts and
    // none is known to hold; at most kFarCandidates.
    std::vector<std::uint64_t> afterAnyFind(std::size_t index, std::uint64_t from) const {
        std::vector<std::uint64_t> out;
        for (std::size_t k = 0; k < layout_.placed.size(); ++k) {
            const Placed& g = layout_.placed[k];
            if (k == index || g.earlier) continue;
            const std::uint64_t after = g.start + g.units;
            if (after == from || after >= geo_.endUnit() || heldByAnother(after, index) ||
                std::binary_search(layout_.starts.begin(), layout_.starts.end(), after))
                continue;
            out.push_back(after);
        }
        const std::uint64_t end = geo_.endUnit();
        std::sort(out.begin(), out.end(), [&](std::uint64_t a, std::uint64_t b) {
            return (a + end - from) % end < (b + end - from) % end;
        });
        out.erase(std::unique(out.begin(), out.end()), out.end());
        if (out.size() > kFarCandidates) out.resize(kFarCandidates);
        return out;
    }

    // `joined` holds the medium from `unit` on after its first `joinAt`
    // bytes (the probe, whole units): more of it is appended until the
    // picture's markers reach its end, and the bytes past that are dropped.
    bool appendToEnd(std::vector<std::uint8_t>& joined, std::size_t joinAt, std::uint64_t unit) {
        formats::JpegEndFinder finder;
        std::size_t used = finder.feed(joined.data(), joined.size());
        // Most pictures end a little past the probe: the reads grow from there.
        std::size_t chunk = kChunk / 4;
        while (!finder.done() && !finder.failed() && joined.size() < kMaxPicture) {
            const std::size_t before = joined.size();
            const std::uint64_t at = unit + (before - joinAt) / unit_;
            if (!append(joined, at, chunk)) return false;
            used = before + finder.feed(joined.data() + before, joined.size() - before);
            chunk = std::min(chunk * 2, kChunk);
        }
        if (finder.done()) joined.resize(used);
        return finder.done();
    }

    // Appends up to `length` bytes of the medium from `unit` on.
    bool append(std::vector<std::uint8_t>& out, std::uint64_t unit, std::uint64_t length) {
        const std::uint64_t available = (geo_.endUnit() - unit) * unit_;
        const auto n = static_cast<std::size_t>(std::min(length, available));
        const std::size_t at = out.size();
        out.resize(at + n);
        const std::size_t got = salvaged_->readAt(geo_.byteOf(unit), out.data() + at, n);
        out.resize(at + got);
        return got > 0;
    }

    scan::ScanContext& ctx_;
    const scan::ScanGeometry& geo_;
    const std::uint64_t unit_;
    Layout& layout_;
    platform::RawFile medium_;
    std::optional<media::SalvagedMedium> salvaged_;
    int tried_ = 0;  // candidates of the picture being joined
    std::unordered_map<std::uint64_t, ContinuationLook> looks_;
    std::uint64_t blockUnits_ = 1;
    formats::JpegEntropy entropy_;
    std::vector<formats::JpegEntropy::Mark> marks_;
    bool walkable_ = false;
    std::vector<std::uint8_t> tail_;
    std::vector<std::uint8_t> glance_;
};

}  // namespace

std::uint64_t InferBlockUnits(const scan::ScanContext& ctx, const scan::ScanGeometry& geo) {
    // A file system's clusters are its units already.
    if (filesystems::CataloguedType(ctx.record) || ctx.found.size() < kBlockEvidence)
        return 1;
    std::uint64_t common = 0;
    for (const scan::FoundFile& f : ctx.found)
        if (!f.earlier) common = std::gcd(common, geo.byteOf(f.startUnit));
    if (common == 0) return 1;
    const std::uint64_t block = std::min<std::uint64_t>(common & (~common + 1), kMaxBlock);
    const std::uint64_t unit = geo.unitBytes();
    return block > unit && block % unit == 0 ? block / unit : 1;
}

std::uint64_t WrittenBlockUnits(const scan::ScanContext& ctx, const scan::ScanGeometry& geo) {
    const std::uint64_t unit = geo.unitBytes();
    if (filesystems::CataloguedType(ctx.record) && ctx.record.clusterBytes() > unit &&
        ctx.record.clusterBytes() % unit == 0)
        return ctx.record.clusterBytes() / unit;
    return InferBlockUnits(ctx, geo);
}

int JoinSplitPhotos(scan::ScanContext& ctx, const scan::ScanGeometry& geo) {
    std::vector<std::size_t> damaged;
    for (std::size_t i = 0; i < ctx.found.size(); ++i) {
        const scan::FoundFile& f = ctx.found[i];
        if (!f.damaged || f.listedSize > 0) continue;
        const formats::Format* format = formats::FormatOf(f.extension);
        if (format && format->ending == formats::Ending::Jpeg) damaged.push_back(i);
    }
    if (damaged.empty()) return 0;
    Layout layout;
    takeLayout(ctx, geo.unitBytes(), layout);
    const std::uint64_t blockUnits = WrittenBlockUnits(ctx, geo);
    // The pictures are shared out among a joiner a core; this thread's also
    // keeps the window answering and hears a stop.
    std::atomic<std::size_t> next{0};
    std::atomic<int> joined{0};
    std::atomic<bool> stop{false};
    const auto work = [&](bool answers) {
        Joiner joiner(ctx, geo, layout);
        if (!joiner.open()) return;
        joiner.setBlockUnits(blockUnits);
        for (std::size_t k; !stop && (k = next++) < damaged.size();) {
            if (joiner.join(damaged[k])) ++joined;
            if (!answers) continue;
            ctx.ui.yield();
            if (ctx.ui.stopRequested()) stop = true;
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(scan::HelperThreads(), damaged.size() - 1);
    std::vector<std::thread> threads;
    for (std::size_t h = 0; h < helpers; ++h) threads.emplace_back(work, false);
    work(true);
    for (auto& t : threads) t.join();
    return joined;
}

}  // namespace hx::reassembly
