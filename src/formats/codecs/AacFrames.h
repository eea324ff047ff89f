#pragma once
// Raw AAC frames (as an MP4 holds them, with no header of their own): whether
// bytes start, or end, as one does.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace hx::formats {

// The first bytes of a raw AAC frame start as one does.
bool AacFrameStarts(const std::uint8_t* frame, std::size_t size);

// The last bytes of a raw AAC frame end as one does: its closing element's
// three set bits, then only the clear bits that fill its last byte. (Of
// other bytes, about one in four ends so.)
bool AacFrameEnds(const std::uint8_t* frame, std::size_t size);

// A raw AAC frame of a track configured so (its AudioSpecificConfig)
// decodes, through libavcodec, to one frame of sound that uses all of its
// bytes; none where there is no configuration or decoder. (Most other
// bytes do not: a section, a scale factor or a code their bits read as is
// not one a frame holds, or they end before it does.)
std::optional<bool> AacFrameDecodes(const std::vector<std::uint8_t>& config, const std::uint8_t* frame, std::size_t size);

}  // namespace hx::formats
