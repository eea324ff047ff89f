#pragma once
// Raw AAC frames (as an MP4 holds them, with no header of their own): whether
// bytes start as one does.
#include <cstddef>
#include <cstdint>

namespace hx::formats {

// The first bytes of a raw AAC frame start as one does.
bool AacFrameStarts(const std::uint8_t* frame, std::size_t size);

}  // namespace hx::formats
