#include "viewing/ClipPicture.h"

#include <algorithm>
#include <string_view>

#include "formats/PhotoTail.h"
#include "formats/iso/IsoBoxes.h"
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

// The clip's tracks that can be drawn, and how long it lasts; none when its index does not read.
std::vector<formats::IsoTrack> drawableTracks(const formats::ReadAt& read, std::uint64_t size, double& seconds) {
    formats::IsoBox moov;
    std::vector<formats::IsoTrack> tracks;
    if (!formats::FindIsoBox(read, 0, size, "moov", moov) || !formats::ReadSampleTables(read, moov, tracks)) return {};
    tracks.erase(std::remove_if(tracks.begin(), tracks.end(), [](const formats::IsoTrack& t) { return !drawable(t); }),
                 tracks.end());
    seconds = formats::MovieSeconds(read, 0, size);
    return tracks;
}

}  // namespace

ClipFrames::ClipFrames(formats::ReadAt read, std::uint64_t size, const formats::IsoTrack& track, double seconds,
                       unsigned maxWidth)
    : read_(std::move(read)), track_(track), maxWidth_(maxWidth) {
    for (const formats::ChunkSpan& span : formats::ChunkSpans(track_)) {
        std::uint64_t at = span.offset;
        for (std::uint32_t k = 0; k < span.samples; ++k) {
            const std::uint64_t n = track_.sampleSizes[span.firstSample + k];
            if (n == 0 || n > kMaxBytes || at > size || n > size - at) break;
            samples_.emplace_back(at, n);
            at += n;
        }
    }
    if (seconds > 0 && !samples_.empty())
        // Clamped before it is made a whole number: a clip's stated length may be anything.
        milliseconds_ = static_cast<int>(
            std::clamp(seconds * 1000.0 / static_cast<double>(track_.sampleSizes.size()) + 0.5, 10.0, 1000.0));
    restart();
}

void ClipFrames::restart() {
    decoder_ = std::make_unique<formats::PictureDecoder>(track_.codec, track_.codecConfig);
    at_ = 0;
    shownRound_ = false;
}

bool ClipFrames::next(RgbPicture& out) {
    if (!decoder_->ok() || samples_.empty()) return false;
    formats::DrawnPicture drawn;
    bool ended = at_ > samples_.size();
    std::uint64_t bytes = 0;
    for (std::uint32_t sent = 0, rounds = 0; sent <= kMaxSamples && bytes <= kMaxBytes;) {
        if (decoder_->take(maxWidth_, drawn)) {
            out.pixels = std::move(drawn.rgb);
            out.width = drawn.width;
            out.height = drawn.height;
            shownRound_ = true;
            return true;
        }
        if (at_ < samples_.size()) {
            const auto [offset, size] = samples_[at_++];
            std::vector<std::uint8_t> sample(static_cast<std::size_t>(size));
            if (read_(offset, sample.size(), sample.data())) decoder_->send(sample);
            ++sent;
            bytes += size;
        } else if (!ended) {
            // The pictures the decoder still holds.
            decoder_->send({});
            at_ = samples_.size() + 1;
            ended = true;
        } else {
            // Round again from the first, unless the whole clip gave none.
            if (!shownRound_ || ++rounds > 1) return false;
            restart();
            ended = false;
        }
    }
    return false;
}

bool DecodeClipPicture(const formats::ReadAt& read, std::uint64_t size, unsigned maxWidth, RgbPicture& out) {
    double seconds = 0;
    for (const formats::IsoTrack& track : drawableTracks(read, size, seconds))
        if (ClipFrames(read, size, track, seconds, maxWidth).next(out)) return true;
    return false;
}

namespace {
std::unique_ptr<ClipFrames> OpenClipFramesOf(const formats::ReadAt& read, std::uint64_t size, unsigned maxWidth) {
    double seconds = 0;
    const std::vector<formats::IsoTrack> tracks = drawableTracks(read, size, seconds);
    if (tracks.empty()) return nullptr;
    return std::make_unique<ClipFrames>(read, size, tracks.front(), seconds, maxWidth);
}

// Reads of `f`, `size` bytes from `base` on.
formats::ReadAt readsOf(std::shared_ptr<platform::RawFile> f, std::uint64_t base, std::uint64_t size) {
    return [f = std::move(f), base, size](std::uint64_t at, std::size_t n, std::uint8_t* to) {
        return at <= size && n <= size - at && f->readAt(base + at, to, n) == n;
    };
}

std::shared_ptr<platform::RawFile> opened(const std::filesystem::path& file) {
    auto f = std::make_shared<platform::RawFile>();
    if (!f->open(file, platform::RawFile::Mode::Read)) return nullptr;
    return f;
}

// The clip part of the photo that `f` reads, `size` bytes; none: length 0.
formats::PhotoPart clipPart(const std::shared_ptr<platform::RawFile>& f, std::uint64_t size) {
    for (const formats::PhotoPart& part : formats::ReadPhotoParts(readsOf(f, 0, size), size).parts)
        if (part.kind == formats::PartKind::Clip && part.end() <= size) return part;
    return {formats::PartKind::Clip, 0, 0};
}

// Reads of the clip that `file` is, or (`photo`) the clip inside it; its size then.
formats::ReadAt clipReads(const std::filesystem::path& file, bool photo, std::uint64_t& size) {
    const auto f = opened(file);
    if (!f) return nullptr;
    size = f->size();
    if (!photo) return readsOf(f, 0, size);
    const formats::PhotoPart clip = clipPart(f, size);
    size = clip.length;
    return clip.length > 0 ? readsOf(f, clip.offset, clip.length) : nullptr;
}
}  // namespace

std::unique_ptr<ClipFrames> OpenClipFrames(const std::filesystem::path& file, bool photo, unsigned maxWidth) {
    std::uint64_t size = 0;
    const formats::ReadAt read = clipReads(file, photo, size);
    return read ? OpenClipFramesOf(read, size, maxWidth) : nullptr;
}

bool LoadClipPicture(const std::filesystem::path& file, unsigned maxWidth, RgbPicture& out) {
    std::uint64_t size = 0;
    const formats::ReadAt read = clipReads(file, false, size);
    return read && DecodeClipPicture(read, size, maxWidth, out);
}

bool LoadPhotoClipPicture(const std::filesystem::path& photo, unsigned maxWidth, RgbPicture& out) {
    std::uint64_t size = 0;
    const formats::ReadAt read = clipReads(photo, true, size);
    return read && DecodeClipPicture(read, size, maxWidth, out);
}

bool HasPhotoClip(const std::filesystem::path& photo) {
    const auto f = opened(photo);
    return f && clipPart(f, f->size()).length > 0;
}

}  // namespace hx::viewing
