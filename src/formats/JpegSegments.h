#pragma once
// The marker segments of a JPEG's headers, from its start marker up to its
// first scan: the one walk over them for every reader of what they hold
// (the EXIF block and its thumbnail, XMP, the MPF index).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace hx::formats {

struct JpegSegment {
    std::uint8_t marker = 0;  // its code: 0xE1 for APP1, ...
    std::size_t at = 0;       // where its FF lies
    std::size_t body = 0;     // where what it holds begins, after its length
    std::size_t length = 0;   // what it holds, by its length field
    // Of what it holds, the bytes that are there (the walk may have been handed fewer).
    std::size_t available(std::size_t size) const { return body >= size ? 0 : std::min(length, size - body); }
};

// Hands each segment of the headers in data[0, size) to `seen` until it
// returns false, the first scan or end marker is reached, the structure
// breaks or the bytes run out. At most `maxSegments` are walked.
void ForEachJpegSegment(const std::uint8_t* data, std::size_t size,
                        const std::function<bool(const JpegSegment&)>& seen, int maxSegments = 256);

// One Huffman table of a DHT segment.
struct HuffmanTableSpec {
    std::uint8_t kind = 0;  // 0: DC, 1: AC
    std::uint8_t slot = 0;  // 0 to 3
    const std::uint8_t* counts = nullptr;  // codes of each length, 1 to 16 bits
    const std::uint8_t* values = nullptr;  // `total` of them
    std::size_t total = 0;
};

// The tables of a DHT segment's body p[0, n), each handed to `seen` until it
// returns false. False when the body is not tables end to end: of a class or
// slot out of range, of more than 256 values, or running past the body. An
// empty body holds no table and is not refused.
bool ForEachHuffmanTable(const std::uint8_t* p, std::size_t n, const std::function<bool(const HuffmanTableSpec&)>& seen);

// A frame header (SOF): precision, height, width and each component's id and
// sampling factors.
struct JpegFrame {
    std::uint8_t precision = 0;
    std::uint16_t height = 0;  // 0 when a DNL marker gives it after the first scan
    std::uint16_t width = 0;
    int components = 0;
    struct Component {
        std::uint8_t id = 0, h = 1, v = 1;
    };
    Component component[4]{};
};

// The frame header in a SOF segment's body p[0, n): false unless it is sane,
// of 8, 12 or 16 bits, a width, 1 to 4 components of sampling factors 1 to 4,
// and no shorter than they need.
bool ReadJpegFrame(const std::uint8_t* p, std::size_t n, JpegFrame& frame);

}  // namespace hx::formats
