#include "formats/iso/IsoSampleTables.h"

#include "formats/codecs/SliceHeaders.h"

#include <algorithm>
#include <string_view>

#include "platform/ByteOrder.h"

namespace hx::formats {

namespace {

constexpr std::uint64_t kMaxEntries = 1u << 24;  // samples or chunks of one track, at most
constexpr std::size_t kMaxTracks = 64;
constexpr int kMaxBoxes = 4096;  // boxes a moov holds side by side, at most
constexpr std::uint64_t kMaxConfigBytes = 1u << 16;  // a codec's configuration box, at most

// A full box's entry count and where its entries start; false when the
// entries of `entryBytes` each would run past the box.
bool entries(const ReadAt& read, const IsoBox& box, std::uint64_t skip, std::uint64_t entryBytes, std::uint32_t& count,
             std::uint64_t& first) {
    std::uint8_t n[4];
    const std::uint64_t at = box.contents + 4 + skip;  // version and flags first
    if (at + 4 > box.end || !read(at, 4, n)) return false;
    count = platform::Be32(n);
    first = at + 4;
    return count <= kMaxEntries && static_cast<std::uint64_t>(count) * entryBytes <= box.end - first;
}

bool readTable(const ReadAt& read, std::uint64_t at, std::uint64_t bytes, std::vector<std::uint8_t>& out) {
    out.resize(static_cast<std::size_t>(bytes));
    return bytes == 0 || read(at, out.size(), out.data());
}

// A descriptor of an `esds` box at `at` (its tag, then its size in 7 bits a
// byte, at most four): its tag, and where its contents lie.
bool readDescriptor(const std::vector<std::uint8_t>& b, std::size_t& at, std::uint8_t& tag, std::size_t& end) {
    if (at >= b.size()) return false;
    tag = b[at++];
    std::size_t size = 0;
    for (int k = 0;; ++k) {
        if (k == 4 || at >= b.size()) return false;
        size = size << 7 | (b[at] & 0x7f);
        if (!(b[at++] & 0x80)) break;
    }
    if (size > b.size() - at) return false;
    end = at + size;
    return true;
}

// An AAC sample entry's AudioSpecificConfig, from its `esds` box (after the
// entry's own fields, which QuickTime's versions 1 and 2 make longer; or in
// its `wave` box).
void readAacConfig(const ReadAt& read, const IsoBox& entry, IsoTrack& track) {
    std::uint8_t v[2];
    if (entry.contents + 28 > entry.end || !read(entry.contents + 8, 2, v)) return;
    const unsigned version = v[0] << 8 | v[1];
    const std::uint64_t boxes = entry.contents + (version == 1 ? 44 : version == 2 ? 64 : 28);
    IsoBox esds, wave;
    if (!FindIsoBox(read, boxes, entry.end, "esds", esds) &&
        !(FindIsoBox(read, boxes, entry.end, "wave", wave) && FindIsoBox(read, wave.contents, wave.end, "esds", esds)))
        return;
    if (esds.end - esds.contents > kMaxConfigBytes || esds.end - esds.contents < 4) return;
    std::vector<std::uint8_t> b(static_cast<std::size_t>(esds.end - esds.contents));
    if (!read(esds.contents, b.size(), b.data())) return;
    // ES_Descriptor (3): its id, flags and what they say follows; in it
    // DecoderConfigDescriptor (4): 13 bytes; in it DecoderSpecificInfo (5).
    std::size_t at = 4, end = 0;  // after the box's version and flags
    std::uint8_t tag = 0;
    if (!readDescriptor(b, at, tag, end) || tag != 3 || end - at < 3) return;
    const std::uint8_t flags = b[at + 2];
    at += 3 + (flags & 0x80 ? 2 : 0);
    if (flags & 0x40) {  // a URL, after its length
        if (at >= end) return;
        at += 1 + b[at];
    }
    if (flags & 0x20) at += 2;
    if (at > end || !readDescriptor(b, at, tag, end) || tag != 4 || end - at < 13) return;
    at += 13;
    if (!readDescriptor(b, at, tag, end) || tag != 5 || end == at) return;
    track.codecConfig.assign(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(end));
}

// The first sample entry's type, and for H.264 and H.265 the length of
// their NAL units' lengths (its configuration box: avcC byte 4, hvcC byte 21)
// and the box; for AAC its configuration.
void readCodec(const ReadAt& read, const IsoBox& stbl, IsoTrack& track) {
    IsoBox stsd, entry, config;
    if (!FindIsoBox(read, stbl.contents, stbl.end, "stsd", stsd) ||
        ReadIsoBox(read, stsd.contents + 8, stsd.end, entry) != BoxRead::Box)
        return;
    track.codec = entry.type;
    // A sound sample entry's bits a sample, after its channels.
    std::uint8_t bits[2];
    if (entry.contents + 20 <= entry.end && read(entry.contents + 18, 2, bits))
        track.soundBits = static_cast<std::uint16_t>(bits[0] << 8 | bits[1]);
    if (entry.is("mp4a")) {
        readAacConfig(read, entry, track);
        return;
    }
    // A visual sample entry's own fields take 78 bytes before its boxes.
    const bool avc = entry.is("avc1") || entry.is("avc3"), hevc = entry.is("hvc1") || entry.is("hev1");
    if (!avc && !hevc) return;
    const std::uint64_t at = avc ? 4 : 21;
    std::uint8_t b = 0;
    if (FindIsoBox(read, entry.contents + 78, entry.end, avc ? "avcC" : "hvcC", config) && config.contents + at < config.end &&
        read(config.contents + at, 1, &b)) {
        track.nalLengthBytes = static_cast<std::uint8_t>((b & 3) + 1);
        if (config.end - config.contents <= kMaxConfigBytes) {
            track.codecConfig.resize(static_cast<std::size_t>(config.end - config.contents));
            if (!read(config.contents, track.codecConfig.size(), track.codecConfig.data())) track.codecConfig.clear();
        }
    }
}

// The samples that need none before them (stss, numbered from 1); none
// listed when every sample is so. A list that does not fit its box is left
// unread: the samples' places do not depend on it.
void readSyncSamples(const ReadAt& read, const IsoBox& stbl, IsoTrack& track) {
    IsoBox box;
    if (!FindIsoBox(read, stbl.contents, stbl.end, "stss", box)) return;
    std::uint32_t count = 0;
    std::uint64_t first = 0;
    std::vector<std::uint8_t> t;
    if (!entries(read, box, 0, 4, count, first) || !readTable(read, first, 4ull * count, t)) return;
    for (std::uint32_t i = 0; i < count; ++i) track.syncSamples.push_back(platform::Be32(t.data() + 4 * i));
    track.syncListed = true;
}

bool readTrack(const ReadAt& read, const IsoBox& trak, IsoTrack& track) {
    IsoBox mdia, hdlr, minf, stbl, box;
    if (!FindIsoBox(read, trak.contents, trak.end, "mdia", mdia) || !FindIsoBox(read, mdia.contents, mdia.end, "hdlr", hdlr) ||
        !FindIsoBox(read, mdia.contents, mdia.end, "minf", minf) || !FindIsoBox(read, minf.contents, minf.end, "stbl", stbl))
        return false;
    std::uint8_t h[4];
    if (hdlr.contents + 12 > hdlr.end || !read(hdlr.contents + 8, 4, h)) return false;
    std::copy(h, h + 4, track.handler.begin());
    readCodec(read, stbl, track);
    readSyncSamples(read, stbl, track);
    std::vector<std::uint8_t> t;
    std::uint32_t count = 0;
    std::uint64_t first = 0;
    // Chunk offsets, of 32 or 64 bits.
    if (FindIsoBox(read, stbl.contents, stbl.end, "stco", box)) {
        if (!entries(read, box, 0, 4, count, first) || !readTable(read, first, 4ull * count, t)) return false;
        for (std::uint32_t i = 0; i < count; ++i) track.chunkOffsets.push_back(platform::Be32(t.data() + 4 * i));
    } else if (FindIsoBox(read, stbl.contents, stbl.end, "co64", box)) {
        if (!entries(read, box, 0, 8, count, first) || !readTable(read, first, 8ull * count, t)) return false;
        for (std::uint32_t i = 0; i < count; ++i) track.chunkOffsets.push_back(platform::Be64(t.data() + 8 * i));
    } else {
        return false;
    }
    // Sample sizes: one for all, or one each.
    if (!FindIsoBox(read, stbl.contents, stbl.end, "stsz", box) || box.contents + 12 > box.end || !read(box.contents + 4, 4, h))
        return false;
    const std::uint32_t fixed = platform::Be32(h);
    if (!entries(read, box, 4, fixed == 0 ? 4 : 0, count, first)) return false;
    if (fixed != 0) {
        track.sampleSizes.assign(count, fixed);
    } else {
        if (!readTable(read, first, 4ull * count, t)) return false;
        for (std::uint32_t i = 0; i < count; ++i) track.sampleSizes.push_back(platform::Be32(t.data() + 4 * i));
    }
    // Samples a chunk: runs of chunks, each from its first (counted from 1).
    if (!FindIsoBox(read, stbl.contents, stbl.end, "stsc", box) || !entries(read, box, 0, 12, count, first) ||
        !readTable(read, first, 12ull * count, t))
        return false;
    const std::size_t chunks = track.chunkOffsets.size();
    track.samplesInChunk.assign(chunks, 0);
    std::uint64_t samples = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t from = platform::Be32(t.data() + 12 * i);
        const std::uint64_t to = i + 1 < count ? platform::Be32(t.data() + 12 * (i + 1)) : chunks + 1;
        const std::uint32_t each = platform::Be32(t.data() + 12 * i + 4);
        if (from < 1 || to < from || to > chunks + 1) return false;
        for (std::uint64_t c = from; c < to; ++c) {
            track.samplesInChunk[static_cast<std::size_t>(c - 1)] = each;
            samples += each;
            if (samples > track.sampleSizes.size()) return false;
        }
    }
    return samples == track.sampleSizes.size();
}

}  // namespace

bool ReadSampleTables(const ReadAt& read, const IsoBox& moov, std::vector<IsoTrack>& tracks) {
    tracks.clear();
    IsoBox box;
    std::uint64_t at = moov.contents, samples = 0;
    // Every box the moov holds must fit in it: one that runs past it was cut short.
    for (int n = 0; n < kMaxBoxes && at < moov.end; ++n, at = box.end) {
        const BoxRead found = ReadIsoBox(read, at, moov.end, box);
        if (found != BoxRead::Box) return false;
        if (!box.is("trak")) continue;
        IsoTrack track;
        if (tracks.size() >= kMaxTracks || !readTrack(read, box, track)) return false;
        // A table of one size for all samples takes no room in the file: the
        // samples of all tracks together are bounded as one track's are.
        samples += track.sampleSizes.size();
        if (samples > kMaxEntries) return false;
        tracks.push_back(std::move(track));
    }
    return !tracks.empty();
}

std::vector<ChunkSpan> ChunkSpans(const IsoTrack& track) {
    std::vector<ChunkSpan> spans;
    std::uint32_t sample = 0;
    for (std::size_t c = 0; c < track.chunkOffsets.size() && c < track.samplesInChunk.size(); ++c) {
        // A chunk holds no more samples than there are sizes left for.
        ChunkSpan span{track.chunkOffsets[c], 0, sample, 0};
        for (; span.samples < track.samplesInChunk[c] && sample < track.sampleSizes.size(); ++span.samples)
            span.bytes += track.sampleSizes[sample++];
        spans.push_back(span);
    }
    return spans;
}

Playable PlayableSeconds(const ReadAt& read, std::uint64_t size, std::uint64_t ownBytes) {
    Playable p;
    IsoBox moov;
    std::vector<IsoTrack> tracks;
    p.lasts = MovieSeconds(read, 0, size);
    if (p.lasts <= 0 || !FindIsoBox(read, 0, size, "moov", moov) || !ReadSampleTables(read, moov, tracks)) return p;
    const auto video = std::find_if(tracks.begin(), tracks.end(),
                                    [](const IsoTrack& t) { return std::string_view(t.handler.data(), 4) == "vide"; });
    if (video == tracks.end() || video->sampleSizes.empty()) return p;
    std::uint64_t playing = 0;
    for (const ChunkSpan& span : ChunkSpans(*video)) {
        std::uint64_t at = span.offset;
        for (std::uint32_t s = 0; s < span.samples; ++s) {
            const std::uint32_t bytes = video->sampleSizes[span.firstSample + s];
            if (at > ownBytes || bytes > ownBytes - at) {
                p.plays = p.lasts * static_cast<double>(playing) / static_cast<double>(video->sampleSizes.size());
                return p;
            }
            at += bytes;
            ++playing;
        }
    }
    p.plays = p.lasts * static_cast<double>(playing) / static_cast<double>(video->sampleSizes.size());
    return p;
}

bool NalSamplesInPlace(const ReadAt& read, const std::vector<IsoTrack>& tracks) {
    constexpr std::uint64_t kMostUnits = 1u << 20;
    std::uint64_t units = 0;
    for (const IsoTrack& track : tracks) {
        const unsigned lb = track.nalLengthBytes;
        if (lb != 1 && lb != 2 && lb != 4) continue;
        const std::string_view codec(track.codec.data(), track.codec.size());
        const unsigned hb = codec == "hvc1" || codec == "hev1" ? 2 : 1;
        for (const ChunkSpan& span : ChunkSpans(track)) {
            std::uint64_t at = span.offset;
            for (std::uint32_t k = 0; k < span.samples; ++k) {
                const std::uint64_t end = at + track.sampleSizes[span.firstSample + k];
                if (end < at) return false;  // an offset near the end of the numbers
                for (std::uint8_t head[6]; at < end; ++units) {
                    if (units >= kMostUnits) return true;
                    if (at + lb + hb > end || !read(at, lb + hb, head)) return false;
                    const std::uint64_t length = NalUnitLength(head, lb, hb);
                    if (length == 0 || length > end - at - lb) return false;
                    at += lb + length;
                }
            }
        }
    }
    return true;
}

}  // namespace hx::formats
