#include "formats/JpegStart.h"

#include <cstring>

#include "formats/JpegSegments.h"

namespace hx::formats {

namespace {

std::uint32_t be16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }

bool startsWith(const std::uint8_t* p, std::size_t size, const char* what, std::size_t n) {
    return size >= n && std::memcmp(p, what, n) == 0;
}

// An APPn segment whose opening names what it is; `size` bytes of it (after the length) are there.
bool namedApp(std::uint8_t code, const std::uint8_t* p, std::size_t size) {
    switch (code) {
        case 0xE0: return startsWith(p, size, "JFIF\0", 5) || startsWith(p, size, "JFXX\0", 5);
        case 0xE1: return startsWith(p, size, "Exif\0", 5) || startsWith(p, size, "http://ns.adobe.com/xap/1.0/\0", 29);
        case 0xE2: return startsWith(p, size, "ICC_PROFILE\0", 12) || startsWith(p, size, "MPF\0", 4);
        case 0xED: return startsWith(p, size, "Photoshop 3.0\0", 14);
        case 0xEE: return startsWith(p, size, "Adobe", 5);
        default: return false;
    }
}

// The contents of a segment whose whole `n` bytes are there are what its kind holds.
bool saneSegment(std::uint8_t code, const std::uint8_t* p, std::size_t n) {
    if (code == 0xDB) {  // quantisation tables of 64 bytes or 64 words each
        std::size_t at = 0;
        while (at < n) {
            const std::size_t precision = p[at] >> 4, slot = p[at] & 15;
            if (precision > 1 || slot > 3) return false;
            at += 1 + (precision ? 128 : 64);
        }
        return at == n && n > 0;
    }
    if (code == 0xC4)  // Huffman tables, none of them empty
        return n > 0 && ForEachHuffmanTable(p, n, [](const HuffmanTableSpec& t) { return t.total > 0; });
    if (code == 0xDD) return n == 2;
    if (code == 0xFE || (code >= 0xE0 && code <= 0xEF)) return true;
    return false;
}

// A frame header, sane and of exactly the length its components need.
bool saneFrame(const std::uint8_t* p, std::size_t n) {
    JpegFrame frame;
    return ReadJpegFrame(p, n, frame) && n == 6 + 3u * static_cast<std::size_t>(frame.components);
}

bool isFrame(std::uint8_t code) { return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC; }

}  // namespace

bool IsJpegStart(const std::uint8_t* p, std::size_t size) {
    if (size < 6 || p[0] != 0xFF || p[1] != 0xD8 || p[2] != 0xFF) return false;
    std::size_t at = 2;
    for (int segments = 0; segments < 64; ++segments) {
        if (at + 4 > size) return segments > 0;  // the bytes end between segments
        if (p[at] != 0xFF) return false;
        const std::uint8_t code = p[at + 1];
        const std::size_t length = be16(p + at + 2);
        if (length < 2) return false;
        const std::uint8_t* body = p + at + 4;
        const std::size_t n = length - 2;
        const std::size_t there = size - at - 4;
        if (isFrame(code)) return n <= there ? saneFrame(body, n) : false;
        if (code == 0xDA) return segments > 0 && n <= there && n >= 6 && n == 4 + 2u * body[0];  // the scan, after tables
        const bool known = code == 0xDB || code == 0xC4 || code == 0xDD || code == 0xFE || (code >= 0xE0 && code <= 0xEF);
        if (!known) return false;
        if (n > there) return code >= 0xE0 && code <= 0xEF && namedApp(code, body, there);
        if (!saneSegment(code, body, n)) return false;
        at += length + 2;
    }
    return false;
}

}  // namespace hx::formats
