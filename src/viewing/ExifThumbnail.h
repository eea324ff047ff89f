#pragma once
// The small JPEG that cameras keep inside a photo's EXIF block (IFD1), found
// by walking the photo's first segments. Every offset is checked against
// the EXIF block it lies in.
#include <cstddef>
#include <cstdint>

namespace hx::viewing {

struct ByteSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Where the embedded thumbnail lies in `data` (the photo's first bytes);
// length 0 when there is none or it does not start as a JPEG.
ByteSpan FindExifThumbnail(const std::uint8_t* data, std::size_t size);

}  // namespace hx::viewing
