#include "viewing/ClipPicture.h"

#include <string_view>
#include <vector>

#include "formats/PhotoTail.h"
#include "formats/codecs/PicturesDecode.h"
#include "formats/iso/IsoBoxes.h"
#include "formats/iso/IsoSampleTables.h"
#include "platform/RawFile.h"

namespace hx::viewing {

namespace {

// Samples fed to the decoder before it gives up on a picture, and their bytes at most.
constexpr std::uint32_t kMaxSamples = 32;
constexpr std::uint64_t kMaxBytes = 64ull << 20;

bool drawable(const formats::IsoTrack& track) {
    const std::string_view codec(track.codec.data(), track.codec.size());
    return (codec == "avc1" || codec == "avc3" || codec == "hvc1" || codec == "hev1") && !track.codecConfig.empty() &&
           !track.sampleSizes.empty();
}

}  // namespace

bool DecodeClipPicture(const formats::ReadAt& read, std::uint64_t size, unsigned maxWidth, RgbPicture& out) {
    formats::IsoBox moov;
    std::vector<formats::IsoTrack> tracks;
    if (!formats::FindIsoBox(read, 0, size, "moov", moov) || !formats::ReadSampleTables(read, moov, tracks)) return false;
    for (const formats::IsoTrack& track : tracks) {
        if (!drawable(track)) continue;
        // The samples from the first on, as its chunks hold them.
        std::vector<std::vector<std::uint8_t>> samples;
        std::uint64_t bytes = 0;
        bool enough = false;
        for (const formats::ChunkSpan& span : formats::ChunkSpans(track)) {
            std::uint64_t at = span.offset;
            for (std::uint32_t k = 0; k < span.samples && !enough; ++k) {
                const std::uint64_t n = track.sampleSizes[span.firstSample + k];
                enough = samples.size() >= kMaxSamples || n == 0 || at + n > size || (bytes += n) > kMaxBytes;
                if (enough) break;
                samples.emplace_back(static_cast<std::size_t>(n));
                if (!read(at, samples.back().size(), samples.back().data())) return false;
                at += n;
            }
            if (enough) break;
        }
        formats::DrawnPicture drawn;
        if (samples.empty() || !formats::FirstPicture(track.codec, track.codecConfig, samples, maxWidth, drawn)) continue;
        out.pixels = std::move(drawn.rgb);
        out.width = drawn.width;
        out.height = drawn.height;
        return true;
    }
    return false;
}

namespace {
// Reads of `f`, `size` bytes from `base` on.
formats::ReadAt readsOf(platform::RawFile& f, std::uint64_t base, std::uint64_t size) {
    return [&f, base, size](std::uint64_t at, std::size_t n, std::uint8_t* to) {
        return at <= size && n <= size - at && f.readAt(base + at, to, n) == n;
    };
}
}  // namespace

bool LoadClipPicture(const std::filesystem::path& file, unsigned maxWidth, RgbPicture& out) {
    platform::RawFile f;
    if (!f.open(file, platform::RawFile::Mode::Read)) return false;
    const std::uint64_t size = f.size();
    return DecodeClipPicture(readsOf(f, 0, size), size, maxWidth, out);
}

namespace {
// The clip part of the photo that `f` reads, `size` bytes; none: length 0.
formats::PhotoPart clipPart(platform::RawFile& f, std::uint64_t size) {
    for (const formats::PhotoPart& part : formats::ReadPhotoParts(readsOf(f, 0, size), size).parts)
        if (part.kind == formats::PartKind::Clip && part.end() <= size) return part;
    return {formats::PartKind::Clip, 0, 0};
}
}  // namespace

bool LoadPhotoClipPicture(const std::filesystem::path& photo, unsigned maxWidth, RgbPicture& out) {
    platform::RawFile f;
    if (!f.open(photo, platform::RawFile::Mode::Read)) return false;
    const std::uint64_t size = f.size();
    const formats::PhotoPart clip = clipPart(f, size);
    return clip.length > 0 && DecodeClipPicture(readsOf(f, clip.offset, clip.length), clip.length, maxWidth, out);
}

bool HasPhotoClip(const std::filesystem::path& photo) {
    platform::RawFile f;
    return f.open(photo, platform::RawFile::Mode::Read) && clipPart(f, f.size()).length > 0;
}

}  // namespace hx::viewing
