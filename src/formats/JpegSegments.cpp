#include "formats/JpegSegments.h"

#include <algorithm>

namespace hx::formats {

void ForEachJpegSegment(const std::uint8_t* data, std::size_t size,
                        const std::function<bool(const JpegSegment&)>& seen, int maxSegments) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return;
    std::size_t at = 2;
    for (int n = 0; n < maxSegments && at + 4 <= size; ++n) {
        if (data[at] != 0xFF) return;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // a fill byte before the marker
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9 || marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7)) return;
        const std::size_t length = static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3];
        if (length < 2) return;
        if (!seen(JpegSegment{marker, at, at + 4, length - 2})) return;
        at += 2 + length;
    }
}

bool ForEachHuffmanTable(const std::uint8_t* p, std::size_t n, const std::function<bool(const HuffmanTableSpec&)>& seen) {
    for (std::size_t at = 0; at < n;) {
        if (n - at < 17) return false;
        HuffmanTableSpec t;
        t.kind = p[at] >> 4;
        t.slot = p[at] & 15;
        if (t.kind > 1 || t.slot > 3) return false;
        for (int k = 1; k <= 16; ++k) t.total += p[at + k];
        if (t.total > 256 || n - at - 17 < t.total) return false;
        t.counts = p + at + 1;
        t.values = p + at + 17;
        if (!seen(t)) return false;
        at += 17 + t.total;
    }
    return true;
}

bool ReadJpegFrame(const std::uint8_t* p, std::size_t n, JpegFrame& frame) {
    if (n < 6) return false;
    frame = JpegFrame();
    frame.precision = p[0];
    frame.height = static_cast<std::uint16_t>(p[1] << 8 | p[2]);
    frame.width = static_cast<std::uint16_t>(p[3] << 8 | p[4]);
    frame.components = p[5];
    if ((frame.precision != 8 && frame.precision != 12 && frame.precision != 16) || frame.width == 0 ||
        frame.components < 1 || frame.components > 4 || n < 6 + 3u * static_cast<std::size_t>(frame.components))
        return false;
    for (int c = 0; c < frame.components; ++c) {
        JpegFrame::Component& comp = frame.component[c];
        comp.id = p[6 + 3 * c];
        comp.h = p[7 + 3 * c] >> 4;
        comp.v = p[7 + 3 * c] & 15;
        if (comp.h < 1 || comp.h > 4 || comp.v < 1 || comp.v > 4) return false;
    }
    return true;
}

}  // namespace hx::formats
