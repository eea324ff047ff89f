#pragma once
// The first picture of a clip (MP4, MOV, 3GP, or the clip of a motion
// photo) drawn small, for its thumbnail, the preview and the recovery report: the first video track's
// samples from its first on, decoded through libavcodec.
#include <cstdint>
#include <filesystem>

#include "formats/TiffReader.h"
#include "viewing/RgbPicture.h"

namespace hx::viewing {

// The clip that `read` reads, `size` bytes from its start: its first
// picture at most about `maxWidth` wide (twice that at worst; 0: as it is).
// False when it has no H.264 or H.265 track, or none of it decodes.
bool DecodeClipPicture(const formats::ReadAt& read, std::uint64_t size, unsigned maxWidth, RgbPicture& out);

// The same of a clip file.
bool LoadClipPicture(const std::filesystem::path& file, unsigned maxWidth, RgbPicture& out);

// The same of the clip inside a motion photo, as the photo's own parts
// (its XMP, or Samsung's record) place it; false for a photo without one.
bool LoadPhotoClipPicture(const std::filesystem::path& photo, unsigned maxWidth, RgbPicture& out);
// Whether a photo carries a clip that holds, as above.
bool HasPhotoClip(const std::filesystem::path& photo);

}  // namespace hx::viewing
