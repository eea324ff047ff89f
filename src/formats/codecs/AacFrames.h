#pragma once
// Raw AAC frames (as an MP4 holds them, with no header of their own): whether
// bytes start, or end, as one does.
#include <cstddef>
#include <cstdint>

namespace hx::formats {

// The first bytes of a raw AAC frame start as one does.
bool AacFrameStarts(const std::uint8_t* frame, std::size_t size);

// The last bytes of a raw AAC frame end as one does: its closing element's
// three set bits, then only the clear bits that fill its last byte. (Of
// other bytes, about one in four ends so.)
bool AacFrameEnds(const std::uint8_t* frame, std::size_t size);

}  // namespace hx::formats
