#pragma once
// Decodes a found JPEG as the thumbnail renderer would, to tell a picture
// from junk and to learn where the picture really ends.
#include <cstdint>
#include <string>

namespace hx::viewing {

struct JpegCheck {
    bool decodes = false;       // at least the header and one row decoded
    bool complete = false;      // decoded to its end marker without running out of data
    std::uint64_t end = 0;      // bytes up to and including the end marker (when complete)
    int width = 0;
    int height = 0;
};

// Reads the file front to back through a small buffer (memory stays bounded).
JpegCheck CheckJpegFile(const std::string& path);
JpegCheck CheckJpegBuffer(const std::uint8_t* data, std::size_t size);

}  // namespace hx::viewing
