// Where a clip's next piece lies: looked for over the medium where its
// samples stop being in place, the boundary it starts at told by the NAL
// lengths and, where they fit more than one way, by the pictures decoded.
#include <algorithm>
#include <optional>

#include "formats/codecs/PicturesDecode.h"
#include "reassembly/ClipPieces.h"

namespace hx::reassembly::pieces {

bool Clip::placeIndex(std::uint64_t at, std::uint64_t unit) {
    const std::uint64_t c = at / unit_;
    if (c >= map_.size()) return false;
    if (map_[c] == unit) {
        indexInPlace_ = at;
        return true;
    }
    std::vector<std::uint64_t> fitting;
    decodedPictures_ = 0;
    const Placed p = placed();
    const std::uint64_t first = firstBoundary(c);
    const std::uint64_t free = first <= c ? freeBack(unit, c - first + 1) : 0;
    for (std::uint64_t b = first; b <= c && fitting.size() <= kMaxFitting; b += block_)
        if (unit >= c - b && (unit - (c - b)) % block_ == map_[0] % block_ && placeable(p, b, unit - (c - b), c, free))
            fitting.push_back(b);
    // The last pictures before the index tell where their piece ends.
    if (fitting.size() > 1) fitting = decodedBoundaries(fitting, unit, first, at, c);
    if (fitting.size() != 1) return false;
    const std::uint64_t taken = fitting.front();
    map_.placeFrom(taken, unit - (c - taken));
    ++pieces_;
    indexInPlace_ = at;
    return true;
}

void Clip::placeFrom(std::uint64_t cluster, std::uint64_t unit) {
    if (cluster >= map_.size()) return;
    map_.placeFrom(cluster, unit);
    ++pieces_;
}

template <class Glance, class Fits, class Choose>
bool Clip::nearestPlace(std::uint64_t cluster, std::size_t most, bool budgeted, Glance glance, Fits fits, Choose choose) {
    const std::uint64_t first = firstBoundary(cluster);
    if (first > cluster || cluster >= map_.size()) return false;
    const std::uint64_t endUnit = geo_.endUnit();
    const std::uint64_t around = map_[first - 1];
    const Placed p = placed();
    // The places passed over for want of a boundary that decodes share one
    // budget of pictures: a piece that is gone is not decoded for at every
    // unit that happens to fit.
    decodedPictures_ = 0;
    // In blocks, `cluster` lies where the clip's start would put it in a block.
    const std::uint64_t phase = (map_[0] + cluster) % block_;
    for (std::uint64_t k = 1; k < endUnit && (!budgeted || decodedPictures_ <= kMaxDecodedForAll) && search_.goOn(k, endUnit);
         ++k) {
        const std::uint64_t q = (around + k) % endUnit;  // where `cluster` would lie
        if (q % block_ != phase || others_.taken(q) || !glance(q)) continue;  // placeable() would have none of it
        // The boundaries: where the piece before ends is known only when
        // one boundary alone fits (others' finds rule the rest out).
        std::vector<std::uint64_t> fitting;
        const std::uint64_t free = freeBack(q, cluster - first + 1);
        for (std::uint64_t b = first; b <= cluster && fitting.size() < most; b += block_) {
            if (q < cluster - b) continue;
            const std::uint64_t m = q - (cluster - b);
            if (!placeable(p, b, m, cluster, free)) continue;
            from_ = b;
            next_ = m;
            if (fits()) fitting.push_back(b);
            from_ = map_.size();
        }
        if (!fitting.empty()) fitting = choose(std::move(fitting), q, first);
        if (fitting.empty()) continue;
        // Two boundaries that fit tell nothing.
        if (fitting.size() > 1) return false;
        const std::uint64_t m = q - (cluster - fitting.front());
        map_.placeFrom(fitting.front(), m);
        return true;
    }
    return false;
}

bool Clip::findPiece(std::size_t s, std::uint64_t bad) {
    const Sample& sample = samples_[s];
    const std::size_t n = looked(sample, bad);
    std::vector<std::uint8_t> bytes(n);
    // A read that runs on into the next cluster may have met the next piece
    // there: the boundaries go on to that cluster, which is looked for, the
    // read's bytes before it where they lie or just before it.
    const std::uint64_t cluster = (bad + n - 1) / unit_;
    const std::size_t head = static_cast<std::size_t>(cluster * unit_ > bad ? cluster * unit_ - bad : 0);
    const std::uint64_t before = head > 0 ? map_[bad / unit_] : 0;
    return nearestPlace(
        cluster, kMaxFitting + 1, false,
        [&](std::uint64_t q) {
            if (head == 0)
                return medium_.readAt(geo_.byteOf(q) + bad % unit_, bytes.data(), n) == n && fits(sample, bad, bytes.data(), n);
            if (medium_.readAt(geo_.byteOf(q), bytes.data() + head, n - head) != n - head) return false;
            for (const std::uint64_t at : {before, q - 1})  // (q - 1 wraps past the medium's end at 0)
                if (at < geo_.endUnit() && medium_.readAt(geo_.byteOf(at) + bad % unit_, bytes.data(), head) == head &&
                    fits(sample, bad, bytes.data(), n))
                    return true;
            return false;
        },
        [&] { return confirms(s, bad); },
        // Where the lengths fit more than one way (clusters that lie wholly
        // inside one picture), the pictures decode one way only, or none is
        // taken. None decoding rules this place out (a sound frame's start
        // that fits by chance). Where one alone fits, the picture it cuts
        // through must still decode, where that is cheap to tell: a piece
        // that lies wholly inside it would be missing.
        [&](std::vector<std::uint64_t> fitting, std::uint64_t q, std::uint64_t first) {
            if (fitting.size() > 1) return decodedBoundaries(fitting, q, first, bad, cluster);
            return cutPictureDecodes(fitting.front(), q - (cluster - fitting.front())) ? fitting
                                                                                        : std::vector<std::uint64_t>{};
        });
}

const Sample* Clip::lastPicture() const {
    for (auto at = samples_.rbegin(); at != samples_.rend(); ++at)
        if (at->kind == Sample::Kind::Nal && at->track < tracks_.size()) return &*at;
    return nullptr;
}

std::uint32_t Clip::runStart(const formats::IsoTrack& track, std::uint32_t number) {
    if (!track.syncListed) return number;  // every picture needs none before it
    std::uint32_t sync = 0;
    for (std::uint32_t n : track.syncSamples)
        if (n >= 1 && n - 1 <= number) sync = std::max(sync, n - 1);
    return sync;
}

bool Clip::lastPictureShown() {
    const Sample* last = lastPicture();
    if (!last || lastGood_ == 0 || lastGood_ >= last->end() || (last->end() - 1) / unit_ == (lastGood_ - 1) / unit_)
        return true;
    if (indexInPlace_ != kGood && indexInPlace_ / unit_ <= (last->end() - 1) / unit_ + 1) return true;
    // Pictures that cannot be decoded here (another codec, or too long a
    // run of them to decode) tell nothing: they are taken as they lie.
    const formats::IsoTrack& track = tracks_[last->track];
    if (!formats::CanDecodePictures(track.codec, track.codecConfig) || last->number - runStart(track, last->number) > kMaxDecoded)
        return true;
    // Asked again with the clusters placed as they were, it is not decoded again.
    if (lastShown_ && lastShown_->runs == map_.runs() && lastShown_->size == map_.size() && lastShown_->lastGood == lastGood_)
        return lastShown_->shown;
    decodedPictures_ = 0;
    const bool shown = picturesDecode(lastGood_, last->end());
    lastShown_ = LastShown{map_.runs(), map_.size(), lastGood_, shown};
    return shown;
}

bool Clip::findLastPiece() {
    const Sample* last = lastPicture();
    if (!last || lastGood_ == 0) return false;
    const std::size_t after = static_cast<std::size_t>(last - samples_.data()) + 1;  // sound after it
    const std::uint64_t cluster = (last->end() - 1) / unit_;
    const bool found = nearestPlace(
        cluster, kMaxFitting + 1, true, [](std::uint64_t) { return true; },
        [&] {
            for (std::size_t s = after; s < samples_.size(); ++s)
                if (check(samples_[s]) != kGood) return false;
            return trailingSoundFault() == kGood && picturesDecode(lastGood_, last->end());
        },
        [&](std::vector<std::uint64_t> clean, std::uint64_t q, std::uint64_t) {
            return readToTheirEnd(std::move(clean), q, cluster);
        });
    if (found) ++pieces_;
    return found;
}

std::uint64_t Clip::firstBoundary(std::uint64_t last) const {
    const std::uint64_t own = std::max<std::uint64_t>(1, (lastGood_ + unit_ - 1) / unit_);
    const std::uint64_t back = last - std::min(last, kMaxBoundaries * block_);
    return (std::max(own, back) + block_ - 1) / block_ * block_;
}

Clip::Placed Clip::placed() const {
    Placed p;
    const std::uint64_t kept = std::max<std::uint64_t>(1, (lastGood_ + unit_ - 1) / unit_);
    p.firstHeld = map_.size();
    p.runs = map_.runs();
    for (std::size_t r = 0; r < p.runs.size(); ++r) {
        const std::uint64_t from = std::max(kept, p.runs[r].first);
        const std::uint64_t to = r + 1 < p.runs.size() ? p.runs[r + 1].first : map_.size();
        if (from >= to) continue;
        const std::uint64_t at = p.runs[r].second + (from - p.runs[r].first);
        const std::uint64_t claimed = others_.firstClaimed(at, at + (to - from));
        if (claimed < at + (to - from)) {
            p.firstHeld = from + (claimed - at);
            break;
        }
    }
    return p;
}

std::vector<std::uint64_t> Clip::decodedBoundaries(const std::vector<std::uint64_t>& fitting, std::uint64_t q,
                                                   std::uint64_t first, std::uint64_t bad, std::uint64_t badCluster) {
    if (tracks_.empty() || fitting.size() > kMaxFitting) return fitting;
    // The pictures before `bad` tell the boundary, which lies before it; one
    // that starts there may run on past the next piece's end as well, where
    // every boundary tried reads other bytes. It is decoded only where none
    // lies before.
    const std::uint64_t hi = pictureIn(first * unit_, bad) ? bad : (badCluster + 1) * unit_;
    // Of the boundaries that pass what is cheap to tell, those whose last
    // picture reads its bytes to their end are decoded from the sync sample
    // first, and the others only where none of those decodes.
    std::vector<std::uint64_t> toEnd, endsShort;
    bool allTold = true;  // of each, alone
    for (std::uint64_t b : fitting) {
        from_ = b;
        next_ = q - (badCluster - b);
        // The samples that start after the boundary, before the read, are
        // where the index says as they would lie (an AAC frame between two
        // pictures starts as one does), and uncompressed sound between the
        // pictures sounds like sound: another file's bytes told without a decode.
        bool sounds = true;
        for (auto at = firstIn(first * unit_); sounds && at != samples_.end() && at->offset < bad; ++at)
            sounds = soundFault(*at, first * unit_, bad) == kGood && (at->offset < b * unit_ || check(*at) == kGood);
        // Each picture decoded alone, where a fault the decoder meets names
        // its macroblock: many boundaries are ruled out without decoding the
        // pictures before it.
        if (sounds && picturesDecodeAlone(first * unit_, hi)) {
            const std::optional<bool> short_ = cutPictureEndsShort(b, true);
            allTold = allTold && short_.has_value();
            (short_.value_or(false) ? endsShort : toEnd).push_back(b);
        }
        from_ = map_.size();
    }
    const auto decoded = [&](const std::vector<std::uint64_t>& boundaries) {
        std::vector<std::uint64_t> clean;
        for (std::uint64_t b : boundaries) {
            from_ = b;
            next_ = q - (badCluster - b);
            if (picturesDecode(first * unit_, hi)) clean.push_back(b);
            from_ = map_.size();
        }
        return clean;
    };
    // One boundary alone to decode, while following the samples: its run
    // is decoded once for every piece up to the next sync picture.
    const std::vector<std::uint64_t>& nearest = toEnd.empty() ? endsShort : toEnd;
    if (deferring_ && nearest.size() == 1) {
        owed_.from = std::min(owed_.from, first * unit_);
        owed_.to = std::max(owed_.to, hi);
        ++owed_.pieces;
        return nearest;
    }
    // Where the decoder says nothing of another file's bytes, each way's
    // pictures are decoded once, and looked at.
    std::vector<std::uint64_t> ways = toEnd;
    ways.insert(ways.end(), endsShort.begin(), endsShort.end());
    if (std::optional<std::vector<std::uint64_t>> looked = byLooks(ways, q, badCluster, first * unit_, hi))
        return decodedPictures_ > kMaxDecodedForAll ? fitting : *looked;
    std::vector<std::uint64_t> clean = decoded(toEnd);
    if (clean.empty()) clean = decoded(endsShort);
    // Too many pictures to decode, for this piece, tells nothing.
    if (decodedPictures_ > kMaxDecodedForAll) return fitting;
    // Where each picture's end was told alone, it is not told again.
    return allTold ? clean : readToTheirEnd(std::move(clean), q, badCluster);
}

std::optional<std::vector<std::uint64_t>> Clip::byLooks(const std::vector<std::uint64_t>& ways, std::uint64_t q,
                                                        std::uint64_t cluster, std::uint64_t lo, std::uint64_t hi) {
    // The last picture there, and the first, which the ways may differ from on.
    const Sample* last = nullptr;
    std::uint32_t differs = UINT32_MAX;
    for (auto at = firstIn(lo); at != samples_.end() && at->offset < hi; ++at)
        if (at->kind == Sample::Kind::Nal && at->track < tracks_.size()) {
            if (!last || at->number > last->number) last = &*at;
            differs = std::min(differs, at->number);
        }
    if (!last || ways.size() < 2 || ways.size() > kMaxFitting) return std::nullopt;
    const formats::IsoTrack& track = tracks_[last->track];
    if (formats::FaultsNameTheirBlock(track.codec) || !formats::CanDecodePictures(track.codec, track.codecConfig))
        return std::nullopt;
    // A picture is looked at beside the one shown before it: decoded from
    // the run the first that differs is in. Where that one starts its run,
    // the picture shown before it is the run before's last, the same in
    // every way, decoded once. Where a picture decoded was not shown (one
    // that leads its run, shown before its sync picture, decodes only after
    // the run before; told by the first way that decodes, the same for
    // all), each way is decoded from the run before.
    std::uint32_t start = runStart(track, differs);
    std::optional<formats::Brightness> shownBefore;
    bool fromRunBefore = start == 0;
    if (start > 0 && start == differs) {
        std::vector<std::vector<std::uint8_t>> before;
        if (!readPictures(last->track, runStart(track, start - 1), start - 1, before)) return ways;  // tells nothing
        const std::optional<formats::PicturesSeen> shown =
            formats::PicturesShown(track.codec, track.codecConfig, before, before.size());
        if (!shown || shown->brightness.empty()) return std::nullopt;
        shownBefore = shown->brightness.back();
    }
    // A way whose pictures were not decoded to their last block (another
    // file's bytes ended a slice early) is not the clip's, where another's
    // was: its looks are not kept once one way is whole.
    struct Way {
        std::uint64_t boundary;
        formats::PicturesSeen shown;
    };
    std::vector<Way> decoding;
    bool anyWhole = false;
    for (std::size_t k = 0; k < ways.size(); ++k) {
        const std::uint64_t b = ways[k];
        from_ = b;
        next_ = q - (cluster - b);
        std::vector<std::vector<std::uint8_t>> pictures;
        const bool read = readPictures(last->track, start, last->number, pictures);
        std::optional<formats::PicturesSeen> shown;
        if (read) shown = formats::PicturesShown(track.codec, track.codecConfig, pictures, differs - start, anyWhole);
        from_ = map_.size();
        if (!read) return ways;  // tells nothing
        if (!shown) continue;
        if (decoding.empty() && !fromRunBefore && !shown->allShown) {
            fromRunBefore = true;
            shownBefore.reset();
            start = runStart(track, start - 1);
            --k;
            continue;
        }
        if (shownBefore) shown->brightness.insert(shown->brightness.begin(), *shownBefore);
        if (anyWhole && !shown->whole) shown->brightness.clear();
        if (shown->whole && !anyWhole) {
            anyWhole = true;
            for (Way& w : decoding) w.shown.brightness.clear();
        }
        decoding.push_back({b, std::move(*shown)});
    }
    if (anyWhole)
        decoding.erase(std::remove_if(decoding.begin(), decoding.end(), [](const Way& w) { return !w.shown.whole; }),
                       decoding.end());
    std::vector<std::uint64_t> boundaries;
    std::vector<std::vector<formats::Brightness>> looks;
    for (Way& w : decoding) {
        boundaries.push_back(w.boundary);
        looks.push_back(std::move(w.shown.brightness));
    }
    if (boundaries.size() < 2) return boundaries;
    const std::optional<std::size_t> way = formats::SmoothestWay(looks);
    return way ? std::vector<std::uint64_t>{boundaries[*way]} : boundaries;
}

std::vector<std::uint64_t> Clip::readToTheirEnd(std::vector<std::uint64_t> clean, std::uint64_t q, std::uint64_t cluster) {
    if (clean.size() < 2) return clean;
    std::vector<std::uint64_t> kept;
    for (std::uint64_t b : clean) {
        from_ = b;
        next_ = q - (cluster - b);
        if (!*cutPictureEndsShort(b)) kept.push_back(b);
        from_ = map_.size();
    }
    return kept.empty() ? clean : kept;
}

std::vector<Sample>::const_iterator Clip::firstIn(std::uint64_t lo) const {
    // The samples are in file order, one after another: those in [lo, hi)
    // are a run of them, from the one that starts before lo and runs into it.
    auto at = std::lower_bound(samples_.begin(), samples_.end(), lo,
                               [](const Sample& x, std::uint64_t offset) { return x.offset < offset; });
    if (at != samples_.begin() && std::prev(at)->end() > lo) --at;
    return at;
}

bool Clip::pictureIn(std::uint64_t lo, std::uint64_t hi) const {
    for (auto at = firstIn(lo); at != samples_.end() && at->offset < hi; ++at)
        if (at->kind == Sample::Kind::Nal && at->track < tracks_.size()) return true;
    return false;
}

bool Clip::picturesDecode(std::uint64_t lo, std::uint64_t hi) const {
    std::vector<std::vector<std::uint32_t>> inRange(tracks_.size());  // numbers of the samples there
    for (auto at = firstIn(lo); at != samples_.end() && at->offset < hi; ++at)
        if (at->kind == Sample::Kind::Nal && at->track < tracks_.size()) inRange[at->track].push_back(at->number);
    bool any = false;
    for (std::size_t t = 0; t < tracks_.size(); ++t) {
        if (inRange[t].empty()) continue;
        const formats::IsoTrack& track = tracks_[t];
        const auto [low, high] = std::minmax_element(inRange[t].begin(), inRange[t].end());
        const std::uint32_t from = runStart(track, *low);
        std::vector<std::vector<std::uint8_t>> pictures;
        if (!readPictures(t, from, *high, pictures) || !formats::PicturesDecode(track.codec, track.codecConfig, pictures))
            return false;
        any = true;
    }
    return any;
}

std::optional<bool> Clip::cutPictureEndsShort(std::uint64_t b, bool aloneOnly) const {
    const std::uint64_t at = b * unit_;
    auto after = std::upper_bound(samples_.begin(), samples_.end(), at,
                                  [](std::uint64_t v, const Sample& s) { return v < s.offset; });
    // The last picture before the boundary: the one it cuts through, or
    // one that ends before it in the clusters kept in place, whose bytes
    // may be another file's too.
    const Sample* last = nullptr;
    for (auto k = after; k != samples_.begin() && !last;) {
        --k;
        if (k->end() <= lastGood_) return false;  // all shown to be its own
        if (k->kind == Sample::Kind::Nal && k->track < tracks_.size()) last = &*k;
    }
    if (!last) return false;
    const Sample& picture = *last;
    const formats::IsoTrack& track = tracks_[picture.track];
    std::vector<std::vector<std::uint8_t>> pictures;
    // Alone where the codec tells so, else from its sync sample.
    if (readPictures(picture.track, picture.number, picture.number, pictures))
        if (const auto alone = formats::PictureDecodesAloneWithoutItsEnd(track.codec, track.codecConfig, pictures.front()))
            return *alone;
    if (aloneOnly) return std::nullopt;
    pictures.clear();
    return readPictures(picture.track, runStart(track, picture.number), picture.number, pictures) &&
           formats::PicturesDecodeWithoutTheirEnd(track.codec, track.codecConfig, std::move(pictures));
}

bool Clip::picturesDecodeAlone(std::uint64_t lo, std::uint64_t hi) const {
    for (auto at = firstIn(lo); at != samples_.end() && at->offset < hi; ++at)
        if (at->kind == Sample::Kind::Nal && at->track < tracks_.size()) {
            const formats::DecodedSoFar so = decodedSoFar(*at, ~0ull, 1, false, true);
            if (so.told && !so.whole) return false;
        }
    return true;
}

bool Clip::readPictures(std::size_t t, std::uint32_t from, std::uint32_t to,
                        std::vector<std::vector<std::uint8_t>>& pictures) const {
    if (to - from > kMaxDecoded || (decodedPictures_ += to - from + 1) > kMaxDecodedForAll) return false;
    std::uint64_t bytes = 0;
    for (std::uint32_t n = from; n <= to; ++n) {
        const Sample* sample = n < byNumber_[t].size() && byNumber_[t][n] != kNoSample ? &samples_[byNumber_[t][n]] : nullptr;
        if (!sample || (bytes += sample->size) > kMaxDecodedBytes) return false;
        pictures.emplace_back(static_cast<std::size_t>(sample->size));
        if (!read(sample->offset, sample->size, pictures.back().data())) return false;
    }
    return true;
}

std::uint64_t Clip::freeBack(std::uint64_t q, std::uint64_t most) const {
    std::uint64_t n = 0;
    while (n < most && n <= q && !others_.taken(q - n)) ++n;
    return n;
}

bool Clip::placeable(const Placed& p, std::uint64_t b, std::uint64_t m, std::uint64_t badCluster, std::uint64_t free) const {
    if (p.firstHeld < b) return false;
    // The clusters kept in place before b lie on the medium: the piece
    // before may end at its end (where a card's allocation wrapped).
    if (b > 0 && map_[b - 1] >= geo_.endUnit()) return false;
    const std::uint64_t last = m + (badCluster - b);
    if (last >= geo_.endUnit() || badCluster - b >= free) return false;
    // The clip's own clusters before b lie in none of units m..last.
    for (std::size_t r = 0; r < p.runs.size() && p.runs[r].first < b; ++r) {
        const std::uint64_t end = r + 1 < p.runs.size() ? std::min(p.runs[r + 1].first, b) : b;
        const std::uint64_t from = p.runs[r].second, to = from + (end - p.runs[r].first);  // units [from, to)
        if (from <= last && m < to) return false;
    }
    return true;
}

bool Clip::confirms(std::size_t s, std::uint64_t bad) {
    const std::uint64_t reach = std::min(size_, (bad / unit_ + 2) * unit_);
    bool video = false;
    std::size_t k = s;
    for (; k < samples_.size() && (k == s || samples_[k].offset < reach || !video); ++k) {
        if (check(samples_[k]) != kGood) return false;
        video |= samples_[k].kind == Sample::Kind::Nal;
    }
    return video || k == samples_.size();
}

}  // namespace hx::reassembly::pieces
