#include "viewing/ExifThumbnail.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ByteOrder.h"
#include "formats/TiffReader.h"

namespace hx::viewing {

namespace {

// The thumbnail inside one TIFF block (offsets count from its start).
ByteSpan inTiff(const std::uint8_t* t, std::size_t n) {
    formats::TiffReader tiff(t, n);
    if (!tiff.open()) return {};
    // IFD0, then the next one (IFD1) holds the thumbnail.
    std::vector<formats::TiffEntry> entries;
    std::uint32_t next = 0;
    if (!tiff.directory(tiff.firstDirectory(), entries, next) || !tiff.directory(next, entries, next)) return {};
    std::size_t at = 0, length = 0;
    for (const formats::TiffEntry& e : entries) {
        if (e.tag == 0x201) at = tiff.number(e);
        if (e.tag == 0x202) length = tiff.number(e);
    }
    if (at == 0 || length < 4 || at > n || length > n - at || t[at] != 0xFF || t[at + 1] != 0xD8) return {};
    return {at, length};
}

}  // namespace

ByteSpan FindExifThumbnail(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return {};
    std::size_t at = 2;
    // The EXIF block comes among the first segments, before the picture's tables.
    for (int segments = 0; segments < 16 && at + 4 <= size && data[at] == 0xFF; ++segments) {
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xDA || marker == 0xD9) break;
        const std::size_t length = platform::Be16(data + at + 2);
        if (length < 2) break;
        const std::size_t body = at + 4, bodyLength = length - 2;
        if (marker == 0xE1 && bodyLength > 6 && body + 6 <= size && std::memcmp(data + body, "Exif\0\0", 6) == 0) {
            const std::size_t tiff = body + 6;
            const std::size_t available = std::min(size, body + bodyLength) - tiff;
            ByteSpan s = inTiff(data + tiff, available);
            if (s.length) s.offset += tiff;
            return s;
        }
        at += 2 + length;
    }
    return {};
}

}  // namespace hx::viewing
