#include "viewing/PictureFilters.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "shell/Strings.h"

namespace hx::viewing {

namespace {

// Nearest whole number, halves to even, within a byte.
std::uint8_t toByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
}

}  // namespace

std::optional<PictureFilter> PictureFilterNamed(const std::string& name) {
    using shell::LoadStr;
    if (name == LoadStr(428, "Focus")) return PictureFilter::Focus;
    if (name == LoadStr(1328, "Unsharp")) return PictureFilter::Unsharp;
    if (name == LoadStr(1329, "Sharpen")) return PictureFilter::Sharpen;
    if (name == LoadStr(1330, "SharpenMore")) return PictureFilter::SharpenMore;
    return std::nullopt;
}

void ApplyPictureFilter(RgbPicture& picture, PictureFilter filter) {
    const std::size_t stride = static_cast<std::size_t>(picture.width) * 3;
    const std::size_t rows = picture.height;
    if (picture.width < 3 || rows < 3 || picture.pixels.size() < stride * rows) return;
    std::vector<std::uint8_t>& out = picture.pixels;
    // Unsharp reads what it has already written (up and left); the others an unchanged copy.
    const std::vector<std::uint8_t> copy = filter == PictureFilter::Unsharp ? std::vector<std::uint8_t>() : out;
    const std::vector<std::uint8_t>& in = filter == PictureFilter::Unsharp ? out : copy;
    for (std::size_t y = 1; y + 1 < rows; ++y) {
        const std::size_t row = y * stride;
        for (std::size_t x = 3; x + 3 < stride; ++x) {
            const std::size_t i = row + x;
            const double c = in[i], up = in[i - stride], down = in[i + stride], left = in[i - 3], right = in[i + 3];
            double v = 0;
            switch (filter) {
                case PictureFilter::Unsharp: v = 2 * c - (up + down + left + right) / 4; break;
                case PictureFilter::Focus: v = (6 * c - up - down - left - right) / 2; break;
                case PictureFilter::Sharpen: {
                    const double corners =
                        in[i - stride - 3] + in[i - stride + 3] + in[i + stride - 3] + in[i + stride + 3];
                    v = (12 * c - up - down - left - right - corners) / 4;
                    break;
                }
                case PictureFilter::SharpenMore: v = 5 * c - up - down - left - right; break;
            }
            out[i] = toByte(v);
        }
    }
}

}  // namespace hx::viewing
