// A photo's second picture (an MPF index's, or a gain map) whose data breaks
// where its units run on: its rest looked for as the first picture's is, or,
// where the break lies among its own headers, where they run on across it.
#include "formats/JpegSegments.h"
#include "formats/PhotoParts.h"
#include "formats/PictureCheck.h"
#include "reassembly/PhotoJoiner.h"
#include "reassembly/PhotoJoinerLimits.h"

namespace hx::reassembly::photos {

namespace {

using namespace limits;

// How a JPEG's header segments in data[0, size), from its start marker on,
// run: to its first scan, into the bytes' end, or to a place where no
// segment starts (`at`); `lastStart`, where the last one that held starts.
struct HeaderRun {
    enum Outcome { Scan, RanOut, Broken } outcome = Broken;
    std::size_t at = 0, lastStart = 0;
};

HeaderRun headersRun(const std::uint8_t* data, std::size_t size) {
    HeaderRun run;
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return run;
    std::size_t next = 2;
    formats::ForEachJpegSegment(data, size, [&](const formats::JpegSegment& s) {
        run.lastStart = s.at;
        next = s.body + s.length;
        return true;
    });
    run.at = next;
    if (next + 2 > size) run.outcome = HeaderRun::RanOut;
    else if (data[next] == 0xFF && data[next + 1] == 0xDA) run.outcome = HeaderRun::Scan;
    return run;
}

}  // namespace

bool Joiner::joinSecond(std::size_t index) {
    scan::FoundFile& f = ctx_.found[index];
    const fs::path path = ctx_.cacheFolder / f.name;
    const std::vector<std::uint8_t> head = readFile(path, kMaxPicture);
    if (f.parts.size() != 1 || head.size() != f.parts.front().length) return false;
    // The picture its MPF index names after its own, read as the find's units run on.
    formats::PhotoPart second;
    for (const formats::PhotoPart& part : formats::PartsNamedInHeaders(head.data(), head.size(), head.size()))
        if (part.kind == formats::PartKind::SecondPicture || part.kind == formats::PartKind::GainMap) {
            second = part;
            break;
        }
    if (second.length == 0 || second.end() > kMaxPicture || second.offset < head.size()) return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(second.end()));
    bytes.resize(salvaged_->readAt(geo_.byteOf(f.startUnit), bytes.data(), bytes.size()));
    if (bytes.size() <= second.offset + unit_) return false;
    // Its data walked from its own headers on, in the find's bytes; only
    // pictures the walk can follow.
    entropy_ = {};
    marks_.clear();
    skip_ = second.offset;
    walkable_ = entropy_.readHeaders(bytes.data() + skip_, bytes.size() - skip_);
    if (!walkable_) return joinSecondAcrossHeaders(index, path, bytes, second);
    formats::JpegEntropy::Mark start = entropy_.start();
    start.byte += skip_;
    const formats::JpegEntropy::Walk walk = entropy_.walk(bytes.data(), bytes.size(), start, &marks_, kMarkEvery);
    if (walk.outcome != formats::JpegEntropy::Outcome::Fault || marks_.empty()) return false;
    tried_ = 0;
    allowance_ = 0;
    looks_.clear();
    return joinFrom(index, path, bytes, walk.at, f.startUnit, start.byte / unit_ + 1, 0);
}

bool Joiner::joinSecondAcrossHeaders(std::size_t index, const fs::path& path, const std::vector<std::uint8_t>& bytes,
                                     const formats::PhotoPart& second) {
    scan::FoundFile& f = ctx_.found[index];
    const std::uint64_t from = second.offset, block = blockUnits_ * unit_;
    HeaderRun run = headersRun(bytes.data() + from, bytes.size() - from);
    if (run.outcome != HeaderRun::Broken) return false;
    // The cut lies after the start of the last segment that held, up to where they broke (a
    // length read across the cut points anywhere): the places nearest each end.
    std::vector<std::uint64_t> cuts;
    for (std::uint64_t cut = (from + run.lastStart) / block * block + block; cut <= from + run.at && cut < second.end();
         cut += block)
        cuts.push_back(cut);
    if (cuts.size() > 2 * kSplitBack) cuts.erase(cuts.begin() + kSplitBack, cuts.end() - kSplitBack);
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(second.length));
    for (const std::uint64_t cut : cuts) {
        const std::uint64_t start = f.startUnit + cut / unit_, rest = second.end() - cut;
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(cut),
                  picture.begin());
        std::size_t taken = 0;
        // The headers' first piece, copied once for every place tried.
        std::vector<std::uint8_t> head(picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(cut - from));
        const auto joins = [&](std::uint64_t next) {
            if (heldByAnother(next, index) || std::binary_search(layout_.starts.begin(), layout_.starts.end(), next) ||
                layout_.glances++ >= kMaxGlances)
                return false;
            ++taken;
            // The headers run on across the cut up to the first scan, read as far as they need...
            head.resize(static_cast<std::size_t>(cut - from));
            for (int segments = 0; segments < 256; ++segments) {
                const HeaderRun run = headersRun(head.data(), head.size());
                if (run.outcome == HeaderRun::Broken) return false;
                if (run.outcome == HeaderRun::Scan) break;
                const std::uint64_t have = head.size() - (cut - from);  // of this piece
                const std::uint64_t want =
                    std::min<std::uint64_t>(rest, std::max<std::uint64_t>(run.at + 4 - head.size(), kGlance) + have);
                if (want <= have) return false;
                head.resize(static_cast<std::size_t>(head.size() + (want - have)));
                if (salvaged_->readAt(geo_.byteOf(next) + have, head.data() + (cut - from) + have, want - have) != want - have)
                    return false;
            }
            // ...and the picture, as long as its index says, decodes whole to its end marker.
            if (salvaged_->readAt(geo_.byteOf(next), picture.data() + (cut - from), rest) != rest) return false;
            const formats::JpegCheck check = formats::CheckJpegBuffer(picture.data(), picture.size());
            return check.complete && check.warnings == 0 && check.end == picture.size();
        };
        // Nearest first after the cut, then before the photo.
        std::uint64_t found = ~0ull;
        for (std::uint64_t next = start + blockUnits_;
             found == ~0ull && next < geo_.endUnit() && (next - start) * unit_ <= kReach && taken < kMaxFarCandidates;
             next += blockUnits_)
            if (joins(next)) found = next;
        for (std::uint64_t next = f.startUnit; found == ~0ull && next >= geo_.rootCluster + blockUnits_ &&
                                               (f.startUnit - next) * unit_ < kReachBack && taken < kMaxFarCandidates;) {
            next -= blockUnits_;
            if (joins(next)) found = next;
        }
        if (found == ~0ull) continue;
        std::vector<std::uint8_t> joined(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(from));
        joined.insert(joined.end(), picture.begin(), picture.end());
        joints_.emplace_back(cut, found);
        const bool kept = keepJoined(f, path, joined, geo_.byteOf(found) + rest, 2);
        joints_.pop_back();
        return kept;
    }
    return false;
}

}  // namespace hx::reassembly::photos
