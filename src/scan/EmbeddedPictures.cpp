#include "scan/EmbeddedPictures.h"

#include <algorithm>
#include <cstring>

#include "formats/JpegStart.h"
#include "formats/PhotoTail.h"
#include "formats/PictureCheck.h"

namespace hx::scan {

namespace {

constexpr std::size_t kChunk = 1u << 20;
constexpr std::size_t kFirstChunk = 64u << 10;

}  // namespace

bool EmbeddedPictureFinder::open(const std::string& source, std::uint32_t sectorBytes, const media::SectorRuns& known) {
    open_ = medium_.open(source, sectorBytes, known);
    return open_;
}

std::vector<std::uint64_t> EmbeddedPictureFinder::candidates(const std::uint8_t* data, std::size_t size,
                                                             std::uint64_t offset, std::size_t from,
                                                             std::uint64_t unitBytes, bool skipAligned) const {
    std::vector<std::uint64_t> out;
    if (size < 4) return out;
    for (std::size_t i = from; i + 4 <= size && out.size() < kMaxCandidatesPerBlock; ++i) {
        const void* hit = std::memchr(data + i, 0xFF, size - 3 - i);
        if (!hit) break;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
        if (data[i + 1] != 0xD8 || !formats::IsJpegStart(data + i, size - i)) continue;
        const std::uint64_t at = offset + i;
        if (skipAligned && unitBytes > 0 && at % unitBytes == 0) continue;
        out.push_back(at);
    }
    return out;
}

std::uint64_t EmbeddedPictureFinder::measure(std::uint64_t offset, std::vector<formats::PhotoPart>* parts) {
    if (!open_) return 0;
    formats::JpegEndFinder end;
    buffer_.clear();
    const std::uint64_t sourceBytes = medium_->size();
    if (offset >= sourceBytes) return 0;
    // The marker walk finds the end marker; the bytes up to it must then decode cleanly.
    // Most such pictures are thumbnails of a few kilobytes: the reads start
    // small and double, and never reach past the source's end.
    std::size_t chunk = kFirstChunk;
    while (buffer_.size() < kMaxBytes && !end.done() && !end.failed()) {
        const std::size_t at = buffer_.size();
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, sourceBytes - offset - at));
        if (want == 0) break;
        chunk = std::min(chunk * 2, kChunk);
        buffer_.resize(at + want);
        const std::size_t got = medium_->readAt(offset + at, buffer_.data() + at, want);
        buffer_.resize(at + got);
        if (got == 0) break;
        end.feed(buffer_.data() + at, got);
    }
    if (!end.done() || end.length() > buffer_.size()) return 0;
    const std::uint64_t length = end.length();
    const formats::JpegCheck check = formats::CheckJpegBuffer(buffer_.data(), static_cast<std::size_t>(length));
    if (!check.complete || check.warnings > 0 || check.end != length) return 0;
    // What follows it may still be its own: a clip, a second picture.
    const formats::PartsCheck whole = formats::ReadPhotoParts(
        [this, offset](std::uint64_t at, std::size_t n, std::uint8_t* out) {
            return medium_->readAt(offset + at, out, n) == n;
        },
        std::min<std::uint64_t>(sourceBytes - offset, kMaxBytes));
    if (whole.parts.size() < 2 || whole.end <= length) return length;
    if (parts) *parts = whole.parts;
    return whole.end;
}

std::vector<std::uint8_t> EmbeddedPictureFinder::read(const EmbeddedPicture& picture) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(picture.length));
    if (!open_ || medium_->readAt(picture.offset, bytes.data(), bytes.size()) != bytes.size()) bytes.clear();
    return bytes;
}

}  // namespace hx::scan
