#pragma once
// Photos in the HEIF family (HEIC from phones, AVIF), read through libheif:
// a small picture for thumbnails and previews, and the EXIF block.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "viewing/RgbPicture.h"

namespace hx::viewing {

// Whether the first bytes of a file are an ISO-BMFF "ftyp" of a HEIF brand.
bool LooksLikeHeif(const std::uint8_t* head, std::size_t size);

// The primary image at most `maxWidth` wide (0: as it is): the file's own
// thumbnail when that is wide enough, else the image itself, scaled.
bool DecodeHeif(const std::filesystem::path& file, unsigned maxWidth, RgbPicture& out);

// The primary image's EXIF block from its TIFF header on, and the image's size.
bool ReadHeifExif(const std::filesystem::path& file, std::string& tiff, unsigned& width, unsigned& height);

}  // namespace hx::viewing
