#include "viewing/ExifThumbnail.h"

#include <algorithm>
#include <cstring>

namespace hx::viewing {

namespace {

class Tiff {
public:
    Tiff(const std::uint8_t* p, std::size_t n, bool little) : p_(p), n_(n), little_(little) {}
    bool has(std::size_t at, std::size_t len) const { return at <= n_ && len <= n_ - at; }
    std::uint32_t u16(std::size_t at) const {
        return little_ ? p_[at] | p_[at + 1] << 8 : p_[at] << 8 | p_[at + 1];
    }
    std::uint32_t u32(std::size_t at) const {
        return little_ ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    }

private:
    const std::uint8_t* p_;
    std::size_t n_;
    bool little_;
};

// The thumbnail inside one TIFF block (offsets count from its start).
ByteSpan inTiff(const std::uint8_t* t, std::size_t n) {
    if (n < 8 || !((t[0] == 'I' && t[1] == 'I') || (t[0] == 'M' && t[1] == 'M'))) return {};
    const Tiff tiff(t, n, t[0] == 'I');
    std::size_t ifd = tiff.u32(4);
    // IFD0, then the next one (IFD1) holds the thumbnail.
    for (int which = 0; which < 2; ++which) {
        if (ifd < 8 || !tiff.has(ifd, 2)) return {};
        const std::size_t count = tiff.u16(ifd);
        if (count == 0 || !tiff.has(ifd + 2, count * 12 + 4)) return {};
        if (which == 0) {
            ifd = tiff.u32(ifd + 2 + count * 12);
            continue;
        }
        std::size_t at = 0, length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t e = ifd + 2 + i * 12;
            if (tiff.u16(e) == 0x201) at = tiff.u32(e + 8);
            if (tiff.u16(e) == 0x202) length = tiff.u32(e + 8);
        }
        if (at == 0 || length < 4 || !tiff.has(at, length) || t[at] != 0xFF || t[at + 1] != 0xD8) return {};
        return {at, length};
    }
    return {};
}

}  // namespace

ByteSpan FindExifThumbnail(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return {};
    std::size_t at = 2;
    // The EXIF block comes among the first segments, before the picture's tables.
    for (int segments = 0; segments < 16 && at + 4 <= size && data[at] == 0xFF; ++segments) {
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xDA || marker == 0xD9) break;
        const std::size_t length = data[at + 2] << 8 | data[at + 3];
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
