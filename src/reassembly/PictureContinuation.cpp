#include "reassembly/PictureContinuation.h"

#include <algorithm>
#include <cstring>

namespace hx::reassembly {

// Every 0xFF of data[0, n) is followed as in entropy-coded data; the number
// of the first restart marker goes to `firstRestart` (-1: none).
bool markersFit(const std::uint8_t* data, std::size_t n, int& firstRestart) {
    firstRestart = -1;
    if (n < 2) return true;
    const std::uint8_t* const last = data + n - 1;  // a marker's code must lie inside the look
    for (const std::uint8_t* p = data;
         (p = static_cast<const std::uint8_t*>(std::memchr(p, 0xFF, static_cast<std::size_t>(last - p)))); ++p) {
        const std::uint8_t m = p[1];
        if (m == 0x00 || m == 0xD9) continue;
        if (m < 0xD0 || m > 0xD7) return false;
        if (firstRestart < 0) firstRestart = m - 0xD0;
    }
    return true;
}

ContinuationLook lookAtContinuation(const std::uint8_t* data, std::size_t size) {
    ContinuationLook look;
    const std::size_t n = std::min(size, kLook);
    if (n < 512) return look;
    // The markers first: most other data has a 0xFF followed by something else early on.
    if (!markersFit(data, n, look.firstRestart)) return look;
    std::size_t counts[256] = {};
    for (std::size_t i = 0; i < n; ++i)
        if (++counts[data[i]] >= n / 8) return look;
    look.pictureData = true;
    return look;
}

// Where the restart markers of these bytes end (one past each code byte), in order.
std::vector<std::size_t> restartEnds(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::size_t> ends;
    if (bytes.size() < 2) return ends;
    const std::uint8_t* const data = bytes.data();
    const std::uint8_t* const last = data + bytes.size() - 1;
    for (const std::uint8_t* p = data;
         (p = static_cast<const std::uint8_t*>(std::memchr(p, 0xFF, static_cast<std::size_t>(last - p)))); ++p)
        if (p[1] >= 0xD0 && p[1] <= 0xD7) ends.push_back(static_cast<std::size_t>(p - data) + 2);
    return ends;
}

// The restart marker that comes next after the first `size` bytes' last one
// (0 to 7), or -1 when they hold none.
int nextRestart(const std::vector<std::uint8_t>& bytes, const std::vector<std::size_t>& ends, std::size_t size) {
    const auto after = std::upper_bound(ends.begin(), ends.end(), size);
    if (after == ends.begin()) return -1;
    return (bytes[*std::prev(after) - 1] - 0xD0 + 1) % 8;
}

}  // namespace hx::reassembly
