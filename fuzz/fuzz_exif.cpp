// ReadExif over arbitrary bytes: every offset and count it follows must stay
// inside the buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "viewing/Exif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    hx::viewing::ExifValues v;
    // An exact-size copy, so that a read past the end is caught by the sanitizers.
    std::vector<std::uint8_t> copy(data, data + size);
    hx::viewing::ReadExif("BUF", copy.data(), copy.size(), v);
    std::vector<std::string> lines = {"Flash: " + v.make, "ColorSpace: " + v.colorSpace};
    hx::viewing::DescribeExifValues(lines);
    return 0;
}
