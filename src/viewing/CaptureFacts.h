#pragma once
// When a photo or movie was taken and by which camera, from whatever the file
// holds: its metadata as the picture's summary reads it (EXIF, XMP and the
// maker's notes of every container exiv2 knows), then a movie's own header
// (MP4, MOV, 3GP: the creation time of its movie header box).
#include <cstdint>
#include <filesystem>
#include <string>

namespace hx::viewing {

struct CaptureFacts {
    std::string rawDate;  // "YYYY:MM:DD HH:MM:SS", empty when none was found
    std::string make;
    std::string model;
};

CaptureFacts ReadCaptureFacts(const std::filesystem::path& file);

// The creation time of an ISO-BMFF movie ('moov' / 'mvhd') as
// "YYYY:MM:DD HH:MM:SS" (UTC, as the box counts it), or empty. Reads only
// the box headers on the way; bounded whatever the file says.
std::string MovieCreationTime(const std::filesystem::path& file);

// Seconds since 1904-01-01 00:00 (QuickTime's epoch) as "YYYY:MM:DD HH:MM:SS";
// empty outside 1980 to 2100, where no camera wrote.
std::string QuickTimeDate(std::uint64_t seconds);

}  // namespace hx::viewing
