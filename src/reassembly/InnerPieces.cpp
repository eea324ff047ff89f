// The pieces of a clip that lie wholly inside one of its pictures: no sample
// starts in them, so neither the samples' lengths nor a place's first bytes
// tell where they are. Where the picture's coding lets a decoder tell where
// another file's bytes begin, each is found by how far the picture decodes
// with it, and kept only when the picture decodes whole.
#include <algorithm>

#include "reassembly/ClipPieces.h"

namespace hx::reassembly::pieces {

namespace {

// Macroblocks a place must decode past the bytes in place to be taken for
// the next piece.
constexpr std::uint32_t kGain = 2;
// Boundaries tried for where the bytes in place stop being the picture's,
// for each piece, back from the block the decoder gave up in.
constexpr std::size_t kEnds = 3;
// Pictures decoded alone to look for the pieces inside one, at most: about
// a place a picture for each boundary tried.
constexpr std::uint64_t kMaxInnerDecoded = 1024;
// Pieces inside one picture, at most.
constexpr int kMaxInner = 64;

}  // namespace

formats::DecodedSoFar Clip::decodedSoFar(const Sample& picture, std::uint64_t cut) const {
    // A picture's macroblocks are read without the pictures it refers to:
    // only how far its bits decode is asked.
    const formats::IsoTrack& track = tracks_[picture.track];
    std::vector<std::vector<std::uint8_t>> pictures;
    if (!readPictures(picture.track, picture.number, picture.number, pictures)) return {};
    const std::uint64_t within = std::max(cut, picture.offset) - picture.offset;
    return formats::PicturesDecodeSoFar(track.codec, track.codecConfig, std::move(pictures),
                                        within >= picture.size ? SIZE_MAX : static_cast<std::size_t>(within));
}

bool Clip::cutPictureDecodes(std::uint64_t b, std::uint64_t m) {
    from_ = b;
    next_ = m;
    const bool clean = picturesDecodeAlone(b * unit_, b * unit_ + 1);
    from_ = map_.size();
    return clean;
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
    formats::DecodedSoFar now = decodedSoFar(*picture);
    if (!now.told || now.whole) return false;
    const std::vector<std::uint64_t> saved = map_;
    const std::uint64_t endUnit = geo_.endUnit();
    const auto spent = [&] { return decodedPictures_ > kMaxInnerDecoded; };
    int inner = 0;
    while (!now.whole && inner < kMaxInner && pieces_ + inner < kMaxPieces && !spent()) {
        // Where the bytes in place stop being the picture's: at the first
        // boundary from which noise decodes exactly as far as they do (the
        // decoder gives up within a macroblock or two of where another
        // file's bytes begin, and before the next boundary), or the one or
        // two before it, where noise decoded a macroblock further or less.
        std::uint64_t lo = known, hi = lastCluster + 1;  // noise from hi changes nothing
        while (lo < hi && !spent()) {
            const std::uint64_t mid = (lo + (hi - lo) / 2) / block_ * block_;
            const std::uint64_t a = std::max(lo, mid);
            if (decodedSoFar(*picture, a * unit_).blocks == now.blocks) hi = a;
            else lo = a + block_;
        }
        std::vector<std::uint64_t> ends;
        for (std::uint64_t a = std::min(hi, lastCluster / block_ * block_); a >= known && ends.size() < kEnds; a -= block_)
            ends.push_back(a);
        const Placed p = placed();
        bool found = false;
        if (!ends.empty()) {
            // Nearest first after the piece before: a camera fills a card's holes in turn.
            const std::uint64_t around = map_[ends.front() - 1];
            for (std::uint64_t k = 1; k < endUnit && !found && !spent() && search_.goOn(k, endUnit); ++k) {
                const std::uint64_t r = (around + k) % endUnit;
                if (others_.taken(r)) continue;
                for (std::uint64_t a : ends) {
                    if (r % block_ != (map_[0] + a) % block_ || !placeable(p, a, r, a, 1)) continue;
                    from_ = a;
                    next_ = r;
                    const formats::DecodedSoFar tried = decodedSoFar(*picture);
                    // Another file's bytes may decode a few macroblocks on
                    // (one that says the next dozen are skipped costs a few
                    // bits): the place's bytes must be decoded past the
                    // middle of its first block, where noise from there on
                    // stops the decode sooner.
                    const bool past = tried.told && !tried.whole && tried.blocks >= now.blocks + kGain &&
                                      decodedSoFar(*picture, a * unit_ + block_ * unit_ / 2).blocks < tried.blocks;
                    from_ = map_.size();
                    if (!tried.whole && !past) continue;
                    for (std::uint64_t i = a; i < map_.size(); ++i) map_[i] = r + (i - a);
                    now = tried;
                    known = a + block_;
                    ++inner;
                    found = true;
                    break;
                }
            }
        }
        if (!found) break;
    }
    // The picture decoded alone says nothing of the pictures it refers to:
    // the pieces stand when it decodes with them too (a budget of its own).
    decodedPictures_ = 0;
    if (!now.whole || !picturesDecode(picture->offset, picture->end())) {
        map_ = saved;
        return false;
    }
    pieces_ += inner;
    return true;
}

}  // namespace hx::reassembly::pieces
