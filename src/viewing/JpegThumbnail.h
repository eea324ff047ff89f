#pragma once
// Small JPEG pictures of JPEG photos, made with libjpeg-turbo's DCT scaling
// (the photo is decoded at 1/2, 1/4 or 1/8 of its size), for reports and
// previews that must not hold full photos.
#include <filesystem>

namespace hx::viewing {

// Writes a picture of `photo` at most about `maxWidth` wide to `thumbnail`.
// False (and nothing written) when the photo does not decode.
bool MakeJpegThumbnail(const std::filesystem::path& photo, const std::filesystem::path& thumbnail, int maxWidth = 160);

}  // namespace hx::viewing
