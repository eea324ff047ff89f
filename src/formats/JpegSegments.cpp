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

}  // namespace hx::formats
