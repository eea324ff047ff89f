// A joined photo held against its own EXIF thumbnail, over arbitrary bytes:
// the thumbnail's place, the decodes and the comparison stay inside the data
// for every joint, told by the walk's count or found by a decode.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "viewing/ThumbnailAgreement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that a read past the end is caught by the sanitizers.
    const std::vector<std::uint8_t> copy(data, data + size);
    const std::size_t joint = size / 2;
    hx::viewing::CompareWithThumbnail(copy.data(), copy.size(), joint);
    for (const double down : {0.0, 0.5, 0.999})
        hx::viewing::CompareWithThumbnail(copy.data(), copy.size(), joint, down);
    hx::viewing::CompareWithThumbnail(copy.data(), copy.size(), size);
    return 0;
}
