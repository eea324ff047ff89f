#pragma once
// Where a TIFF-based file (TIFF, and the camera raws built on it: CR2, NEF,
// PEF, ARW, DNG, ...) ends: the furthest byte that its directories, their
// values, strips, tiles and JPEG previews reach.
#include <cstdint>

#include "formats/TiffReader.h"

namespace hx::formats {

// The file's length by its own structure, or 0 when it is not a TIFF or its
// directories cannot be read. Every walk is bounded.
std::uint64_t TiffFileEnd(const ReadAt& read);
std::uint64_t TiffFileEnd(const std::uint8_t* data, std::size_t size);

}  // namespace hx::formats
