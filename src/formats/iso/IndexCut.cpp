#include "formats/iso/IndexCut.h"

#include <algorithm>
#include <vector>

#include "formats/iso/IsoBoxWriter.h"
#include "formats/iso/IsoSampleTables.h"

namespace hx::formats {

namespace {

// One track's samples kept: how many, in how many chunks, and how long they last.
struct Kept {
    std::uint64_t samples = 0, chunks = 0, duration = 0;
};

// A table of `entries` of `bytes` each after its full box header and count,
// the first `keep` of them kept.
std::string firstEntries(const std::string& b, const IsoBox& box, std::uint64_t bytes, std::uint64_t keep) {
    if (box.contents + 8 > box.end) return {};
    const std::uint64_t count = std::min<std::uint64_t>(BytesBe(b, box.contents + 4, 4), (box.end - box.contents - 8) / bytes);
    keep = std::min(keep, count);
    return MakeBox(std::string(box.type.data(), 4).c_str(),
                   b.substr(box.contents, 4) + Be32Bytes(keep) + b.substr(box.contents + 8, keep * bytes));
}

// Runs of (count, value), as stts and ctts hold them, cut to `samples`;
// `duration` adds up the values of stts.
std::string firstRuns(const std::string& b, const IsoBox& box, std::uint64_t samples, std::uint64_t* duration) {
    if (box.contents + 8 > box.end) return {};
    const std::uint64_t count = std::min<std::uint64_t>(BytesBe(b, box.contents + 4, 4), (box.end - box.contents - 8) / 8);
    std::string runs;
    std::uint64_t entries = 0, left = samples;
    for (std::uint64_t k = 0; k < count && left > 0; ++k) {
        const std::uint64_t at = box.contents + 8 + 8 * k;
        const std::uint64_t n = std::min<std::uint64_t>(BytesBe(b, at, 4), left);
        runs += Be32Bytes(n) + b.substr(at + 4, 4);
        if (duration) *duration += n * BytesBe(b, at + 4, 4);
        left -= n;
        ++entries;
    }
    return MakeBox(std::string(box.type.data(), 4).c_str(), b.substr(box.contents, 4) + Be32Bytes(entries) + runs);
}

// The sample tables cut to what `kept` says.
std::string cutTables(const std::string& b, const IsoBox& stbl, Kept& kept) {
    std::string out;
    for (const IsoBox& t : ChildBoxes(b, stbl.contents, stbl.end)) {
        std::string made;
        if (t.is("stts")) {
            made = firstRuns(b, t, kept.samples, &kept.duration);
        } else if (t.is("ctts")) {
            made = firstRuns(b, t, kept.samples, nullptr);
        } else if (t.is("stss")) {
            if (t.contents + 8 > t.end) return {};
            const std::uint64_t count = std::min<std::uint64_t>(BytesBe(b, t.contents + 4, 4), (t.end - t.contents - 8) / 4);
            std::uint64_t keep = 0;
            while (keep < count && BytesBe(b, t.contents + 8 + 4 * keep, 4) <= kept.samples) ++keep;
            made = firstEntries(b, t, 4, keep);
        } else if (t.is("stsz")) {
            if (t.contents + 12 > t.end) return {};
            const bool each = BytesBe(b, t.contents + 4, 4) != 0;
            made = MakeBox("stsz", b.substr(t.contents, 8) + Be32Bytes(kept.samples) +
                                       (each ? std::string() : b.substr(t.contents + 12, kept.samples * 4)));
        } else if (t.is("stsc")) {
            if (t.contents + 8 > t.end) return {};
            const std::uint64_t count = std::min<std::uint64_t>(BytesBe(b, t.contents + 4, 4), (t.end - t.contents - 8) / 12);
            std::uint64_t keep = 0;
            while (keep < count && BytesBe(b, t.contents + 8 + 12 * keep, 4) <= std::max<std::uint64_t>(kept.chunks, 1)) ++keep;
            made = firstEntries(b, t, 12, keep);
        } else if (t.is("stco") || t.is("co64")) {
            made = firstEntries(b, t, t.is("co64") ? 8 : 4, kept.chunks);
        } else if (t.is("sdtp")) {
            if (t.contents + 4 > t.end) return {};
            made = MakeBox("sdtp", b.substr(t.contents, 4 + std::min<std::uint64_t>(kept.samples, t.end - t.contents - 4)));
        } else if (t.is("stz2")) {
            return {};  // compact sizes: not cut
        } else {
            made = BoxBytes(b, t);
        }
        if (made.empty()) return {};
        out += made;
    }
    return MakeBox("stbl", out);
}

// How many of the track's samples lie wholly before `dataEnd`, in their order.
Kept keptOf(const std::string& b, const IsoBox& trak, std::uint64_t dataEnd, bool& video) {
    Kept kept;
    std::vector<IsoTrack> tracks;
    if (!ReadSampleTables(ReaderOf(b), {trak.at, trak.at, trak.end, {'m', 'o', 'o', 'v'}}, tracks) || tracks.size() != 1)
        return kept;
    const IsoTrack& track = tracks.front();
    video = std::string(track.handler.data(), 4) == "vide";
    for (const ChunkSpan& span : ChunkSpans(track)) {
        std::uint64_t at = span.offset;
        for (std::uint32_t s = 0; s < span.samples; ++s) {
            at += track.sampleSizes[span.firstSample + s];
            if (at > dataEnd || span.firstSample + s != kept.samples) return kept;
            if (s == 0) ++kept.chunks;
            ++kept.samples;
        }
    }
    return kept;
}

// One track cut; `duration` its length in the movie's time scale.
std::string cutTrack(const std::string& b, const IsoBox& trak, std::uint64_t dataEnd, std::uint64_t movieScale,
                     std::uint64_t& duration, bool& video) {
    Kept kept = keptOf(b, trak, dataEnd, video);
    const std::vector<IsoBox> track = ChildBoxes(b, trak.contents, trak.end);
    const IsoBox *tkhd = ChildBox(track, "tkhd"), *mdia = ChildBox(track, "mdia");
    if (!tkhd || !mdia) return {};
    const std::vector<IsoBox> media = ChildBoxes(b, mdia->contents, mdia->end);
    const IsoBox *mdhd = ChildBox(media, "mdhd"), *minf = ChildBox(media, "minf");
    if (!mdhd || !minf) return {};
    std::string info;
    for (const IsoBox& m : ChildBoxes(b, minf->contents, minf->end)) {
        const std::string made = m.is("stbl") ? cutTables(b, m, kept) : BoxBytes(b, m);
        if (made.empty()) return {};
        info += made;
    }
    const std::uint64_t mediaScale = TimeScaleOf(b, *mdhd, 12, 20);
    if (mediaScale == 0) return {};
    duration = kept.duration * movieScale / mediaScale;
    std::string inMedia;
    for (const IsoBox& m : media)
        inMedia += m.is("mdhd") ? WithDuration(b, m, 16, 24, kept.duration) : m.is("minf") ? MakeBox("minf", info) : BoxBytes(b, m);
    std::string inTrack;
    for (const IsoBox& t : track)
        inTrack += t.is("tkhd") ? WithDuration(b, t, 20, 28, duration) : t.is("mdia") ? MakeBox("mdia", inMedia) : BoxBytes(b, t);
    if (video && kept.samples == 0) video = false;
    return MakeBox("trak", inTrack);
}

}  // namespace

std::string IndexCutAt(const std::string& moov, std::uint64_t dataEnd) {
    const std::vector<IsoBox> top = ChildBoxes(moov, 0, moov.size());
    if (top.size() != 1 || !top.front().is("moov")) return {};
    const std::vector<IsoBox> movie = ChildBoxes(moov, top.front().contents, top.front().end);
    const IsoBox* mvhd = ChildBox(movie, "mvhd");
    const std::uint64_t movieScale = mvhd ? TimeScaleOf(moov, *mvhd, 12, 20) : 0;
    if (movieScale == 0) return {};
    std::string tracks;
    std::uint64_t longest = 0;
    bool anyVideo = false;
    for (const IsoBox& t : movie) {
        if (!t.is("trak")) continue;
        std::uint64_t duration = 0;
        bool video = false;
        const std::string cut = cutTrack(moov, t, dataEnd, movieScale, duration, video);
        if (cut.empty()) return {};
        tracks += cut;
        anyVideo |= video;
        longest = std::max(longest, duration);
    }
    if (!anyVideo) return {};
    std::string out;
    for (const IsoBox& m : movie)
        out += m.is("mvhd") ? WithDuration(moov, m, 16, 24, longest) : m.is("trak") ? std::string() : BoxBytes(moov, m);
    // The tracks where the first one stood.
    std::size_t at = 0;
    for (const IsoBox& m : movie) {
        if (m.is("trak")) break;
        at += m.end - m.at;
    }
    out.insert(at, tracks);
    return MakeBox("moov", out);
}

}  // namespace hx::formats
