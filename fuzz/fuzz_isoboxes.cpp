// ISO base media boxes and a movie's sample tables over arbitrary bytes: the
// walks stay inside the data, and every chunk the tables give is counted
// from sizes that were there to read. An AAC frame's start is read from the
// same bytes, a track's picture decoded as far as it goes, an index is cut to fewer samples, a lost index is made for
// them after their other half, and their first picture is drawn.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "reassembly/RebuiltIndex.h"
#include "formats/codecs/AacFrames.h"
#include "formats/codecs/PicturesDecode.h"
#include "formats/codecs/SliceHeaders.h"
#include "formats/iso/IndexCut.h"
#include "reassembly/SplitMovies.h"
#include "formats/iso/IsoSampleTables.h"
#include "viewing/ClipPicture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const hx::formats::ReadAt read = [data, size](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        if (at > size || n > size - at) return false;
        if (n > 0) std::memcpy(out, data + at, n);
        return true;
    };
    hx::formats::IsoBox moov;
    if (!hx::formats::FindIsoBox(read, 0, size, "moov", moov)) moov = {0, 0, size, {'m', 'o', 'o', 'v'}};
    if (moov.end > size || moov.contents > moov.end) std::abort();
    std::vector<hx::formats::IsoTrack> tracks;
    if (hx::formats::ReadSampleTables(read, moov, tracks))
        for (const auto& track : tracks) {
            std::uint64_t samples = 0;
            for (const auto& span : hx::formats::ChunkSpans(track)) samples += span.samples;
            if (samples != track.sampleSizes.size()) std::abort();
        }
    hx::formats::AacFrameStarts(data, size);
    hx::formats::AacFrameEnds(data, size);
    // The bytes as a configuration box's contents, and as a picture of each
    // track's codec decoded as far as it goes, cut where the first byte says.
    hx::formats::H264CodedWithVariableLengths(std::string_view(reinterpret_cast<const char*>(data), size), 0, size);
    for (const auto& track : tracks) {
        // (with arithmetic coding too where the second byte is odd)
        const hx::formats::DecodedSoFar so = hx::formats::PicturesDecodeSoFar(
            track.codec, track.codecConfig, {std::vector<std::uint8_t>(data, data + std::min<std::size_t>(size, 1 << 16))},
            size > 0 ? std::size_t{data[0]} * 64 : 0, 1, size > 1 && data[1] % 2 == 1);
        if (so.whole && !so.told) std::abort();
        // And as its last picture's NAL units, cut short at their end, in a run and alone.
        hx::formats::PicturesDecodeWithoutTheirEnd(track.codec, track.codecConfig,
                                                   {std::vector<std::uint8_t>(data, data + std::min<std::size_t>(size, 1 << 16))});
        hx::formats::PictureDecodesAloneWithoutItsEnd(track.codec, track.codecConfig,
                                                      std::vector<std::uint8_t>(data, data + std::min<std::size_t>(size, 1 << 16)));
        // And as the pictures it shows, each laid out first as a checkerboard and looked over for it.
        hx::formats::PicturesShown(track.codec, track.codecConfig,
                                   {std::vector<std::uint8_t>(data, data + std::min<std::size_t>(size, 1 << 16))}, 0);
        // And as a sound frame of the track's configuration (read from its esds box).
        hx::formats::AacFrameDecodes(track.codecConfig, data, std::min<std::size_t>(size, 1 << 16));
    }
    hx::viewing::RgbPicture first;
    if (hx::viewing::DecodeClipPicture(read, size, 64, first) &&
        first.pixels.size() != std::size_t{first.width} * first.height * 3)
        std::abort();
    // The bytes as an index cut to the samples before a byte the first one names.
    if (size > 1) {
        const std::string moovBytes(reinterpret_cast<const char*>(data) + 1, size - 1);
        const std::string cut = hx::formats::IndexCutAt(moovBytes, std::uint64_t{data[0]} * size / 16);
        if (cut.size() > moovBytes.size() + 64) std::abort();  // cutting never makes it grow (but for box headers)
    }
    // The bytes as a clip whose index is lost and as the clip of the same
    // camera its index is made after, split where the first byte says.
    if (size > 1) {
        const std::size_t half = 1 + data[0] * (size - 1) / 256;
        const std::string a(reinterpret_cast<const char*>(data) + 1, half - 1),
            b(reinterpret_cast<const char*>(data) + half, size - half);
        std::string made;
        if (hx::reassembly::RebuildIndex(a, b, made) && made.size() > a.size() + (1u << 26)) std::abort();
    }
    return 0;
}
