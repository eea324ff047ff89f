#pragma once
// A clip in pieces as the search for them sees it: its samples in file
// order, what other finds hold on the medium, and the clip's clusters, each
// where it lies, followed sample by sample (an H.264 or H.265 sample's NAL
// lengths fill it exactly; an AAC frame starts as one does) and, where they
// stop being in place, its next piece looked for over the whole medium.
// Used by the joiner of clips (SplitMovies) alone.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/codecs/AacFrames.h"
#include "formats/codecs/PicturesDecode.h"
#include "formats/codecs/SliceHeaders.h"
#include "formats/iso/IsoSampleTables.h"
#include "media/SalvagedMedium.h"
#include "platform/RawFile.h"
#include "scan/ScanDisk.h"
#include "scan/ScanGeometry.h"
#include "shell/Ui.h"

namespace hx::reassembly::pieces {

namespace fs = std::filesystem;
using formats::AacFrameStarts;

// Clips larger than this are taken as found.
constexpr std::uint64_t kMaxClip = 16ull << 30;
// Pieces of one clip at most: a long recording on a card of many small
// holes lies in dozens (each piece found costs a search at most).
constexpr int kMaxPieces = 64;
// Blocks of the medium (its clusters) tried for where one piece ends, back
// from where its samples stop being in place.
constexpr std::uint64_t kMaxBoundaries = 256;
// A box of a camera's own after the samples or the index, at most.
constexpr std::uint64_t kMaxTrailing = 16ull << 20;
// Boundaries that fit one piece, at most, for its pictures to choose among
// (a picture of a few hundred KiB holds a dozen clusters); and the pictures
// (and their bytes) decoded to tell one, at most, for one boundary and for all.
constexpr std::size_t kMaxFitting = 64;
constexpr std::uint32_t kMaxDecoded = 600;
constexpr std::uint64_t kMaxDecodedForAll = 4096;
constexpr std::uint64_t kMaxDecodedBytes = 256ull << 20;
// Samples shown to be in place before a clip's check is trusted to tell
// where its bytes stop being its own.
constexpr std::size_t kTrustedAfter = 16;

struct Sample {
    enum class Kind : std::uint8_t { Nal, Aac, Unchecked };
    std::uint64_t offset = 0, size = 0;  // in the file
    Kind kind = Kind::Unchecked;
    std::uint8_t lengthBytes = 0;  // of each NAL unit's length
    std::uint8_t headerBytes = 1;  // of each NAL unit's header: 1 in H.264, 2 in H.265
    std::uint32_t track = 0, number = 0;  // its track's, and its place there (from 0)
    std::uint64_t end() const { return offset + size; }
};

// Every sample of the clip's tracks in file order; empty when one lies
// outside the `mdat` or the file, or none can be checked.
inline std::vector<Sample> samplesOf(const std::vector<formats::IsoTrack>& tracks, const formats::IsoBox& mdat, std::uint64_t size) {
    std::vector<Sample> samples;
    bool checkable = false;
    for (std::uint32_t t = 0; t < tracks.size(); ++t) {
        const formats::IsoTrack& track = tracks[t];
        Sample::Kind kind = Sample::Kind::Unchecked;
        if (track.nalLengthBytes == 1 || track.nalLengthBytes == 2 || track.nalLengthBytes == 4) kind = Sample::Kind::Nal;
        else if (std::string(track.codec.data(), 4) == "mp4a") kind = Sample::Kind::Aac;
        checkable |= kind != Sample::Kind::Unchecked;
        const std::string codec(track.codec.data(), 4);
        const std::uint8_t header = codec == "hvc1" || codec == "hev1" ? 2 : 1;
        for (const formats::ChunkSpan& span : formats::ChunkSpans(track)) {
            std::uint64_t at = span.offset;
            const std::size_t first = samples.size();
            for (std::uint32_t k = 0; k < span.samples; ++k) {
                const std::uint64_t bytes = track.sampleSizes[span.firstSample + k];
                if (at < mdat.contents || at + bytes > mdat.end || at + bytes > size) return {};
                if (bytes > 0) samples.push_back({at, bytes, kind, track.nalLengthBytes, header, t, span.firstSample + k});
                at += bytes;
            }
            // Samples nothing checks (uncompressed sound: one per instant)
            // are kept as their chunk, lest they number millions.
            if (kind == Sample::Kind::Unchecked && samples.size() > first + 1) {
                samples[first].size = at - samples[first].offset;
                samples.resize(first + 1);
            }
        }
    }
    if (!checkable) return {};
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.offset < b.offset; });
    return samples;
}


// A search over every unit of a large medium shows how far it went, what
// it looks for, and ends at a stop.
struct Search {
    shell::Ui* ui = nullptr;
    std::string text;
    bool goOn(std::uint64_t k, std::uint64_t units) const {
        if (!ui || k % 4096 != 0) return true;
        ui->progress(static_cast<double>(k) / static_cast<double>(units), text);
        ui->yield();
        return !ui->stopRequested();
    }
};

// What other finds hold on the medium, in units: their first units, and
// the units each is known to fill (end excluded). The find that starts at
// `own` (the clip being rebuilt) is none of them. Nor are the units the
// scan saw blank (their first KiB zeros: no clip's samples are).
struct Others {
    std::vector<std::uint64_t> starts;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> held;  // sorted, not overlapping much
    std::uint64_t own = ~std::uint64_t{0};
    const scan::ScanContext::BlankUnits* blank = nullptr;
    bool blankAt(std::uint64_t unit) const { return blank && blank->has(unit); }
    // No piece of the clip can lie at `unit`.
    bool taken(std::uint64_t unit) const { return holds(unit) || starts_at(unit) || blankAt(unit); }
    bool holds(std::uint64_t unit) const {
        auto it = std::upper_bound(held.begin(), held.end(), std::make_pair(unit, ~std::uint64_t{0}));
        for (int steps = 0; it != held.begin() && steps < 4; ++steps) {
            --it;
            if (it->first != own && unit < it->second) return true;
        }
        return false;
    }
    bool starts_at(std::uint64_t unit) const {
        return unit != own && std::binary_search(starts.begin(), starts.end(), unit);
    }
};

// One clip: its clusters in file order, where each lies on the medium.
class Clip {
public:
    Clip(media::SalvagedMedium& medium, const scan::ScanGeometry& geo, const Others& others, std::uint64_t startUnit,
         std::uint64_t size, std::vector<Sample> samples, std::vector<formats::IsoTrack> tracks = {})
        : medium_(medium), geo_(geo), unit_(geo.unitBytes()), others_(others), size_(size), samples_(std::move(samples)),
          tracks_(std::move(tracks)) {
        const std::uint64_t clusters = (size_ + unit_ - 1) / unit_;
        for (std::uint64_t i = 0; i < clusters; ++i) map_.push_back(startUnit + i);
        from_ = map_.size();
        // Each video track's samples by their number, for its pictures to be decoded in order.
        byNumber_.resize(tracks_.size());
        for (std::size_t k = 0; k < samples_.size(); ++k) {
            const Sample& sample = samples_[k];
            if (sample.kind != Sample::Kind::Nal || sample.track >= tracks_.size()) continue;
            auto& all = byNumber_[sample.track];
            if (all.size() <= sample.number) all.resize(sample.number + 1, kNoSample);
            all[sample.number] = static_cast<std::uint32_t>(k);
        }
    }

    // Follows the samples as the clusters lie; with `rebuild`, where they
    // stop being there the clip's next piece is looked for. True when every
    // sample was found in place; verified() then, or else, says how far the
    // clip was shown to be its own.
    bool follow(bool rebuild) {
        for (std::size_t s = 0; s < samples_.size();) {
            const std::uint64_t bad = check(samples_[s]);
            if (bad == kGood) {
                ++checked_;
                ++s;
                continue;
            }
            // The length read before the one that does not fit may be
            // another file's bytes that happened to: the piece is looked for
            // from there too.
            const std::uint64_t before = unproven_;
            if (!rebuild || pieces_ >= kMaxPieces || (!findPiece(s, bad) && (before == kGood || !findPiece(s, before))))
                return false;
            ++pieces_;
        }
        verified_ = size_;
        return true;
    }

    // The first `bytes` of the clip as the scan found them (in one piece from
    // its start) are read from `copy`, the scan's copy of them.
    void readCopy(platform::RawFile* copy, std::uint64_t bytes) {
        copy_ = copy;
        copyBytes_ = bytes;
    }

    // The medium was written in blocks of `units` (its file system's clusters
    // when the scan's units are smaller): a piece starts and ends on them.
    void writtenInBlocks(std::uint64_t units) { block_ = std::max<std::uint64_t>(1, units); }

    // Long searches for a piece answer the window through `search`.
    void answer(const Search& search) { search_ = search; }
    int pieces() const { return pieces_; }
    std::size_t checked() const { return checked_; }
    // A NAL unit's length was read in place.
    bool anyInPlace() const { return lastGood_ > 0; }

    // The clip's index lies after its samples, from byte `at` of the file,
    // and was found at unit `unit` (at its place in the cluster): the
    // clusters from there on lie there, and so do those before it back to
    // where the last piece begins, which is after the last NAL length read
    // in place: taken when one place alone fits (others' finds rule the rest
    // out). False when none does, or the index's cluster was read elsewhere.
    bool placeIndex(std::uint64_t at, std::uint64_t unit) {
        const std::uint64_t c = at / unit_;
        if (c >= map_.size()) return false;
        if (map_[c] == unit) return true;
        std::uint64_t fitting = 0, taken = 0;
        const Placed p = placed();
        const std::uint64_t first = firstBoundary(c);
        const std::uint64_t free = first <= c ? freeBack(unit, c - first + 1) : 0;
        for (std::uint64_t b = first; b <= c && fitting < 2; b += block_)
            if (unit >= c - b && (unit - (c - b)) % block_ == map_[0] % block_ && placeable(p, b, unit - (c - b), c, free)) {
                ++fitting;
                taken = b;
            }
        if (fitting != 1) return false;
        for (std::uint64_t i = taken; i < map_.size(); ++i) map_[i] = unit - (c - taken) + (i - taken);
        ++pieces_;
        return true;
    }

    // The clusters from `cluster` on lie from `unit` on: the second piece of
    // an index found in two.
    void placeFrom(std::uint64_t cluster, std::uint64_t unit) {
        if (cluster >= map_.size()) return;
        for (std::uint64_t i = cluster; i < map_.size(); ++i) map_[i] = unit + (i - cluster);
        ++pieces_;
    }

    std::uint64_t verified() const { return verified_; }
    std::uint64_t size() const { return size_; }

    // Boxes of the camera's own after the samples (at `at`, the clip's end
    // so far) lie where its last piece runs on: the clip then ends where they do.
    void takeTrailingBoxes(std::uint64_t at) {
        if (at != size_ || map_.empty()) return;
        resize(size_ + kMaxTrailing);
        const formats::ReadAt placed = [this](std::uint64_t from, std::size_t n, std::uint8_t* out) {
            return read(from, n, out);
        };
        resize(formats::TrailingBoxesEnd(placed, at, size_, kMaxTrailing));
    }
    // What follows the clip's end where its last piece runs on and belongs
    // to the file (a phone's trailer of its own): of the `most` bytes there,
    // as many as `lengthOf` says.
    template <class LengthOf>
    void takeTrailer(std::uint64_t most, LengthOf lengthOf) {
        const std::uint64_t end = size_;
        if (map_.empty()) return;
        resize(end + most);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(most));
        const std::uint64_t n = read(end, most, bytes.data()) ? lengthOf(bytes.data(), bytes.size()) : 0;
        resize(end + std::min(n, most));
    }
    bool trusted() const { return checked_ >= kTrustedAfter; }

    // Writes the clip's first `bytes` from its pieces in place of `path`
    // (which may be the copy it reads).
    bool write(const fs::path& path, std::uint64_t bytes) {
        fs::path part = path;
        part += ".part";
        if (!writeTo(part, std::min(bytes, size_))) {
            std::error_code ec;
            fs::remove(part, ec);
            return false;
        }
        std::error_code ec;
        fs::rename(part, path, ec);
        return !ec;
    }

private:
    bool writeTo(const fs::path& path, std::uint64_t bytes) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<std::uint8_t> cluster(unit_);
        for (std::uint64_t i = 0; i < map_.size() && i * unit_ < bytes && out; ++i) {
            const std::uint64_t at = i * unit_;
            const std::uint64_t n = std::min<std::uint64_t>(unit_, bytes - at);
            if (!read(at, n, cluster.data())) return false;
            out.write(reinterpret_cast<const char*>(cluster.data()), static_cast<std::streamsize>(n));
        }
        return static_cast<bool>(out.flush());
    }

    static constexpr std::uint64_t kGood = ~0ull;

    // The clip's clusters made as many as `bytes` take, those added running
    // on from its last.
    void resize(std::uint64_t bytes) {
        const std::uint64_t clusters = (bytes + unit_ - 1) / unit_;
        while (map_.size() < clusters) map_.push_back(map_.back() + 1);
        map_.resize(clusters);
        from_ = map_.size();
        size_ = bytes;
    }

    std::uint64_t unitOf(std::uint64_t cluster) const {
        return cluster >= from_ ? next_ + (cluster - from_) : map_[cluster];
    }

    // `length` bytes of the file at `offset`, through the clusters as placed.
    bool read(std::uint64_t offset, std::uint64_t length, std::uint8_t* out) const {
        while (length > 0) {
            const std::uint64_t cluster = offset / unit_, within = offset % unit_;
            const std::uint64_t n = std::min(length, unit_ - within);
            if (cluster >= map_.size()) return false;
            const std::uint64_t unit = unitOf(cluster);
            if (unit >= geo_.endUnit()) return false;
            if (copy_ && unit == map_[0] + cluster && offset + n <= copyBytes_ && copy_->readAt(offset, out, n) == n) {
                // As the scan found it, from its copy: the card is not read again.
            } else {
                if (unit != cachedUnit_) {
                    // A cluster is read whole once: the samples' heads in it are many small reads.
                    cache_.resize(unit_);
                    cachedUnit_ = medium_.readAt(geo_.byteOf(unit), cache_.data(), unit_) == unit_ ? unit : kGood;
                }
                if (unit == cachedUnit_) std::memcpy(out, cache_.data() + within, n);
                else if (medium_.readAt(geo_.byteOf(unit) + within, out, n) != n) return false;
            }
            offset += n;
            length -= n;
            out += n;
        }
        return true;
    }

    // What is at `at` of the file, a sample's start or a NAL unit's length
    // inside it, is as the sample needs: `bytes` holds what lies there.
    static bool fits(const Sample& sample, std::uint64_t at, const std::uint8_t* bytes, std::size_t n) {
        if (sample.kind == Sample::Kind::Aac) return AacFrameStarts(bytes, n);
        const std::uint64_t lb = sample.lengthBytes, hb = sample.headerBytes;
        if (n < lb + hb) return false;
        const std::uint64_t length = formats::NalUnitLength(bytes, sample.lengthBytes, sample.headerBytes);
        return length > 0 && at + lb + length <= sample.end();
    }

    // How many bytes fits() looks at for this sample.
    static std::size_t looked(const Sample& sample, std::uint64_t at) {
        const std::uint64_t want = sample.kind == Sample::Kind::Aac ? 32 : sample.lengthBytes + sample.headerBytes;
        return static_cast<std::size_t>(std::min<std::uint64_t>(want, sample.end() - at));
    }

    // The sample's bytes are where the index says: NAL units that fill it
    // exactly, each with its forbidden bit clear, or an AAC frame that starts
    // as one does. kGood, else where in the file the first thing that is not
    // so was read. lastGood_ goes on to the end of each NAL unit's length
    // shown to be the clip's: by the next one read where it points, or by
    // the sample's end where the last one does (a length that fits alone
    // may be another file's bytes that happen to).
    std::uint64_t check(const Sample& sample) {
        if (sample.kind == Sample::Kind::Unchecked) return kGood;
        std::uint8_t head[32];
        const bool proving = from_ == map_.size() && sample.kind == Sample::Kind::Nal;
        std::uint64_t shown = 0;  // the end of the last length read, until the next one bears it out
        std::uint64_t shownAt = 0;  //   and where it was read
        if (proving) unproven_ = kGood;
        for (std::uint64_t at = sample.offset; at < sample.end();) {
            const std::size_t n = looked(sample, at);
            if (!read(at, n, head) || !fits(sample, at, head, n)) {
                if (proving && shown > lastGood_) unproven_ = shownAt;
                return at;
            }
            // An AAC frame's start is weak evidence alone: the NAL units' lengths say where the clip is its own.
            if (sample.kind == Sample::Kind::Aac) break;
            if (proving) lastGood_ = std::max(lastGood_, shown);
            shown = at + n;
            shownAt = at;
            std::uint64_t length = 0;
            for (std::uint64_t k = 0; k < sample.lengthBytes; ++k) length = length << 8 | head[k];
            at += sample.lengthBytes + length;
            if (at != sample.end() && at + sample.lengthBytes + sample.headerBytes > sample.end()) return at;
        }
        if (proving) lastGood_ = std::max(lastGood_, shown);
        return kGood;
    }

    // The read at `bad` of sample `s` is not as the clusters run on: the
    // clip goes on at a cluster boundary after the last byte shown to be its
    // own and not past `bad`, from a unit elsewhere. Units whose bytes at
    // `bad`'s place in its cluster fit are tried, nearest first (forward,
    // then from the medium's start), for each boundary; a piece is taken
    // when the samples from `s` on fit two clusters into it, and neither its
    // units nor those the clip keeps up to it are another find's.
    bool findPiece(std::size_t s, std::uint64_t bad) {
        const Sample& sample = samples_[s];
        const std::uint64_t badCluster = bad / unit_;
        const std::uint64_t first = firstBoundary(badCluster);
        if (first > badCluster || badCluster >= map_.size()) return false;
        const std::size_t n = looked(sample, bad);
        std::vector<std::uint8_t> bytes(n);
        const std::uint64_t endUnit = geo_.endUnit();
        const std::uint64_t around = map_[first - 1];
        const Placed p = placed();
        // In blocks, `bad`'s cluster lies where the clip's start would put it in a block.
        const std::uint64_t phase = (map_[0] + badCluster) % block_;
        for (std::uint64_t k = 1; k < endUnit && search_.goOn(k, endUnit); ++k) {
            const std::uint64_t q = (around + k) % endUnit;  // where `bad`'s cluster would lie
            if (q % block_ != phase || others_.taken(q)) continue;  // placeable() would have none of it
            if (medium_.readAt(geo_.byteOf(q) + bad % unit_, bytes.data(), n) != n || !fits(sample, bad, bytes.data(), n))
                continue;
            // The boundaries: where the piece before ends is known only when
            // one boundary alone fits (others' finds rule the rest out).
            std::vector<std::uint64_t> fitting;
            const std::uint64_t free = freeBack(q, badCluster - first + 1);
            for (std::uint64_t b = first; b <= badCluster && fitting.size() <= kMaxFitting; b += block_) {
                if (q < badCluster - b) continue;
                const std::uint64_t m = q - (badCluster - b);
                if (!placeable(p, b, m, badCluster, free)) continue;
                from_ = b;
                next_ = m;
                if (confirms(s, bad)) fitting.push_back(b);
                from_ = map_.size();
            }
            if (fitting.empty()) continue;
            // Where the lengths fit more than one way (clusters that lie
            // wholly inside one picture), the pictures decode one way only, or none is taken.
            const std::uint64_t taken = fitting.size() == 1 ? fitting.front() : decodedBoundary(fitting, q, first, badCluster);
            if (taken == kGood) return false;
            const std::uint64_t m = q - (badCluster - taken);
            for (std::uint64_t i = taken; i < map_.size(); ++i) map_[i] = m + (i - taken);
            return true;
        }
        return false;
    }

    // The first cluster where a piece may end before `last`, on a block's
    // start: after the last byte shown to be the clip's own, and at most
    // kMaxBoundaries blocks back. Past `last` when there is none.
    std::uint64_t firstBoundary(std::uint64_t last) const {
        const std::uint64_t own = std::max<std::uint64_t>(1, (lastGood_ + unit_ - 1) / unit_);
        const std::uint64_t back = last - std::min(last, kMaxBoundaries * block_);
        return (std::max(own, back) + block_ - 1) / block_ * block_;
    }

    // What placeable() asks of the clusters as they are placed, worked out
    // once for a search (the map does not change while it runs): the first
    // cluster kept unproven that another find holds, and the map's runs.
    struct Placed {
        std::uint64_t firstHeld = 0;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;  // first cluster of each run, its unit
    };
    Placed placed() const {
        Placed p;
        const std::uint64_t kept = std::max<std::uint64_t>(1, (lastGood_ + unit_ - 1) / unit_);
        p.firstHeld = map_.size();
        for (std::uint64_t i = kept; i < map_.size(); ++i)
            if (others_.holds(map_[i]) || others_.starts_at(map_[i])) {
                p.firstHeld = i;
                break;
            }
        for (std::uint64_t i = 0; i < map_.size(); ++i)
            if (i == 0 || map_[i] != map_[i - 1] + 1) p.runs.emplace_back(i, map_[i]);
        return p;
    }

    // Of the boundaries `fitting` (clusters b.. at the units that put
    // `badCluster` at q), the one with which the pictures in clusters
    // first..badCluster decode; kGood when not exactly one does.
    std::uint64_t decodedBoundary(const std::vector<std::uint64_t>& fitting, std::uint64_t q, std::uint64_t first,
                                  std::uint64_t badCluster) {
        if (tracks_.empty() || fitting.size() > kMaxFitting) return kGood;
        std::uint64_t decoded = kGood;
        int decoding = 0;
        decodedPictures_ = 0;
        for (std::uint64_t b : fitting) {
            from_ = b;
            next_ = q - (badCluster - b);
            const bool clean = picturesDecode(first * unit_, (badCluster + 1) * unit_);
            from_ = map_.size();
            if (clean) {
                ++decoding;
                decoded = b;
            }
        }
        return decoding == 1 ? decoded : kGood;
    }

    // The pictures of every video track that lie in bytes [lo, hi) of the
    // file decode cleanly, each from the last that needs none before it,
    // read through the clusters as placed (and as tried).
    bool picturesDecode(std::uint64_t lo, std::uint64_t hi) const {
        std::vector<std::vector<std::uint32_t>> inRange(tracks_.size());  // numbers of the samples there
        // The samples are in file order, one after another: those in [lo, hi)
        // are a run of them, from the one that starts before lo and runs into it.
        auto at = std::lower_bound(samples_.begin(), samples_.end(), lo,
                                   [](const Sample& x, std::uint64_t offset) { return x.offset < offset; });
        if (at != samples_.begin() && std::prev(at)->end() > lo) --at;
        for (; at != samples_.end() && at->offset < hi; ++at)
            if (at->kind == Sample::Kind::Nal && at->track < tracks_.size()) inRange[at->track].push_back(at->number);
        bool any = false;
        for (std::size_t t = 0; t < tracks_.size(); ++t) {
            if (inRange[t].empty()) continue;
            const formats::IsoTrack& track = tracks_[t];
            const auto [low, high] = std::minmax_element(inRange[t].begin(), inRange[t].end());
            std::uint32_t from = *low;  // back to the last picture that needs none before it
            if (track.syncListed) {
                std::uint32_t sync = 0;
                for (std::uint32_t n : track.syncSamples)
                    if (n >= 1 && n - 1 <= *low) sync = std::max(sync, n - 1);
                from = sync;
            }
            if (*high - from > kMaxDecoded || (decodedPictures_ += *high - from + 1) > kMaxDecodedForAll) return false;
            std::vector<std::vector<std::uint8_t>> pictures;
            std::uint64_t bytes = 0;
            for (std::uint32_t n = from; n <= *high; ++n) {
                const Sample* sample =
                    n < byNumber_[t].size() && byNumber_[t][n] != kNoSample ? &samples_[byNumber_[t][n]] : nullptr;
                if (!sample || (bytes += sample->size) > kMaxDecodedBytes) return false;
                pictures.emplace_back(static_cast<std::size_t>(sample->size));
                if (!read(sample->offset, sample->size, pictures.back().data())) return false;
            }
            if (!formats::PicturesDecode(track.codec, track.codecConfig, pictures)) return false;
            any = true;
        }
        return any;
    }

    // How many units back from `q`, itself included, no other find takes; `most` at most.
    std::uint64_t freeBack(std::uint64_t q, std::uint64_t most) const {
        std::uint64_t n = 0;
        while (n < most && n <= q && !others_.taken(q - n)) ++n;
        return n;
    }

    // Clusters b.. at units m.., and those before b where they are: none of
    // the units up to `badCluster` is another find's (`free`: freeBack() of
    // the unit `badCluster` goes to) or the clip's own.
    bool placeable(const Placed& p, std::uint64_t b, std::uint64_t m, std::uint64_t badCluster, std::uint64_t free) const {
        if (p.firstHeld < b) return false;
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

    // The samples from `s` fit two clusters past the one `bad` lies in, and
    // a video sample among them (an AAC frame's start says little alone).
    bool confirms(std::size_t s, std::uint64_t bad) {
        const std::uint64_t reach = std::min(size_, (bad / unit_ + 2) * unit_);
        bool video = false;
        std::size_t k = s;
        for (; k < samples_.size() && (k == s || samples_[k].offset < reach || !video); ++k) {
            if (check(samples_[k]) != kGood) return false;
            video |= samples_[k].kind == Sample::Kind::Nal;
        }
        return video || k == samples_.size();
    }

    media::SalvagedMedium& medium_;
    const scan::ScanGeometry& geo_;
    const std::uint64_t unit_;
    const Others& others_;
    std::uint64_t size_;
    const std::vector<Sample> samples_;
    const std::vector<formats::IsoTrack> tracks_;  // when given, their pictures decide a piece the lengths cannot
    mutable std::uint64_t decodedPictures_ = 0;    //   and how many were decoded for the piece looked for
    static constexpr std::uint32_t kNoSample = ~0u;
    std::vector<std::vector<std::uint32_t>> byNumber_;  // each track's samples (their place in samples_) by number
    std::uint64_t block_ = 1;                      // units a block of the medium
    std::vector<std::uint64_t> map_;     // medium unit of each cluster of the file
    std::uint64_t from_ = 0, next_ = 0;  // a piece tried: clusters from `from_` at `next_` on
    std::uint64_t lastGood_ = 0;         // the end of the last NAL unit's length shown to be the clip's own
    std::uint64_t unproven_ = kGood;     // where the length read before the last check's fault was, unless shown
    std::uint64_t verified_ = 0;
    std::size_t checked_ = 0;
    int pieces_ = 1;
    Search search_;
    platform::RawFile* copy_ = nullptr;
    std::uint64_t copyBytes_ = 0;
    mutable std::uint64_t cachedUnit_ = kGood;  // the unit cache_ holds
    mutable std::vector<std::uint8_t> cache_;

public:
    // After follow(false) failed: the bytes up to the last good read are its own.
    void settle() { verified_ = lastGood_; }
};

}  // namespace hx::reassembly::pieces
