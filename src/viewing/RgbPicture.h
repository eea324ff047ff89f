#pragma once
// A decoded picture, as the thumbnail makers pass it on.
#include <cstdint>
#include <vector>

namespace hx::viewing {

struct RgbPicture {
    std::vector<std::uint8_t> pixels;  // RGB, 3 bytes a pixel, rows one after another
    unsigned width = 0;
    unsigned height = 0;
};

}  // namespace hx::viewing
