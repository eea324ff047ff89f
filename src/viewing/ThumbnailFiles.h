#pragma once
// The thumbnail list's pictures, kept as small JPEG files in the cache's
// thumbs folder: made once per width, turned by the photo's EXIF
// orientation, at JPEG quality 98.
#include <cstddef>
#include <filesystem>
#include <string>

#include "viewing/RgbPicture.h"

namespace hx::viewing {

constexpr int kMinThumbnailWidth = 32;
constexpr int kMaxThumbnailWidth = 300;
constexpr std::size_t kMaxThumbnailFiles = 32700;

// "R#0017.cr2" -> "0017cr2.jpg": every "." removed, ".jpg" added, every "R#" removed.
std::string ThumbnailFileName(const std::string& foundName);

// How many thumbnails the window holds as pictures at once at `width` (the
// rest wait as files until the view comes to them): (200 / width)² × 250,
// never more than the found files (nor than kMaxThumbnailFiles).
std::size_t ThumbnailBudget(int width, std::size_t foundFiles);

// A typed width as applied: below 32 it is 32; above 300 it is not applied (0).
int AcceptedThumbnailWidth(int typed);

// The picture turned as EXIF orientation `code` (1 to 8) says the camera was held.
RgbPicture Oriented(const RgbPicture& picture, int code);

// The picture scaled to `width` (its height in proportion), each new pixel
// the average of the pixels it covers.
RgbPicture ScaledToWidth(const RgbPicture& picture, unsigned width);

// Removes the thumbnail files (the .jpg files directly inside) of a thumbs
// folder, so that they are made again at a new width. Only a folder named
// "Thumbs", or the "Browse" folder inside one, is touched. Returns how many went.
std::size_t RemoveThumbnailFiles(const std::filesystem::path& thumbsFolder);

// The thumbnail of `file` in `thumbsFolder` at `width`, made when it is not
// there yet. Empty when the file is no picture that can be drawn.
std::filesystem::path ThumbnailFile(const std::filesystem::path& file, const std::filesystem::path& thumbsFolder,
                                    int width);

}  // namespace hx::viewing
