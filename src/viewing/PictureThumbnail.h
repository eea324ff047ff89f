#pragma once
// Small pictures of the photos people bring today, for the thumbnail list,
// the preview and the recovery report: JPEG (the camera's own small copy or
// a scaled decode), HEIC/HEIF/AVIF through libheif, and camera raws through
// the JPEG preview the camera put inside them.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "viewing/ExifThumbnail.h"
#include "viewing/RgbPicture.h"
#include "formats/TiffReader.h"

namespace hx::viewing {

// Whether files of `extension` ("jpg", "heic", "cr2"; any case, with or
// without its dot) are pictures these makers know.
bool HasSmallPicture(std::string extension);

// The picture of `file` at most about `maxWidth` wide (twice that at worst).
// False when the file is none of these or does not decode.
bool LoadSmallPicture(const std::filesystem::path& file, int maxWidth, RgbPicture& out);

// The same, written as a JPEG file; nothing is left behind when it fails.
bool MakePictureThumbnail(const std::filesystem::path& file, const std::filesystem::path& thumbnail, int maxWidth = 160);

// Where the JPEG previews inside a camera raw of `size` bytes lie, largest
// first: a Fujifilm RAF's header, a TIFF-based raw's directories (JPEG
// interchange tags, JPEG-compressed strips); else the JPEGs that start in
// its first megabyte. Every offset is checked against the file.
std::vector<ByteSpan> FindRawPreviews(const formats::ReadAt& read, std::uint64_t size);

}  // namespace hx::viewing
