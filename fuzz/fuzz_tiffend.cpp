// Any bytes as the start of a TIFF-based raw: the directory walk stays inside
// what was given and ends.
#include <cstdint>

#include "formats/TiffEnd.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    hx::formats::TiffFileEnd(data, size);
    return 0;
}
