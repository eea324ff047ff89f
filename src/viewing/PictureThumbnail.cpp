#include "viewing/PictureThumbnail.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/RawFile.h"
#include "formats/Formats.h"
#include "viewing/ClipPicture.h"
#include "viewing/HeifPicture.h"
#include "viewing/JpegThumbnail.h"

namespace hx::viewing {

namespace fs = std::filesystem;

namespace {

// Bounds on what a corrupt file can make us read or walk.
constexpr std::size_t kMaxPreviewBytes = 32u << 20;
constexpr int kMaxDirectories = 32;
constexpr std::size_t kScanBytes = 1u << 20;
constexpr std::size_t kMaxScanned = 16;

bool startsAsJpeg(const formats::ReadAt& read, std::uint64_t offset) {
    std::uint8_t m[3];
    return read(offset, 3, m) && m[0] == 0xFF && m[1] == 0xD8 && m[2] == 0xFF;
}

void addIfJpeg(std::vector<ByteSpan>& out, const formats::ReadAt& read, std::uint64_t size, std::uint64_t offset,
               std::uint64_t length) {
    if (length < 128 || length > kMaxPreviewBytes || offset >= size || length > size - offset) return;
    if (!startsAsJpeg(read, offset)) return;
    for (const auto& s : out)
        if (s.offset == offset) return;
    out.push_back({static_cast<std::size_t>(offset), static_cast<std::size_t>(length)});
}

// Every directory of a TIFF-based raw: IFD0's chain and the sub-directories.
void tiffPreviews(const formats::ReadAt& read, std::uint64_t size, std::vector<ByteSpan>& out) {
    formats::TiffReader tiff(read);
    if (!tiff.open()) return;
    std::vector<std::uint32_t> todo = {tiff.firstDirectory()};
    std::vector<std::uint32_t> seen;
    while (!todo.empty() && static_cast<int>(seen.size()) < kMaxDirectories) {
        const std::uint32_t at = todo.back();
        todo.pop_back();
        if (at == 0 || std::find(seen.begin(), seen.end(), at) != seen.end()) continue;
        seen.push_back(at);
        std::vector<formats::TiffEntry> entries;
        std::uint32_t next = 0;
        if (!tiff.directory(at, entries, next)) continue;
        todo.push_back(next);
        std::uint64_t jpegAt = 0, jpegLength = 0, stripAt = 0, stripLength = 0, compression = 0;
        std::uint32_t strips = 0;
        for (const auto& e : entries) {
            switch (e.tag) {
                case 0x0201: jpegAt = tiff.number(e); break;
                case 0x0202: jpegLength = tiff.number(e); break;
                case 0x0103: compression = tiff.number(e); break;
                case 0x0111: stripAt = tiff.number(e), strips = e.count; break;
                case 0x0117: stripLength = tiff.number(e); break;
                case 0x014A: {
                    std::vector<std::uint32_t> subs;
                    if (tiff.numbers(e, subs, 8)) todo.insert(todo.end(), subs.begin(), subs.end());
                    break;
                }
                default: break;
            }
        }
        addIfJpeg(out, read, size, jpegAt, jpegLength);
        if ((compression == 6 || compression == 7) && strips == 1) addIfJpeg(out, read, size, stripAt, stripLength);
    }
}

// JPEGs that start in the file's first bytes, each to its end marker's last
// sight within reach (the decoder stops at the picture's own end).
void scannedPreviews(const formats::ReadAt& read, std::uint64_t size, std::vector<ByteSpan>& out) {
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(size, kScanBytes)));
    if (head.empty() || !read(0, head.size(), head.data())) return;
    const std::string_view v(reinterpret_cast<const char*>(head.data()), head.size());
    for (std::size_t at = v.find("\xFF\xD8\xFF", 1); at != std::string_view::npos && out.size() < kMaxScanned;
         at = v.find("\xFF\xD8\xFF", at + 3)) {
        const std::uint8_t kind = at + 3 < head.size() ? head[at + 3] : 0;
        if (kind != 0xDB && kind != 0xC0 && kind != 0xC4 && kind != 0xE0 && kind != 0xE1) continue;
        addIfJpeg(out, read, size, at, std::min<std::uint64_t>(size - at, kMaxPreviewBytes));
    }
}

bool rawPicture(const fs::path& file, int maxWidth, RgbPicture& out) {
    platform::RawFile f;
    if (!f.open(file, platform::RawFile::Mode::Read)) return false;
    const std::uint64_t size = f.size();
    const formats::ReadAt read = [&f](std::uint64_t offset, std::size_t length, std::uint8_t* to) {
        return f.readAt(offset, to, length) == length;
    };
    for (const ByteSpan& s : FindRawPreviews(read, size)) {
        std::vector<std::uint8_t> bytes(s.length);
        if (read(s.offset, s.length, bytes.data()) && DecodeJpegScaled(bytes.data(), bytes.size(), maxWidth, out))
            return true;
    }
    return false;
}

}  // namespace

bool HasSmallPicture(std::string extension) { return !extension.empty() && formats::HasTrait(extension, formats::kDrawn); }

std::vector<ByteSpan> FindRawPreviews(const formats::ReadAt& read, std::uint64_t size) {
    std::vector<ByteSpan> out;
    std::uint8_t header[96] = {};
    if (size >= sizeof header && read(0, sizeof header, header) &&
        std::memcmp(header, "FUJIFILMCCD-RAW ", 16) == 0)
        addIfJpeg(out, read, size, platform::Be32(header + 84), platform::Be32(header + 88));
    else
        tiffPreviews(read, size, out);
    std::sort(out.begin(), out.end(), [](const ByteSpan& a, const ByteSpan& b) { return a.length > b.length; });
    if (out.empty()) scannedPreviews(read, size, out);
    return out;
}

bool LoadSmallPicture(const fs::path& file, int maxWidth, RgbPicture& out) {
    platform::RawFile f;
    if (!f.open(file, platform::RawFile::Mode::Read)) return false;
    std::uint8_t head[16] = {};
    const std::size_t got = f.readAt(0, head, sizeof head);
    f.close();
    if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        std::vector<std::uint8_t> bytes;
        platform::RawFile again;
        if (!again.open(file, platform::RawFile::Mode::Read)) return false;
        bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(again.size(), 256u << 20)));
        return again.readAt(0, bytes.data(), bytes.size()) == bytes.size() &&
               DecodeJpegScaled(bytes.data(), bytes.size(), maxWidth, out);
    }
    if (LooksLikeHeif(head, got)) return DecodeHeif(file, static_cast<unsigned>(std::max(maxWidth, 0)), out);
    // A clip's first picture.
    if (const formats::Format* format = formats::FormatOf(file.extension().string());
        format && format->family == formats::Family::Movie)
        return LoadClipPicture(file, static_cast<unsigned>(std::max(maxWidth, 0)), out);
    return rawPicture(file, maxWidth, out);
}

bool MakePictureThumbnail(const fs::path& file, const fs::path& thumbnail, int maxWidth) {
    std::uint8_t head[3] = {};
    if (platform::RawFile f; f.open(file, platform::RawFile::Mode::Read) && f.readAt(0, head, 3) == 3 &&
                             head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return MakeJpegThumbnail(file, thumbnail, maxWidth);
    RgbPicture picture;
    return LoadSmallPicture(file, maxWidth, picture) && WriteJpegPicture(thumbnail, picture);
}

}  // namespace hx::viewing
