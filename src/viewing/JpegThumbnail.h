#pragma once
// Small JPEG pictures of JPEG photos, made with libjpeg-turbo's DCT scaling
// (the photo is decoded at 1/2, 1/4 or 1/8 of its size), for reports and
// previews that must not hold full photos.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "viewing/RgbPicture.h"

namespace hx::viewing {

// Writes a picture of `photo` at most about `maxWidth` wide to `thumbnail`.
// False (and nothing written) when the photo does not decode.
bool MakeJpegThumbnail(const std::filesystem::path& photo, const std::filesystem::path& thumbnail, int maxWidth = 160);

// A JPEG in memory, decoded at the smallest DCT scale that keeps it at least
// `maxWidth` wide (0: at full size). False when it does not decode.
bool DecodeJpegScaled(const std::uint8_t* data, std::size_t size, int maxWidth, RgbPicture& out);

// `picture` as a JPEG file; nothing is left behind when that fails.
bool WriteJpegPicture(const std::filesystem::path& file, const RgbPicture& picture, int quality = 85);

}  // namespace hx::viewing
