#include "reassembly/IndexMade.h"

#include <algorithm>
#include <numeric>

#include "formats/iso/IsoBoxWriter.h"

namespace hx::reassembly {

using formats::IsoBox;

namespace {

// Each sample's place among those shown, by its order count: within a run the
// counts grow by one step a picture, so a picture whose neighbours were never
// recorded (the last ones before a cut) is still shown at its own time. Empty
// when the counts are not so (two alike, or far more places than pictures).
std::vector<std::int64_t> placesByCount(const std::vector<std::pair<std::uint64_t, std::int64_t>>& samples) {
    std::vector<std::int64_t> place(samples.size());
    std::vector<std::size_t> order(samples.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return samples[a] < samples[b]; });
    std::int64_t next = 0;  // the first place of the run
    for (std::size_t r = 0; r < order.size();) {
        std::size_t e = r;
        std::int64_t step = 0;
        const std::int64_t low = samples[order[r]].second;
        for (; e < order.size() && samples[order[e]].first == samples[order[r]].first; ++e) step = std::gcd(step, samples[order[e]].second - low);
        if (step == 0) step = 1;
        std::int64_t last = next - 1;
        for (std::size_t k = r; k < e; ++k) {
            const std::int64_t p = next + (samples[order[k]].second - low) / step;
            if (p == last) return {};
            place[order[k]] = last = p;
        }
        next = last + 1;
        r = e;
    }
    if (next > static_cast<std::int64_t>(samples.size()) + 64) return {};
    return place;
}

}  // namespace

void SetComposition(const std::vector<std::pair<std::uint64_t, std::int64_t>>& samples, MadeTrack& video) {
    std::vector<std::int64_t> place = placesByCount(samples);
    if (place.empty()) {
        // Shown in the order of their counts, one after another.
        std::vector<std::size_t> shown(samples.size());
        std::iota(shown.begin(), shown.end(), std::size_t{0});
        std::stable_sort(shown.begin(), shown.end(), [&](std::size_t a, std::size_t b) { return samples[a] < samples[b]; });
        place.resize(samples.size());
        for (std::size_t r = 0; r < shown.size(); ++r) place[shown[r]] = static_cast<std::int64_t>(r);
    }
    std::int64_t ahead = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) ahead = std::max(ahead, static_cast<std::int64_t>(k) - place[k]);
    for (std::size_t k = 0; k < samples.size(); ++k)
        video.offsets.push_back(static_cast<std::uint32_t>((place[k] - static_cast<std::int64_t>(k) + ahead) * video.delta));
    video.shift = static_cast<std::uint32_t>(ahead * video.delta);
}

namespace {

// A stbl with the reference's description and the samples made.
std::string sampleTables(std::string_view ref, const IsoBox& stbl, const MadeTrack& m) {
    std::string out;
    for (const IsoBox& b : formats::ChildBoxes(ref, stbl.contents, stbl.end))
        if (b.is("stsd")) out += formats::BoxBytes(ref, b);
    out += formats::MakeFullBox("stts", formats::Be32Bytes(1) + formats::Be32Bytes(m.count) + formats::Be32Bytes(m.delta));
    if (!m.offsets.empty()) {
        std::string runs;
        std::uint32_t entries = 0;
        for (std::size_t k = 0; k < m.offsets.size();) {
            std::size_t n = 1;
            while (k + n < m.offsets.size() && m.offsets[k + n] == m.offsets[k]) ++n;
            runs += formats::Be32Bytes(n) + formats::Be32Bytes(m.offsets[k]);
            ++entries;
            k += n;
        }
        out += formats::MakeFullBox("ctts", formats::Be32Bytes(entries) + runs);
    }
    if (m.listSyncs) {
        std::string sync;
        for (std::uint32_t k : m.syncs) sync += formats::Be32Bytes(k);
        out += formats::MakeFullBox("stss", formats::Be32Bytes(m.syncs.size()) + sync);
    }
    std::string runs;
    std::uint32_t runCount = 0;
    for (std::size_t k = 0; k < m.chunks.size(); ++k)
        if (k == 0 || m.chunks[k].second != m.chunks[k - 1].second) {
            runs += formats::Be32Bytes(k + 1) + formats::Be32Bytes(m.chunks[k].second) + formats::Be32Bytes(1);
            ++runCount;
        }
    out += formats::MakeFullBox("stsc", formats::Be32Bytes(runCount) + runs);
    std::string sizes;
    for (std::uint32_t size : m.sizes) sizes += formats::Be32Bytes(size);
    out += formats::MakeFullBox("stsz", formats::Be32Bytes(m.each) + formats::Be32Bytes(m.count) + sizes);
    const bool wide = !m.chunks.empty() && m.chunks.back().first > 0xFFFFFFFFull;
    std::string offsets;
    for (const auto& [offset, samples] : m.chunks) {
        if (wide) offsets += formats::Be32Bytes(offset >> 32);
        offsets += formats::Be32Bytes(offset & 0xFFFFFFFFull);
    }
    out += formats::MakeFullBox(wide ? "co64" : "stco", formats::Be32Bytes(m.chunks.size()) + offsets);
    return formats::MakeBox("stbl", out);
}

// The reference's track `trak` (its edit list left out), timed and placed
// for the samples made; `duration` is its length in the movie's time scale.
// Pictures shown out of order get an edit list that starts with the first shown.
std::string trackBox(std::string_view ref, const IsoBox& trak, const MadeTrack& m, std::uint64_t movieScale, std::uint64_t& duration) {
    const std::vector<IsoBox> track = formats::ChildBoxes(ref, trak.contents, trak.end);
    const IsoBox* tkhd = formats::ChildBox(track, "tkhd");
    formats::TrackBoxes boxes;
    if (!tkhd || !formats::TrackBoxesOf(ref, trak, boxes)) return {};
    const IsoBox *mdhd = &boxes.mdhd, *hdlr = &boxes.hdlr, *minf = &boxes.minf;
    const std::uint64_t mediaScale = formats::TimeScaleOf(ref, *mdhd, 12, 20);
    if (mediaScale == 0) return {};
    const std::uint64_t mediaDuration = m.count * m.delta;
    duration = mediaDuration * movieScale / mediaScale;
    std::string info;
    for (const IsoBox& b : formats::ChildBoxes(ref, minf->contents, minf->end))
        info += b.is("stbl") ? sampleTables(ref, b, m) : formats::BoxBytes(ref, b);
    const std::string mdiaBox =
        formats::MakeBox("mdia", formats::WithDuration(ref, *mdhd, 16, 24, mediaDuration) + formats::BoxBytes(ref, *hdlr) + formats::MakeBox("minf", info));
    const std::string edits =
        m.shift == 0 ? std::string()
                     : formats::MakeBox("edts", formats::MakeFullBox("elst", formats::Be32Bytes(1) + formats::Be32Bytes(std::min<std::uint64_t>(duration, 0xFFFFFFFFull)) +
                                                        formats::Be32Bytes(m.shift) + formats::Be32Bytes(0x00010000)));
    return formats::MakeBox("trak", formats::WithDuration(ref, *tkhd, 20, 28, duration) + edits + mdiaBox);
}

// The new index: the reference's movie header, its video track and, when
// `sound` has samples, its sound track, timed and placed for the samples made.
}  // namespace

std::string MakeIndex(std::string_view ref, const IsoBox& moov, const IsoBox& videoTrak, const IsoBox& soundTrak,
                      const MadeTrack& video, const MadeTrack& sound) {
    const std::vector<IsoBox> movie = formats::ChildBoxes(ref, moov.contents, moov.end);
    const IsoBox* mvhd = formats::ChildBox(movie, "mvhd");
    if (!mvhd) return {};
    const std::uint64_t movieScale = formats::TimeScaleOf(ref, *mvhd, 12, 20);
    if (movieScale == 0) return {};
    std::uint64_t videoDuration = 0, soundDuration = 0;
    const std::string tracks = trackBox(ref, videoTrak, video, movieScale, videoDuration) +
                               (sound.count > 0 ? trackBox(ref, soundTrak, sound, movieScale, soundDuration) : "");
    return formats::MakeBox("moov", formats::WithDuration(ref, *mvhd, 16, 24, std::max(videoDuration, soundDuration)) + tracks);
}

}  // namespace hx::reassembly
