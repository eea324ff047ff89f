#pragma once
// The full information text of a picture, read with exiv2: every EXIF tag
// (maker notes and the user comment included), then IPTC and XMP values, one
// "Label: value" line each, in the order the file holds them.
#include <filesystem>
#include <string>
#include <vector>

namespace hx::viewing {

// Empty when the file cannot be read as a picture or holds no metadata.
std::vector<std::string> ExifFullText(const std::filesystem::path& file);

}  // namespace hx::viewing
