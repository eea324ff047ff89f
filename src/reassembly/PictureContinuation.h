#pragma once
// Whether bytes read somewhere on the medium may go on a picture whose data
// broke off: compressed picture data uses every byte value evenly, and a
// 0xFF in it is followed by 0x00, a restart marker or the end marker; a
// first piece that counts restart markers tells which must come next.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hx::reassembly {

// Bytes looked at to judge a continuation.
constexpr std::size_t kLook = 4096;

struct ContinuationLook {
    bool pictureData = false;
    int firstRestart = -1;  // the number (0 to 7) of its first restart marker, -1 when it holds none
    // When the first piece counts restart markers, the continuation's first
    // one must be the next in their count of eight.
    bool follows(int nextRestart) const {
        return pictureData && (nextRestart < 0 || firstRestart < 0 || firstRestart == nextRestart);
    }
};

// Every 0xFF of data[0, n) is followed as in entropy-coded data; the number
// of the first restart marker goes to `firstRestart` (-1: none).
bool markersFit(const std::uint8_t* data, std::size_t n, int& firstRestart);
// How the first kLook of data[0, size) look as a continuation (512 bytes at least).
ContinuationLook lookAtContinuation(const std::uint8_t* data, std::size_t size);
// Where the restart markers of these bytes end (one past each code byte), in order.
std::vector<std::size_t> restartEnds(const std::vector<std::uint8_t>& bytes);
// The restart marker that comes next after the first `size` bytes' last one
// (0 to 7), or -1 when they hold none.
int nextRestart(const std::vector<std::uint8_t>& bytes, const std::vector<std::size_t>& ends, std::size_t size);

}  // namespace hx::reassembly
