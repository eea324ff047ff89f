#include "viewing/ExifThumbnail.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/JpegSegments.h"
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
    ByteSpan found;
    // The EXIF block comes among the first segments, before the picture's tables.
    formats::ForEachJpegSegment(
        data, size,
        [&](const formats::JpegSegment& s) {
            if (s.marker != 0xE1 || s.length <= 6 || s.available(size) < 6 ||
                std::memcmp(data + s.body, "Exif\0\0", 6) != 0)
                return true;
            const std::size_t tiff = s.body + 6;
            found = inTiff(data + tiff, s.body + s.available(size) - tiff);
            if (found.length) found.offset += tiff;
            return false;
        },
        16);
    return found;
}

}  // namespace hx::viewing
