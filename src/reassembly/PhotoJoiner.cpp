#include "reassembly/PhotoJoiner.h"

#include <fstream>
#include <set>

#include "formats/JpegSegments.h"
#include "formats/PhotoParts.h"
#include "formats/PictureCheck.h"
#include "reassembly/JoinedPhotoParts.h"
#include "reassembly/PhotoJoinerLimits.h"
#include "viewing/ThumbnailAgreement.h"

namespace hx::reassembly::photos {
namespace {

using namespace limits;

// Decodes cleanly up to where its data ends (a probe runs out there).
bool cleanTo(const std::vector<std::uint8_t>& bytes, std::size_t joinAt) {
    const formats::JpegCheck c = formats::CheckJpegBuffer(bytes.data(), bytes.size());
    if (!c.decodes) return false;
    if (c.complete && c.warnings == 0) return true;
    // Running out of data shows as a fault at its very end.
    return c.firstFault != ~0ull && c.firstFault > joinAt && c.firstFault + 64 >= bytes.size();
}

}  // namespace

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

Joiner::Joiner(scan::ScanContext& ctx, const scan::ScanGeometry& geo, Layout& layout)
    : ctx_(ctx), geo_(geo), unit_(geo.unitBytes()), layout_(layout) {}

bool Joiner::open() {
    // What the scan could not read is not read again.
    return salvaged_.open(ctx_.drive, geo_.bytesPerSector, ctx_.unreadable);
}

bool Joiner::join(std::size_t index) {
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
    skip_ = 0;
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
    allowance_ = 0;
    looks_.clear();
    if (joinFrom(index, path, bytes, fault, f.startUnit, 1, 0)) return true;
    keepFirstPiece(f, path, bytes, fault);
    return false;
}

bool Joiner::keepJoined(scan::FoundFile& f, const fs::path& path, std::vector<std::uint8_t>& joined, std::uint64_t after,
                        int pieces) {
    // What the photo holds after its picture lies where its last piece runs on.
    TakeFollowingParts(*salvaged_, after, geo_.byteOf(geo_.endUnit()), joined, f);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(joined.data()), static_cast<std::streamsize>(joined.size()));
    if (!out.flush()) return false;
    f.size = joined.size();
    f.pieces = pieces;
    f.damaged = false;
    f.printed = false;
    tellUnreadable(f, f.size);
    return true;
}

void Joiner::tellUnreadable(scan::FoundFile& f, std::uint64_t size) {
    f.unreadableSectors = 0;
    f.firstUnreadable = 0;
    std::uint64_t from = 0, unit = f.startUnit;
    const auto piece = [&](std::uint64_t to) {
        if (to <= from) return;
        const std::uint64_t at = geo_.byteOf(unit), n = salvaged_->unreadableIn(at, to - from);
        if (n > 0 && f.unreadableSectors == 0) {
            const std::uint64_t first = salvaged_->firstUnreadableIn(at, to - from) * geo_.bytesPerSector;
            f.firstUnreadable = from + (first > at ? first - at : 0);
        }
        f.unreadableSectors += n;
    };
    for (const auto& [joint, next] : joints_) {
        piece(std::min(joint, size));
        from = joint;
        unit = next;
    }
    piece(size);
}

void Joiner::keepFirstPiece(scan::FoundFile& f, const fs::path& path, const std::vector<std::uint8_t>& bytes,
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
    tellUnreadable(f, cut);
}

bool Joiner::joinFrom(std::size_t index, const fs::path& path, const std::vector<std::uint8_t>& bytes, std::uint64_t fault,
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
    std::vector<std::size_t> restarts = restartEnds(bytes);
    restarts.erase(restarts.begin(), std::lower_bound(restarts.begin(), restarts.end(), skip_));
    std::vector<std::uint8_t> probe;
    // Second pieces whose data reads cleanly for a unit or more and then
    // goes wrong before the probe's end: pieces shorter than the probe,
    // with a third after them, or other data that happens to read for a
    // while; and those that read on to an end marker with which the
    // picture is not whole (another picture's data, or a piece with a third
    // after it). Followed last, lest the search for a third piece after
    // another picture's data spend the tries of the places still to come.
    struct Shorter {
        std::uint64_t pieceUnits, next;
        std::vector<std::uint8_t> probe;  // as read; empty for one read on to an end marker
    };
    std::vector<Shorter> shorter;
    std::size_t cutShort = 0, readToEnd = 0;  // of each kind
    for (const auto& [pieceUnits, next] : joins) {
        if (layout_.probes >= kMaxProbes || tried_ >= kProbesPerPicture + allowance_) break;
        if (pieceUnits < minUnits) continue;
        const auto joinAt = static_cast<std::size_t>(pieceUnits * unit_);
        if (depth == 0) firstJoint_ = joinAt;
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
        std::uint64_t probeFault = 0;
        if (!continues(bytes, joinAt, probe, &probeMarks, &probeFault)) {
            if (walkable_ && depth + 2 < kMaxPieces && probeFault >= joinAt + unit_ && cutShort < kShorterTried) {
                ++cutShort;
                shorter.push_back({pieceUnits, next, probe});
            }
            continue;
        }
        // The picture's end by its markers across the join, then every code up to it.
        std::vector<std::uint8_t> joined;
        joined.reserve(joinAt + probe.size() + kChunk);
        joined.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(joinAt));
        joined.insert(joined.end(), probe.begin(), probe.end());
        if (appendToEnd(joined, joinAt, next) && wholeFromProbe(joined, joinAt, probeMarks)) {
            // A whole picture with another photo's piece: not a third piece's place either.
            if (!ownThumbnail(joined)) continue;
            joints_.emplace_back(joinAt, next);
            const bool kept = keepJoined(f, path, joined, geo_.byteOf(next) + (joined.size() - joinAt), depth + 2);
            joints_.pop_back();
            return kept;
        }
        if (depth + 2 < kMaxPieces && walkable_ && readToEnd < kShorterTried) {
            ++readToEnd;
            shorter.push_back({pieceUnits, next, {}});
        }
    }
    // Each gets tries of its own for the piece after it, which the joins
    // tried before it do not get: those stop where they did.
    const int allowance = allowance_;
    for (const Shorter& s : shorter) {
        if (layout_.probes >= kMaxProbes) break;
        allowance_ = std::max(allowance_, tried_ + kShorterProbes - kProbesPerPicture);
        const auto joinAt = static_cast<std::size_t>(s.pieceUnits * unit_);
        if (depth == 0) firstJoint_ = joinAt;
        std::vector<std::uint8_t> joined(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(joinAt));
        joined.insert(joined.end(), s.probe.begin(), s.probe.end());
        // One read on to an end marker is read so again.
        if (s.probe.empty()) {
            if (!append(joined, s.next, kProbe)) continue;
            appendToEnd(joined, joinAt, s.next);
        }
        joints_.emplace_back(joinAt, s.next);
        const bool followed = nextPiece(index, path, joined, joinAt, s.next, s.pieceUnits, depth);
        joints_.pop_back();
        if (followed) {
            allowance_ = allowance;
            return true;
        }
    }
    allowance_ = allowance;
    return false;
}

bool Joiner::nextPiece(std::size_t index, const fs::path& path, const std::vector<std::uint8_t>& joined, std::size_t joinAt,
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

const ContinuationLook& Joiner::lookAt(std::uint64_t unit) {
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

std::vector<std::pair<std::uint64_t, std::uint64_t>> Joiner::runStartsFirst(
    std::vector<std::pair<std::uint64_t, std::uint64_t>> joins, std::uint64_t base) {
    std::stable_partition(joins.begin(), joins.end(), [&](const std::pair<std::uint64_t, std::uint64_t>& j) {
        const std::uint64_t split = base + j.first;
        const bool near = j.second > split && j.second - split <= kMaxGap * blockUnits_;
        return near || j.second < geo_.rootCluster + blockUnits_ || !lookAt(j.second - blockUnits_).pictureData;
    });
    return joins;
}

bool Joiner::ownThumbnail(const std::vector<std::uint8_t>& joined) const {
    // A photo's second picture is no rendering of the thumbnail before it.
    if (skip_ != 0) return true;
    // How far down the joint lies, by the MCUs the walk counted up to it (a
    // mark is kept every few hundred bytes): the first piece need not be decoded alone.
    double down = -1;
    const auto after = std::upper_bound(marks_.begin(), marks_.end(), firstJoint_,
                                        [](std::size_t at, const formats::JpegEntropy::Mark& m) { return at < m.byte; });
    if (walkable_ && entropy_.mcuCount() > 0 && after != marks_.begin())
        down = static_cast<double>(std::prev(after)->mcu) / entropy_.mcuCount();
    return viewing::CompareWithThumbnail(joined.data(), joined.size(), firstJoint_, down) != viewing::ThumbnailSays::Differs;
}

bool Joiner::endMarkerNear(const std::vector<std::uint8_t>& bytes, std::uint64_t at) {
    const std::uint64_t to = std::min<std::uint64_t>(at + 2, bytes.size());
    for (std::uint64_t i = at > 16 ? at - 16 : 0; i + 1 < to; ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9) return true;
    return false;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> Joiner::blockJoins(std::size_t index, std::uint64_t base,
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

bool Joiner::heldByAnother(std::uint64_t unit, std::size_t index) const {
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

bool Joiner::continues(const std::vector<std::uint8_t>& bytes, std::size_t joinAt, const std::vector<std::uint8_t>& probe,
               std::vector<formats::JpegEntropy::Mark>* more, std::uint64_t* fault) {
    if (!walkable_) {
        std::vector<std::uint8_t> joined(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(joinAt));
        joined.insert(joined.end(), probe.begin(), probe.end());
        return cleanTo(joined, joinAt);
    }
    const formats::JpegEntropy::Walk walk = walkAcross(bytes, joinAt, probe.data(), probe.size(), more);
    if (fault && walk.outcome == formats::JpegEntropy::Outcome::Fault && more && !more->empty())
        *fault = more->front().byte + walk.at;
    return walk.outcome == formats::JpegEntropy::Outcome::Complete ||
           walk.outcome == formats::JpegEntropy::Outcome::RanOut;
}

bool Joiner::wholeFromProbe(const std::vector<std::uint8_t>& joined, std::size_t joinAt,
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

bool Joiner::wholeAcross(const std::vector<std::uint8_t>& joined, std::size_t joinAt) {
    if (!walkable_) {
        const formats::JpegCheck whole = formats::CheckJpegBuffer(joined.data(), joined.size());
        return whole.complete && whole.warnings == 0 && whole.end == joined.size();
    }
    const formats::JpegEntropy::Walk walk = walkAcross(joined, joinAt, joined.data() + joinAt, joined.size() - joinAt);
    return walk.outcome == formats::JpegEntropy::Outcome::Complete && walk.at == tail_.size();
}

formats::JpegEntropy::Walk Joiner::walkAcross(const std::vector<std::uint8_t>& bytes, std::size_t joinAt,
                                      const std::uint8_t* second, std::size_t size,
                                      std::vector<formats::JpegEntropy::Mark>* more) {
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

std::vector<std::uint64_t> Joiner::continuations(std::size_t index, std::uint64_t from, bool far) const {
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

std::vector<std::uint64_t> Joiner::afterAnyFind(std::size_t index, std::uint64_t from) const {
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

bool Joiner::appendToEnd(std::vector<std::uint8_t>& joined, std::size_t joinAt, std::uint64_t unit) {
    formats::JpegEndFinder finder;
    std::size_t used = skip_ + finder.feed(joined.data() + skip_, joined.size() - skip_);
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

bool Joiner::append(std::vector<std::uint8_t>& out, std::uint64_t unit, std::uint64_t length) {
    const std::uint64_t available = (geo_.endUnit() - unit) * unit_;
    const auto n = static_cast<std::size_t>(std::min(length, available));
    const std::size_t at = out.size();
    out.resize(at + n);
    const std::size_t got = salvaged_->readAt(geo_.byteOf(unit), out.data() + at, n);
    out.resize(at + got);
    return got > 0;
}

}  // namespace hx::reassembly::photos
