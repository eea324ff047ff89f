#include "reassembly/SplitMovies.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/ByteOrder.h"
#include "platform/RawFile.h"
#include "filesystems/FileSystemTypes.h"
#include "reassembly/RebuiltIndex.h"
#include "reassembly/SplitPhotos.h"
#include "shell/Strings.h"
#include "formats/Formats.h"
#include "formats/codecs/PicturesDecode.h"
#include "formats/iso/IsoSampleTables.h"
#include "volumes/DriveFiles.h"

namespace hx::reassembly {

namespace {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

// Clips larger than this are taken as found.
constexpr std::uint64_t kMaxClip = 16ull << 30;
// Pieces of one clip at most.
constexpr int kMaxPieces = 8;
// Cluster boundaries tried for where one piece ends, back from where its
// samples stop being in place.
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
    std::uint32_t track = 0, number = 0;  // its track's, and its place there (from 0)
    std::uint64_t end() const { return offset + size; }
};

// Every sample of the clip's tracks in file order; empty when one lies
// outside the `mdat` or the file, or none can be checked.
std::vector<Sample> samplesOf(const std::vector<formats::IsoTrack>& tracks, const formats::IsoBox& mdat, std::uint64_t size) {
    std::vector<Sample> samples;
    bool checkable = false;
    for (std::uint32_t t = 0; t < tracks.size(); ++t) {
        const formats::IsoTrack& track = tracks[t];
        Sample::Kind kind = Sample::Kind::Unchecked;
        if (track.nalLengthBytes == 1 || track.nalLengthBytes == 2 || track.nalLengthBytes == 4) kind = Sample::Kind::Nal;
        else if (std::string(track.codec.data(), 4) == "mp4a") kind = Sample::Kind::Aac;
        checkable |= kind != Sample::Kind::Unchecked;
        for (const formats::ChunkSpan& span : formats::ChunkSpans(track)) {
            std::uint64_t at = span.offset;
            for (std::uint32_t k = 0; k < span.samples; ++k) {
                const std::uint64_t bytes = track.sampleSizes[span.firstSample + k];
                if (at < mdat.contents || at + bytes > mdat.end || at + bytes > size) return {};
                if (bytes > 0) samples.push_back({at, bytes, kind, track.nalLengthBytes, t, span.firstSample + k});
                at += bytes;
            }
        }
    }
    if (!checkable) return {};
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.offset < b.offset; });
    return samples;
}

// Bits of a frame, first to last.
class Bits {
public:
    Bits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool take(unsigned n, std::uint32_t& v) {
        v = 0;
        for (unsigned k = 0; k < n; ++k, ++at_) {
            if (at_ / 8 >= size_) return false;
            v = v << 1 | ((data_[at_ / 8] >> (7 - at_ % 8)) & 1);
        }
        return true;
    }
    bool skip(std::uint64_t n) {
        at_ += n;
        return at_ / 8 < size_;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::uint64_t at_ = 0;
};

}  // namespace

// The start of a raw AAC frame: fill elements (ffmpeg's first frame names
// the encoder in one), then a channel's element (one channel, a pair, the
// low frequencies) whose stream info holds its reserved bit clear and no
// more scale factor bands than a window has.
bool AacFrameStarts(const std::uint8_t* frame, std::size_t size) {
    Bits bits(frame, size);
    std::uint32_t id = 0, v = 0;
    for (int fills = 0; bits.take(3, id) && id == 6 && fills < 4; ++fills) {
        std::uint32_t count = 0;
        if (!bits.take(4, count)) return false;
        if (count == 15) {
            if (!bits.take(8, v)) return false;
            count += v - 1;
        }
        if (!bits.skip(8ull * count)) return false;
    }
    if (id != 0 && id != 1 && id != 3) return false;
    if (!bits.take(4, v)) return false;  // the element's tag
    if (id == 1) {                         // a pair: its stream info comes first when the window is common
        std::uint32_t common = 0;
        if (!bits.take(1, common)) return false;
        if (!common) return bits.take(8, v);  // the first channel's gain: nothing more to check cheaply
    } else if (!bits.take(8, v)) {        // global gain
        return false;
    }
    std::uint32_t reserved = 0, sequence = 0, shape = 0, bands = 0;
    if (!bits.take(1, reserved) || reserved != 0 || !bits.take(2, sequence) || !bits.take(1, shape)) return false;
    if (sequence == 2) return bits.take(4, bands) && bands <= 15;
    return bits.take(6, bands) && bands <= 51;
}

namespace {

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
    Clip(platform::RawFile& medium, const scan::ScanGeometry& geo, const Others& others, std::uint64_t startUnit,
         std::uint64_t size, std::vector<Sample> samples, std::vector<formats::IsoTrack> tracks = {})
        : medium_(medium), geo_(geo), unit_(geo.unitBytes()), others_(others), size_(size), samples_(std::move(samples)),
          tracks_(std::move(tracks)) {
        const std::uint64_t clusters = (size_ + unit_ - 1) / unit_;
        for (std::uint64_t i = 0; i < clusters; ++i) map_.push_back(startUnit + i);
        from_ = map_.size();
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
            if (!rebuild || pieces_ >= kMaxPieces || !findPiece(s, bad)) return false;
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
        std::uint64_t first = std::max<std::uint64_t>(1, (lastGood_ + unit_ - 1) / unit_);
        if (first > c) return false;
        first = std::max(first, c - std::min<std::uint64_t>(c, kMaxBoundaries));
        std::uint64_t fitting = 0, taken = 0;
        const Placed p = placed();
        for (std::uint64_t b = first; b <= c && fitting < 2; ++b)
            if (unit >= c - b && b % block_ == 0 && (unit - (c - b)) % block_ == map_[0] % block_ &&
                placeable(p, b, unit - (c - b), c)) {
                ++fitting;
                taken = b;
            }
        if (fitting != 1) return false;
        for (std::uint64_t i = taken; i < map_.size(); ++i) map_[i] = unit - (c - taken) + (i - taken);
        ++pieces_;
        return true;
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
    bool trusted() const { return checked_ >= kTrustedAfter; }

    // Writes the clip from its pieces in place of `path` (which may be the
    // copy it reads); from `zerosFrom` on, zeros.
    bool write(const fs::path& path, std::uint64_t zerosFrom) {
        fs::path part = path;
        part += ".part";
        if (!writeTo(part, zerosFrom)) {
            std::error_code ec;
            fs::remove(part, ec);
            return false;
        }
        std::error_code ec;
        fs::rename(part, path, ec);
        return !ec;
    }

private:
    bool writeTo(const fs::path& path, std::uint64_t zerosFrom) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<std::uint8_t> cluster(unit_);
        for (std::uint64_t i = 0; i < map_.size() && out; ++i) {
            const std::uint64_t at = i * unit_;
            const std::uint64_t n = std::min<std::uint64_t>(unit_, size_ - at);
            std::fill(cluster.begin(), cluster.end(), 0);
            if (at < zerosFrom && !read(at, std::min(n, zerosFrom - at), cluster.data())) return false;
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
        const std::uint64_t lb = sample.lengthBytes;
        if (n < lb + 1) return false;
        std::uint64_t length = 0;
        for (std::uint64_t k = 0; k < lb; ++k) length = length << 8 | bytes[k];
        return length > 0 && !(bytes[lb] & 0x80) && at + lb + length <= sample.end();
    }

    // How many bytes fits() looks at for this sample.
    static std::size_t looked(const Sample& sample, std::uint64_t at) {
        const std::uint64_t want = sample.kind == Sample::Kind::Aac ? 32 : sample.lengthBytes + 1u;
        return static_cast<std::size_t>(std::min<std::uint64_t>(want, sample.end() - at));
    }

    // The sample's bytes are where the index says: NAL units that fill it
    // exactly, each with its forbidden bit clear, or an AAC frame that starts
    // as one does. kGood, else where in the file the first thing that is not
    // so was read; lastGood_ goes on to the end of each read that was.
    std::uint64_t check(const Sample& sample) {
        if (sample.kind == Sample::Kind::Unchecked) return kGood;
        std::uint8_t head[32];
        for (std::uint64_t at = sample.offset; at < sample.end();) {
            const std::size_t n = looked(sample, at);
            if (!read(at, n, head) || !fits(sample, at, head, n)) return at;
            // An AAC frame's start is weak evidence alone: the NAL units' lengths say where the clip is its own.
            if (from_ == map_.size() && sample.kind == Sample::Kind::Nal) lastGood_ = std::max(lastGood_, at + n);
            if (sample.kind == Sample::Kind::Aac) break;
            std::uint64_t length = 0;
            for (std::uint64_t k = 0; k < sample.lengthBytes; ++k) length = length << 8 | head[k];
            at += sample.lengthBytes + length;
            if (at != sample.end() && at + sample.lengthBytes + 1 > sample.end()) return at;
        }
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
        std::uint64_t first = std::max<std::uint64_t>(1, (lastGood_ + unit_ - 1) / unit_);
        if (first > badCluster || badCluster >= map_.size()) return false;
        first = std::max(first, badCluster - std::min<std::uint64_t>(badCluster, kMaxBoundaries));
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
            for (std::uint64_t b = first; b <= badCluster && fitting.size() <= kMaxFitting; ++b) {
                if (q < badCluster - b || b % block_ != 0) continue;
                const std::uint64_t m = q - (badCluster - b);
                if (!placeable(p, b, m, badCluster)) continue;
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
        std::vector<std::vector<const Sample*>> byNumber(tracks_.size());
        for (const Sample& sample : samples_) {
            if (sample.kind != Sample::Kind::Nal || sample.track >= tracks_.size()) continue;
            auto& all = byNumber[sample.track];
            if (all.size() <= sample.number) all.resize(sample.number + 1, nullptr);
            all[sample.number] = &sample;
            if (sample.offset < hi && sample.end() > lo) inRange[sample.track].push_back(sample.number);
        }
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
                const Sample* sample = n < byNumber[t].size() ? byNumber[t][n] : nullptr;
                if (!sample || (bytes += sample->size) > kMaxDecodedBytes) return false;
                pictures.emplace_back(static_cast<std::size_t>(sample->size));
                if (!read(sample->offset, sample->size, pictures.back().data())) return false;
            }
            if (!formats::PicturesDecode(track.codec, track.codecConfig, pictures)) return false;
            any = true;
        }
        return any;
    }

    // Clusters b.. at units m.., and those before b where they are: none of
    // the units up to `badCluster` is another find's or the clip's own.
    bool placeable(const Placed& p, std::uint64_t b, std::uint64_t m, std::uint64_t badCluster) const {
        if (p.firstHeld < b) return false;
        const std::uint64_t last = m + (badCluster - b);
        if (last >= geo_.endUnit()) return false;
        for (std::uint64_t i = b; i <= badCluster; ++i)
            if (others_.taken(m + (i - b))) return false;
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

    platform::RawFile& medium_;
    const scan::ScanGeometry& geo_;
    const std::uint64_t unit_;
    const Others& others_;
    std::uint64_t size_;
    const std::vector<Sample> samples_;
    const std::vector<formats::IsoTrack> tracks_;  // when given, their pictures decide a piece the lengths cannot
    mutable std::uint64_t decodedPictures_ = 0;    //   and how many were decoded for the piece looked for
    std::uint64_t block_ = 1;                      // units a block of the medium
    std::vector<std::uint64_t> map_;     // medium unit of each cluster of the file
    std::uint64_t from_ = 0, next_ = 0;  // a piece tried: clusters from `from_` at `next_` on
    std::uint64_t lastGood_ = 0;         // the end of the last NAL unit's length shown to be the clip's own
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

// The found clip's index, read from its cache file, when it comes before
// its samples: its samples in file order, and its size by its boxes (the
// scan may have ended the find sooner, at another find inside its extent).
std::vector<Sample> indexFirst(const fs::path& path, std::uint64_t found, std::uint64_t& size, std::uint64_t& tail,
                               std::vector<formats::IsoTrack>& tracks) {
    platform::RawFile file;
    if (!file.open(path, platform::RawFile::Mode::Read)) return {};
    const formats::ReadAt read = [&file, found](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        return at + n <= found && file.readAt(at, out, n) == n;
    };
    formats::IsoBox moov, mdat;
    if (!formats::FindIsoBox(read, 0, kMaxClip, "moov", moov) || moov.end > found ||
        !formats::FindIsoBox(read, 0, kMaxClip, "mdat", mdat) || moov.at > mdat.at)
        return {};
    if (!formats::ReadSampleTables(read, moov, tracks)) return {};
    size = mdat.end;
    tail = formats::TrailingBoxesEnd(read, mdat.end, found, kMaxTrailing);
    return samplesOf(tracks, mdat, size);
}

// A moov box read from the medium into memory, for its tables.
constexpr std::uint64_t kMaxIndex = 64ull << 20;
// Boxes between a clip's samples and its index (a camera's own data, room
// left to grow the index): how many, and their bytes, at most.
constexpr int kMaxLeadBoxes = 4;
constexpr std::uint64_t kMaxLead = 1ull << 20;


bool leads(const std::uint8_t* head) {
    for (const char* type : {"free", "skip", "wide", "uuid", "udta", "meta"})
        if (std::memcmp(head + 4, type, 4) == 0) return true;
    return false;
}

// The found clip's samples when its index comes after them (most cameras
// write it last) and lies elsewhere on the medium: its place in a cluster is
// known from the size of the `mdat` before it, so every unit of the medium
// is looked at there for a `moov` that starts with its `mvhd` (after any
// boxes of the camera's own, as some put there), nearest first
// (where the clip's clusters would run on, then forward, then from the
// start). A moov is the clip's when its samples fill the clip's `mdat` from
// its start and the first of them are in place in the piece that was found.
// `size` is then the clip's size, `indexAt` where what follows the samples
// starts in the file and `indexUnit` the unit it was found at.
std::vector<Sample> indexLast(const fs::path& path, const scan::FoundFile& f, platform::RawFile& medium, const scan::ScanGeometry& geo,
                              const Others& around, const Search& search, std::uint64_t& size, std::uint64_t& indexAt,
                              std::uint64_t& indexUnit, std::vector<formats::IsoTrack>& withTracks) {
    platform::RawFile file;
    if (!file.open(path, platform::RawFile::Mode::Read)) return {};
    const std::uint64_t found = f.size;
    const formats::ReadAt read = [&file, found](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        return at + n <= found && file.readAt(at, out, n) == n;
    };
    formats::IsoBox ftyp, mdat, moov;
    if (formats::ReadIsoBox(read, 0, kMaxClip, ftyp) != formats::BoxRead::Box || !ftyp.is("ftyp") ||
        !formats::FindIsoBox(read, 0, kMaxClip, "mdat", mdat) ||
        (formats::FindIsoBox(read, 0, mdat.at, "moov", moov)))
        return {};
    const std::uint64_t unit = geo.unitBytes();
    const std::uint64_t within = mdat.end % unit;
    if (within + 16 > unit) return {};
    const std::uint64_t endUnit = geo.endUnit();
    const std::uint64_t natural = f.startUnit + mdat.end / unit;
    std::uint8_t head[16];
    std::vector<std::uint8_t> box;
    for (std::uint64_t k = 0; k < endUnit && search.goOn(k + 1, endUnit); ++k) {
        const std::uint64_t q = (natural + k) % endUnit;
        if (around.holds(q) || around.blankAt(q)) continue;
        if (medium.readAt(geo.byteOf(q) + within, head, 16) != 16) continue;
        // Boxes a camera may put between its samples and their index, then the index.
        std::uint64_t lead = 0;
        for (int boxes = 0; boxes < kMaxLeadBoxes && leads(head) && lead <= kMaxLead; ++boxes) {
            const std::uint64_t bytes = platform::Be32(head);
            if (bytes < 8 || bytes > kMaxLead) break;
            lead += bytes;
            if (medium.readAt(geo.byteOf(q) + within + lead, head, 16) != 16) break;
        }
        if (std::memcmp(head + 4, "moov", 4) != 0 || std::memcmp(head + 12, "mvhd", 4) != 0) continue;
        const std::uint64_t bytes = platform::Be32(head);
        const std::uint64_t at = geo.byteOf(q) + within + lead;
        if (bytes < 16 || bytes > kMaxIndex || at + bytes > geo.byteOf(endUnit)) continue;
        box.resize(static_cast<std::size_t>(bytes));
        if (medium.readAt(at, box.data(), box.size()) != box.size()) continue;
        const formats::ReadAt inBox = [&box](std::uint64_t at, std::size_t n, std::uint8_t* out) {
            if (at > box.size() || n > box.size() - at) return false;
            std::memcpy(out, box.data() + at, n);
            return true;
        };
        std::vector<formats::IsoTrack> tracks;
        if (!formats::ReadSampleTables(inBox, {0, 8, bytes, {'m', 'o', 'o', 'v'}}, tracks)) continue;
        std::vector<Sample> samples = samplesOf(tracks, mdat, mdat.end);
        if (samples.empty() || samples.front().offset != mdat.contents) continue;
        std::uint64_t filled = 0;
        for (const Sample& sample : samples) filled = std::max(filled, sample.end());
        if (filled != mdat.end) continue;
        // Its first sample's NAL units are in place where the clip was found.
        Clip first(medium, geo, around, f.startUnit, mdat.end + lead + bytes, samples);
        first.readCopy(&file, found);
        if (!first.follow(false) && !first.anyInPlace()) continue;
        // Boxes of the camera's own after the index, as it lies.
        const formats::ReadAt onMedium = [&medium, &geo, at](std::uint64_t from, std::size_t n, std::uint8_t* out) {
            return medium.readAt(at + from, out, n) == n;
        };
        const std::uint64_t room = geo.byteOf(endUnit) - at;
        size = mdat.end + lead + formats::TrailingBoxesEnd(onMedium, bytes, room, kMaxTrailing);
        indexAt = mdat.end;
        indexUnit = q;
        withTracks = std::move(tracks);
        return samples;
    }
    return {};
}

// Each clip whose index is lost is written again, as a find of its own,
// with an index made after the one of a whole clip of the same camera: of
// the nearest few on the medium whose first bytes (its `ftyp`) are the same,
// the one with which the most of the clip is taken.
void IndexLostClips(scan::ScanContext& ctx, const std::vector<std::size_t>& lost, const std::vector<std::size_t>& whole) {
    constexpr int kTries = 3;  // references tried for one clip
    auto headOf = [&ctx](std::size_t k) {
        std::string head(256, '\0');
        std::ifstream in(ctx.cacheFolder / ctx.found[k].name, std::ios::binary);
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<std::size_t>(in.gcount()));
        return head;
    };
    for (std::size_t k : lost) {
        const std::string head = headOf(k);
        std::vector<std::size_t> refs;
        for (std::size_t r : whole) {
            const std::string other = headOf(r);
            const std::size_t ftyp = other.size() >= 8 ? platform::Be32(reinterpret_cast<const std::uint8_t*>(other.data())) : 0;
            if (ftyp >= 8 && ftyp <= other.size() && head.compare(0, ftyp, other, 0, ftyp) == 0) refs.push_back(r);
        }
        const std::uint64_t at = ctx.found[k].startUnit;
        std::sort(refs.begin(), refs.end(), [&](std::size_t a, std::size_t b) {
            const auto far = [&](std::size_t r) { const std::uint64_t u = ctx.found[r].startUnit; return u > at ? u - at : at - u; };
            return far(a) < far(b);
        });
        long counter = static_cast<long>(ctx.found.size());
        while (fs::exists(ctx.cacheFolder / scan::FoundFileName(counter, ctx.found[k].extension))) ++counter;
        const std::string name = scan::FoundFileName(counter, ctx.found[k].extension);
        // Of the clips tried, the one that takes the clip furthest: a clip of
        // another camera with the same `ftyp` stops the walk soon.
        const fs::path to = ctx.cacheFolder / name, trying = ctx.cacheFolder / (name + ".part");
        std::uint64_t best = 0;
        bool bestSound = false;
        std::string bytes;  // the clip as found, read once
        if (refs.empty() || !ReadClip(ctx.cacheFolder / ctx.found[k].name, ctx.found[k].size, bytes)) continue;
        std::error_code ec;
        for (std::size_t t = 0; t < refs.size() && t < kTries; ++t) {
            const scan::FoundFile& ref = ctx.found[refs[t]];
            RebuiltClip made;
            if (!WriteWithRebuiltIndex(bytes, ctx.cacheFolder / ref.name, ref.size, trying, &made) ||
                made.taken <= best)
                continue;
            fs::rename(trying, to, ec);
            if (ec) continue;
            best = made.taken;
            bestSound = made.sound;
        }
        fs::remove(trying, ec);
        if (best > 0) {
            scan::FoundFile made = ctx.found[k];
            made.name = name;
            made.size = fs::file_size(to, ec);
            made.indexRebuilt = bestSound ? 2 : 1;
            made.pieces = 0;
            made.damaged = false;
            made.faultAt = ~0ull;
            made.printed = false;
            if (counter < 32760) ctx.List3.push_back(scan::FoundEntryText(counter, made.description));
            ctx.found.push_back(std::move(made));
        }
        ctx.ui.yield();
        if (ctx.ui.stopRequested()) return;
    }
}

}  // namespace

int RebuildSplitMovies(scan::ScanContext& ctx, const scan::ScanGeometry& geo) {
    // The clips whose index comes first, and their samples.
    struct Index {
        std::vector<Sample> samples;
        std::vector<formats::IsoTrack> tracks;
        std::uint64_t size = 0;     // by its boxes
        std::uint64_t tail = 0;     // its index first: where boxes of the camera's own after its samples end, as found
        std::uint64_t indexAt = 0;  // an index after the samples: where it starts in the file,
        std::uint64_t indexUnit = ~std::uint64_t{0};  // and the unit it was found at
    };
    platform::RawFile medium;
    if (!volumes::OpenDrive(medium, ctx.drive, platform::RawFile::Mode::Read)) return 0;
    const std::uint64_t unit = geo.unitBytes();
    // Where a clip's index may lie: neither where the scan saw blank, nor
    // among the bytes of a find that is no movie.
    Others around;
    around.blank = &ctx.blank;
    for (const scan::FoundFile& f : ctx.found) {
        const formats::Format* format = formats::FormatOf(f.extension);
        if (!f.earlier && (!format || format->family != formats::Family::Movie))
            around.held.emplace_back(f.startUnit, f.startUnit + std::max<std::uint64_t>(1, (f.size + unit - 1) / unit));
    }
    std::sort(around.held.begin(), around.held.end());
    std::vector<std::pair<std::size_t, Index>> clips;
    std::vector<std::size_t> lost;  // clips whose index was not found
    for (std::size_t k = 0; k < ctx.found.size(); ++k) {
        const scan::FoundFile& f = ctx.found[k];
        const formats::Format* format = formats::FormatOf(f.extension);
        if (!format || format->family != formats::Family::Movie || f.earlier || f.listedSize > 0 || f.size > kMaxClip ||
            f.size < 2 * geo.unitBytes())
            continue;
        const fs::path path = ctx.cacheFolder / f.name;
        Index index;
        index.samples = indexFirst(path, f.size, index.size, index.tail, index.tracks);
        const Search search{&ctx.ui, FormatStr(LoadStr(0, "Looking for the pieces of %0"), {f.name})};
        if (index.samples.empty())
            index.samples =
                indexLast(path, f, medium, geo, around, search, index.size, index.indexAt, index.indexUnit, index.tracks);
        if (index.samples.empty()) lost.push_back(k);
        // A clip is no larger than the medium that holds its pieces.
        else if (index.size <= geo.byteOf(geo.endUnit())) clips.emplace_back(k, std::move(index));
        ctx.ui.yield();
        if (ctx.ui.stopRequested()) return 0;
    }
    if (clips.empty()) return 0;
    std::vector<std::size_t> whole;  // clips that are as their index says, as found or rebuilt
    // What every find holds: a clip as far as its samples are where they
    // should be, any other find all its bytes.
    std::vector<std::uint64_t> shownTo(ctx.found.size(), ~0ull);
    Others others;
    others.blank = &ctx.blank;
    for (auto& [k, index] : clips) {
        Clip asFound(medium, geo, others, ctx.found[k].startUnit, index.size, index.samples);
        platform::RawFile copy;
        if (copy.open(ctx.cacheFolder / ctx.found[k].name, platform::RawFile::Mode::Read))
            asFound.readCopy(&copy, ctx.found[k].size);
        if (!asFound.follow(false)) {
            asFound.settle();
            shownTo[k] = asFound.verified();
        }
    }
    for (std::size_t k = 0; k < ctx.found.size(); ++k) {
        const scan::FoundFile& f = ctx.found[k];
        if (f.earlier) continue;
        others.starts.push_back(f.startUnit);
        const std::uint64_t bytes = std::min(f.size, shownTo[k]);
        others.held.emplace_back(f.startUnit, f.startUnit + std::max<std::uint64_t>(1, (bytes + unit - 1) / unit));
    }
    std::sort(others.starts.begin(), others.starts.end());
    std::sort(others.held.begin(), others.held.end());
    // A file system's clusters, when the scan's units are its sectors
    // (DeepScan); else what the finds' starts tell.
    std::uint64_t blockUnits = InferBlockUnits(ctx, geo);
    if (ctx.record.clusterBytes() > unit && ctx.record.clusterBytes() % unit == 0 &&
        filesystems::CataloguedType(ctx.record))
        blockUnits = ctx.record.clusterBytes() / unit;
    int rebuilt = 0;
    for (auto& [k, index] : clips) {
        // Whole as found: every sample in place, and the index too.
        if (shownTo[k] == ~0ull && (index.size == ctx.found[k].size || index.tail == ctx.found[k].size) &&
            (index.indexUnit == ~std::uint64_t{0} || index.indexUnit == ctx.found[k].startUnit + index.indexAt / unit)) {
            whole.push_back(k);
            continue;
        }
        scan::FoundFile& f = ctx.found[k];
        // Its own units are no other find's while it is rebuilt.
        others.own = f.startUnit;
        Clip clip(medium, geo, others, f.startUnit, index.size, std::move(index.samples), std::move(index.tracks));
        platform::RawFile copy;
        if (copy.open(ctx.cacheFolder / f.name, platform::RawFile::Mode::Read)) clip.readCopy(&copy, f.size);
        clip.answer({&ctx.ui, FormatStr(LoadStr(0, "Looking for the pieces of %0"), {f.name})});
        clip.writtenInBlocks(blockUnits);
        const fs::path path = ctx.cacheFolder / f.name;
        const bool indexBefore = index.indexUnit == ~std::uint64_t{0};
        const bool followed = clip.follow(true);
        if (followed && (indexBefore || clip.placeIndex(index.indexAt, index.indexUnit))) {
            if (indexBefore) clip.takeTrailingBoxes(index.size);
            if (clip.write(path, clip.size())) {
                f.size = clip.size();
                f.pieces = clip.pieces() > 1 ? clip.pieces() : 0;
                f.printed = false;
                ++rebuilt;
                whole.push_back(k);
            }
        } else if (const std::uint64_t own = followed ? index.indexAt : std::min(shownTo[k], index.size);
                   (clip.trusted() || own > 0) && clip.write(path, own)) {
            // What follows is another file's, or an index whose place is not
            // known for sure: zeros stand there, and the clip plays up to
            // them. A clip of few samples is cut too once one of its NAL
            // units was read in place: its samples are then known to be read right.
            f.size = index.size;
            f.damaged = true;
            f.faultAt = own;
            f.printed = false;
        }
        ctx.ui.yield();
        if (ctx.ui.stopRequested()) return rebuilt;
    }
    IndexLostClips(ctx, lost, whole);
    return rebuilt;
}

}  // namespace hx::reassembly
