// A clip's clusters followed sample by sample as they lie, read, and written.
#include "reassembly/ClipPieces.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <utility>

#include "formats/codecs/AacFrames.h"
#include "formats/codecs/SliceHeaders.h"

namespace hx::reassembly::pieces {

std::vector<Sample> samplesOf(const std::vector<formats::IsoTrack>& tracks, const formats::IsoBox& mdat, std::uint64_t size) {
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
        const formats::PcmOrder pcm = formats::Pcm16Order(track.codec, track.soundBits);
        for (const formats::ChunkSpan& span : formats::ChunkSpans(track)) {
            std::uint64_t at = span.offset;
            const std::size_t first = samples.size();
            for (std::uint32_t k = 0; k < span.samples; ++k) {
                const std::uint64_t bytes = track.sampleSizes[span.firstSample + k];
                if (at < mdat.contents || at + bytes > mdat.end || at + bytes > size) return {};
                if (bytes > 0) samples.push_back({at, bytes, kind, track.nalLengthBytes, header, pcm, t, span.firstSample + k});
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

Clip::Clip(media::SalvagedMedium& medium, const scan::ScanGeometry& geo, const Others& others, std::uint64_t startUnit,
           std::uint64_t size, std::vector<Sample> samples, std::vector<formats::IsoTrack> tracks)
    : medium_(medium), geo_(geo), unit_(geo.unitBytes()), others_(others), size_(size), samples_(std::move(samples)),
      tracks_(std::move(tracks)) {
    const std::uint64_t clusters = (size_ + unit_ - 1) / unit_;
    map_ = ClusterMap(startUnit, clusters);
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

bool Clip::follow(bool rebuild) {
    // The clip as it stood before the first piece taken on its pictures
    // decoded alone, whose run from the sync picture is owed: it is decoded
    // once, at the next picture that needs none before it (or where the
    // samples end or the search gives up), for all the pieces taken since,
    // up to where the last of them was decoded to (no further: pieces a
    // run apart decode what they would have one by one).
    // Where it does not decode, the clip goes back to there, and each piece
    // up to that picture has its own run decoded as it is taken.
    struct Mark {
        std::size_t s;
        ClusterMap map;
        std::uint64_t lastGood, unproven;
        std::size_t checked;
        int pieces;
    };
    std::optional<Mark> mark;
    std::size_t lastOwed = 0;  // the sample the last piece taken so was looked for at
    std::size_t strictTo = 0;
    // True where nothing is owed or the run decodes; else the clip is as it was.
    const auto settle = [&](std::size_t& s) {
        if (!mark) return true;
        decodedPictures_ = 0;
        const Owed owed = std::exchange(owed_, Owed{});
        if (picturesDecode(owed.from, owed.to)) {
            mark.reset();
            return true;
        }
        strictTo = s + 1;
        s = mark->s;
        map_ = std::move(mark->map);
        lastGood_ = mark->lastGood;
        unproven_ = mark->unproven;
        checked_ = mark->checked;
        pieces_ = mark->pieces;
        mark.reset();
        return false;
    };
    for (std::size_t s = 0; s < samples_.size() || mark;) {
        if (mark && (s == samples_.size() || (s > lastOwed && startsRun(samples_[s]))) && !settle(s)) continue;
        if (s == samples_.size()) break;
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
        if (!rebuild || pieces_ >= kMaxPieces) {
            if (!settle(s)) continue;
            return false;
        }
        Mark was{s, map_, lastGood_, unproven_, checked_, pieces_};
        const std::size_t owing = owed_.pieces;
        deferring_ = s >= strictTo;
        const bool found = findPiece(s, bad) || (before != kGood && findPiece(s, before));
        deferring_ = false;
        if (found && owed_.pieces > owing) {
            lastOwed = s;
            if (!mark) mark = std::move(was);
        }
        if (found) ++pieces_;
        else if (!findInnerPieces(s) && settle(s)) return false;
    }
    verified_ = size_;
    return true;
}

bool Clip::startsRun(const Sample& sample) const {
    if (sample.kind != Sample::Kind::Nal || sample.track >= tracks_.size()) return false;
    const formats::IsoTrack& track = tracks_[sample.track];
    return !track.syncListed || std::binary_search(track.syncSamples.begin(), track.syncSamples.end(), sample.number + 1);
}

std::uint64_t Clip::trailingSoundFault() const {
    // The clip's last sound frame, compressed, whose end lies in a cluster
    // after its start's: nothing read after it shows that cluster to be the
    // clip's but how the frame ends, and that it decodes to its end.
    if (!samples_.empty() && samples_.back().kind == Sample::Kind::Aac) {
        const Sample& last = samples_.back();
        if (last.size < 2 || (last.end() - 1) / unit_ == last.offset / unit_) return kGood;
        constexpr std::uint64_t kMaxFrame = 1u << 16;  // far more than an AAC frame holds
        std::vector<std::uint8_t> frame(static_cast<std::size_t>(std::min(last.size, kMaxFrame)));
        if (last.size > kMaxFrame || !read(last.offset, frame.size(), frame.data()) ||
            !formats::AacFrameEnds(frame.data() + frame.size() - 2, 2))
            return last.offset;
        if (last.track < tracks_.size() && formats::AacFrameDecodes(tracks_[last.track].codecConfig, frame.data(), frame.size()) == false)
            return last.offset;
        return kGood;
    }
    // Nothing checks the sound after the last picture or frame of a
    // compressed track; uncompressed sound must sound like it, cluster by
    // cluster, or another file's bytes follow where the clip's piece ended.
    std::size_t s = samples_.size();
    while (s > 0 && samples_[s - 1].kind == Sample::Kind::Unchecked) --s;
    if (s == samples_.size()) return kGood;
    // A cluster there that another find starts at or holds is not the
    // clip's (the start of an older clip reads as quiet sound).
    const std::uint64_t lo = samples_[s].offset, end = samples_.back().end();
    for (std::uint64_t c = std::max((lastGood_ + unit_ - 1) / unit_, lo / unit_); c * unit_ < end; ++c) {
        const std::uint64_t unit = unitOf(c);
        if (others_.holds(unit) || others_.starts_at(unit)) return std::max(lo, c * unit_);
    }
    for (; s < samples_.size(); ++s)
        if (const std::uint64_t fault = soundFault(samples_[s], 0, kGood); fault != kGood) return fault;
    return kGood;
}

std::uint64_t Clip::soundFault(const Sample& sample, std::uint64_t lo, std::uint64_t hi) const {
    if (sample.pcm == formats::PcmOrder::None) return kGood;
    std::vector<std::uint8_t> bytes(unit_);
    const std::uint64_t end = std::min(hi, sample.end());
    for (std::uint64_t from = std::max(lo, sample.offset); from < end;) {
        const std::uint64_t n = std::min(end, (from / unit_ + 1) * unit_) - from;
        // Read from a sound sample's first byte on: the sound may start at an odd offset.
        const std::uint64_t odd = (from - sample.offset) % 2;
        if (!read(from, n, bytes.data()) || !formats::SoundsLikeSound(bytes.data() + odd, (n - odd) / 2 * 2, sample.pcm))
            return from;
        from += n;
    }
    return kGood;
}

void Clip::takeTrailingBoxes(std::uint64_t at) {
    if (at != size_ || map_.empty()) return;
    resize(size_ + kMaxTrailing);
    const formats::ReadAt placed = [this](std::uint64_t from, std::size_t n, std::uint8_t* out) {
        return read(from, n, out);
    };
    resize(formats::TrailingBoxesEnd(placed, at, size_, kMaxTrailing));
}

bool Clip::write(const fs::path& path, std::uint64_t bytes) {
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

Clip::Unreadable Clip::unreadableIn(std::uint64_t bytes) const {
    Unreadable u;
    bytes = std::min(bytes, map_.size() * unit_);
    const auto& runs = map_.runs();
    for (std::size_t r = 0; r < runs.size() && runs[r].first * unit_ < bytes; ++r) {
        const std::uint64_t from = runs[r].first * unit_;
        const std::uint64_t to = std::min(bytes, r + 1 < runs.size() ? runs[r + 1].first * unit_ : bytes);
        const std::uint64_t at = geo_.byteOf(runs[r].second);
        const std::uint64_t n = medium_.unreadableIn(at, to - from);
        if (n == 0) continue;
        if (u.sectors == 0) {
            const std::uint64_t first = medium_.firstUnreadableIn(at, to - from) * geo_.bytesPerSector;
            u.firstByte = from + (first > at ? first - at : 0);
        }
        u.sectors += n;
    }
    return u;
}

bool Clip::writeTo(const fs::path& path, std::uint64_t bytes) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    // Read a piece at a time, in large reads: under DeepScan a cluster is one sector.
    constexpr std::uint64_t kChunk = 1 << 20;
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min(kChunk, std::max<std::uint64_t>(bytes, 1))));
    bytes = std::min(bytes, map_.size() * unit_);
    for (std::uint64_t at = 0; at < bytes && out;) {
        const std::uint64_t n = std::min<std::uint64_t>(chunk.size(), bytes - at);
        if (!read(at, n, chunk.data())) return false;
        out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
        at += n;
    }
    return static_cast<bool>(out.flush());
}

void Clip::resize(std::uint64_t bytes) {
    const std::uint64_t clusters = (bytes + unit_ - 1) / unit_;
    map_.resize(clusters);
    from_ = map_.size();
    size_ = bytes;
}

bool Clip::read(std::uint64_t offset, std::uint64_t length, std::uint8_t* out) const {
    while (length > 0) {
        const std::uint64_t cluster = offset / unit_, within = offset % unit_;
        const std::uint64_t n = std::min(length, unit_ - within);
        if (cluster >= map_.size()) return false;
        const std::uint64_t unit = unitOf(cluster);
        if (unit >= geo_.endUnit()) return false;
        if (const std::uint64_t span = runBytes(offset, length); span > unit_) {
            // Clusters one after another on the medium, read at once.
            if (copy_ && unit == map_[0] + cluster && offset + span <= copyBytes_ && copy_->readAt(offset, out, span) == span) {
            } else if (medium_.readAt(geo_.byteOf(unit) + within, out, span) != span) {
                return false;
            }
            offset += span;
            length -= span;
            out += span;
            continue;
        }
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

std::uint64_t Clip::runBytes(std::uint64_t offset, std::uint64_t length) const {
    const std::uint64_t cluster = offset / unit_;
    const std::uint64_t unit = unitOf(cluster);
    // (the units' bytes follow one another on the medium)
    if (geo_.byteOf(unit + 1) != geo_.byteOf(unit) + unit_) return 0;
    const std::uint64_t end = cluster < from_ ? std::min(map_.runEnd(cluster), from_) : map_.size();
    const std::uint64_t clusters = std::min(end - cluster, geo_.endUnit() - unit);
    return std::min(length, clusters * unit_ - offset % unit_);
}

bool Clip::fits(const Sample& sample, std::uint64_t at, const std::uint8_t* bytes, std::size_t n) {
    if (sample.kind == Sample::Kind::Aac) return formats::AacFrameStarts(bytes, n);
    const std::uint64_t lb = sample.lengthBytes, hb = sample.headerBytes;
    if (n < lb + hb) return false;
    const std::uint64_t length = formats::NalUnitLength(bytes, sample.lengthBytes, sample.headerBytes);
    return length > 0 && at + lb + length <= sample.end();
}

std::size_t Clip::looked(const Sample& sample, std::uint64_t at) {
    const std::uint64_t want = sample.kind == Sample::Kind::Aac ? 32 : sample.lengthBytes + sample.headerBytes;
    return static_cast<std::size_t>(std::min<std::uint64_t>(want, sample.end() - at));
}

std::uint64_t Clip::check(const Sample& sample) {
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

}  // namespace hx::reassembly::pieces
