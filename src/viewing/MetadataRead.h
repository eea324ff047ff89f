#pragma once
// A picture's metadata, read by exiv2: the one reader of EXIF, XMP and IPTC
// here. Set up once for every thread; a damaged file gives what it held up
// to the point where it broke.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

#include <exiv2/exiv2.hpp>

namespace hx::viewing {

using Metadata = std::unique_ptr<Exiv2::Image>;

// Null when exiv2 knows no container of this kind.
Metadata OpenMetadata(const std::filesystem::path& file);
Metadata OpenMetadata(const std::uint8_t* data, std::size_t size);

// A TIFF header and the directories behind it, as AVI, HEIF and a raw cut
// short keep their EXIF: false when it holds no tag.
bool DecodeTiffExif(const std::uint8_t* data, std::size_t size, Exiv2::ExifData& exif);

}  // namespace hx::viewing
