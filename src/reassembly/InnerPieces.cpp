// The pieces of a clip that lie wholly inside one of its pictures: no sample
// starts in them, so neither the samples' lengths nor a place's first bytes
// tell where they are. Where the picture's coding lets a decoder tell where
// another file's bytes begin, each is found by how far the picture decodes
// with it, and kept only when the picture decodes whole.
#include <algorithm>

#include "reassembly/ClipPieces.h"

namespace hx::reassembly::pieces {

namespace {

// Macroblocks a place must take the picture's decode further than the
// bytes in place do, and the noises tried after its first block where the
// decoder does not say where it gave up.
constexpr std::uint32_t kGain = 2;
constexpr std::uint32_t kNoises = 3;
// Boundaries tried for where the bytes in place stop being the picture's,
// for each piece: around the first past the block the decoder gave up in.
constexpr std::size_t kEnds = 4;
// Pictures decoded alone to look for the pieces inside one, at most, and
// for one of them (a piece taken by chance is taken back when no other can
// follow it, within this).
constexpr std::uint64_t kMaxInnerDecoded = 2048;
constexpr std::uint64_t kMaxStepDecoded = 256;
// Two decodes that end alike: where the decoder gave up, or that it did
// without saying where (another file's bytes read as a skip past the
// picture's end, whose bits then do not end with it).
bool same(const formats::DecodedSoFar& x, const formats::DecodedSoFar& y) {
    return x.told == y.told && x.whole == y.whole && x.blocks == y.blocks;
}
// Pieces inside one picture, at most.
constexpr int kMaxInner = 64;

}  // namespace

formats::DecodedSoFar Clip::decodedSoFar(const Sample& picture, std::uint64_t cut, std::uint32_t noise, bool afterSync,
                                         bool anyCoding) const {
    // A picture's macroblocks are read without the pictures it refers to
    // (only how far its bits decode is asked), unless its slices' headers
    // name them.
    const formats::IsoTrack& track = tracks_[picture.track];
    std::vector<std::vector<std::uint8_t>> pictures;
    const std::uint32_t from = afterSync ? runStart(track, picture.number) : picture.number;
    if (!readPictures(picture.track, from, picture.number, pictures)) return {};
    const std::uint64_t within = std::max(cut, picture.offset) - picture.offset;
    return formats::PicturesDecodeSoFar(track.codec, track.codecConfig, std::move(pictures),
                                        within >= picture.size ? SIZE_MAX : static_cast<std::size_t>(within), noise,
                                        anyCoding);
}

bool Clip::cutPictureDecodes(std::uint64_t b, std::uint64_t m) {
    from_ = b;
    next_ = m;
    const bool clean = picturesDecodeAlone(b * unit_, b * unit_ + 1);
    from_ = map_.size();
    return clean;
}

bool Clip::findLastInnerPieces() {
    const Sample* last = lastPicture();
    return last && findInnerPieces(static_cast<std::size_t>(last - samples_.data()) + 1);
}

bool Clip::findInnerPieces(std::size_t s) {
    const Sample* picture = nullptr;
    for (std::size_t k = s; k-- > 0 && !picture;)
        if (samples_[k].kind == Sample::Kind::Nal && samples_[k].track < tracks_.size()) picture = &samples_[k];
    if (!picture || lastGood_ <= picture->offset || lastGood_ >= picture->end()) return false;
    const std::uint64_t lastCluster = (picture->end() - 1) / unit_;
    // A piece starts on a block, after the cluster the last length read lies in.
    std::uint64_t known = ((lastGood_ + unit_ - 1) / unit_ + block_ - 1) / block_ * block_;
    if (known == 0 || known > lastCluster) return false;
    decodedPictures_ = 0;
    bool afterSync = false;
    formats::DecodedSoFar now = decodedSoFar(*picture);
    if (!now.told && !now.whole) {
        // A slice's header that names pictures before it, or another file's
        // bytes read as a skip past the picture's end: after its sync sample,
        // the one tells.
        const formats::DecodedSoFar run = decodedSoFar(*picture, ~0ull, 1, true);
        if (run.told || run.whole) {
            now = run;
            afterSync = true;
        }
    }
    if (now.whole) return false;
    const ClusterMap saved = map_;
    const std::uint64_t endUnit = geo_.endUnit();
    const auto spent = [&] { return decodedPictures_ > kMaxInnerDecoded; };
    // One piece looked for: the state it starts from, the boundaries it
    // tries, and how far its search has come (a piece taken by chance is
    // taken back when none can follow it, and the search goes on).
    struct Step {
        ClusterMap map;
        formats::DecodedSoFar now;
        std::uint64_t known = 0;
        std::vector<std::uint64_t> ends;
        std::uint64_t around = 0, k = 1;
        std::uint64_t used = 0;  // the pictures decoded for it
    };
    const auto begin = [&](Step& step) {
        step.map = map_;
        step.now = now;
        step.known = known;
        // Where the bytes in place stop being the picture's: noise from a
        // boundary past the block the decoder gave up in changes nothing
        // (it gives up in the same macroblock), and the first such boundary
        // is found by halves. Another file's bytes begin at it, or at the
        // next where that macroblock runs on into it, or up to two blocks
        // before it, where they read as picture data a while.
        std::uint64_t lo = known, hi = lastCluster + 1;
        while (lo < hi && !spent()) {
            const std::uint64_t a = std::max(lo, (lo + (hi - lo) / 2) / block_ * block_);
            // A decode that gave up without saying where is met by chance
            // more often: noises must all meet it.
            bool alike = true;
            for (std::uint32_t noise = 1; noise <= (now.told ? 1 : kNoises) && alike; ++noise)
                alike = same(decodedSoFar(*picture, a * unit_, noise, afterSync), now);
            if (alike)
                hi = a;
            else
                lo = a + block_;
        }
        for (std::uint64_t a = std::min(hi + block_, lastCluster / block_ * block_); a >= known && step.ends.size() < kEnds;
             a -= block_)
            step.ends.push_back(a);
        // Nearest first after the piece before: a camera fills a card's holes in turn.
        if (!step.ends.empty()) step.around = map_[step.ends.back() - 1];
    };
    // The next place for the step's piece, taken; false when none is left.
    const auto next = [&](Step& step) {
        const Placed p = placed();
        const std::uint64_t before = decodedPictures_;
        struct Count {
            Step& step;
            const std::uint64_t& decoded;
            std::uint64_t before;
            ~Count() { step.used += decoded - before; }
        } count{step, decodedPictures_, before};
        for (; !step.ends.empty() && step.k < endUnit && step.used + (decodedPictures_ - before) <= kMaxStepDecoded &&
               !spent() && search_.goOn(step.k, endUnit);
             ++step.k) {
            const std::uint64_t r = (step.around + step.k) % endUnit;
            if (others_.taken(r)) continue;
            for (std::size_t e = 0; e < step.ends.size(); ++e) {
                const std::uint64_t a = step.ends[e];
                if (r == map_[a] || r % block_ != (map_[0] + a) % block_ || !placeable(p, a, r, a, 1)) continue;
                from_ = a;
                next_ = r;
                // Another file's bytes may decode a few macroblocks on (one
                // that says the next dozen are skipped costs a few bits): the
                // place's bytes must take the picture further than those in
                // place, and be decoded past the middle of its first block,
                // where noise from there on stops the decode sooner.
                // Where the decoder gave up without saying where (bytes read
                // as a skip past the picture's end), the place's first block
                // is judged alone, with noise after it (one of a few that it
                // says it gave up in).
                const formats::DecodedSoFar tried = decodedSoFar(*picture, ~0ull, 1, afterSync);
                formats::DecodedSoFar judged = tried;
                for (std::uint32_t noise = 1; noise <= kNoises && !judged.told && !judged.whole; ++noise)
                    judged = decodedSoFar(*picture, (a + block_) * unit_, noise, afterSync);
                const bool further =
                    tried.whole ||
                    (judged.told && judged.blocks >= step.now.blocks + kGain &&
                     decodedSoFar(*picture, a * unit_ + block_ * unit_ / 2, 1, afterSync).blocks < judged.blocks);
                from_ = map_.size();
                if (!further) continue;
                map_.placeFrom(a, r);
                now = tried;
                known = a + block_;
                ++step.k;
                return true;
            }
        }
        return false;
    };
    std::vector<Step> steps(1);
    begin(steps.back());
    while (!now.whole && !steps.empty() && !spent()) {
        Step& step = steps.back();
        map_ = step.map;
        now = step.now;
        known = step.known;
        if (!next(step)) {
            steps.pop_back();
            continue;
        }
        if (now.whole || steps.size() >= kMaxInner || pieces_ + static_cast<int>(steps.size()) >= kMaxPieces) continue;
        steps.emplace_back();
        begin(steps.back());
    }
    const int inner = static_cast<int>(steps.size());
    // The picture decoded alone says nothing of the pictures it refers to:
    // the pieces stand when it decodes with them too (a budget of its own).
    decodedPictures_ = 0;
    if (!now.whole || !picturesDecode(picture->offset, picture->end())) {
        map_ = saved;
        return false;
    }
    pieces_ += inner;
    // The picture is the clip's own to its end: a piece after it starts
    // past it.
    lastGood_ = std::max(lastGood_, picture->end());
    return true;
}

}  // namespace hx::reassembly::pieces
