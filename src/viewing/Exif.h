#pragma once
// The summary of a picture's metadata: camera, moment of the shot, colour
// space, orientation, dimensions. Read by exiv2 (viewing/MetadataRead) from
// every container it knows; where it knows none (an AVI, a window of a card),
// from the TIFF header the bytes hold.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hx::viewing {

struct ExifValues {
    std::string make;
    std::string model;
    std::string date;     // 19 characters, date part separated by the user's date separator
    std::string rawDate;  // as stored: "YYYY:MM:DD HH:MM:SS"
    std::string colorSpace;
    int width = 0;
    int height = 0;
    float orientation = 0;
};

// Separator put between year, month and day of `date`.
void SetDateSeparator(char separator);

// source "BUF": reads data/size; otherwise source is a file. The date is the
// original's (DateTimeOriginal in EXIF, XMP or the maker's notes), the
// digitized or saved one only where there is none. True when both width and
// height were found.
bool ReadExif(const std::string& source, const std::uint8_t* data, std::size_t size, ExifValues& out);
inline bool ReadExifFile(const std::string& path, ExifValues& out) { return ReadExif(path, nullptr, 0, out); }

// Rewrites the values of MeteringMode, Orientation, Flash, ExposureProg,
// ColorSpace and LightSource lines ("Label: value") into words.
void DescribeExifValues(std::vector<std::string>& lines);

// The camera as people name it: the maker's first word and the model, the
// maker not repeated when the model names it ("NIKON D70", "OLYMPUS E-510").
std::string CameraName(const std::string& make, const std::string& model);

// A text read from a picture's header as it can be shown: cut at its first
// NUL, without blanks around it, and valid UTF-8 (bytes that are not read
// as Latin-1).
std::string ShownText(const std::string& raw);

// A date as headers write it, as "YYYY:MM:DD HH:MM:SS"; empty when it is
// not a date. Read: "1998:01:06 10:00:00", "1998-01-06T10:00:00", either
// with a fraction or a time zone after it, "1998:01:06" alone, and
// "06-01-1998" (day first unless it cannot be), after ShownText's cleaning.
std::string CaptureDate(const std::string& text);

// "YYYY:MM:DD HH:MM:SS" written "YYYY-MM-DD HH:MM:SS"; anything else as it is.
std::string IsoDate(const std::string& rawDate);

// "YYYY:MM:DD HH:MM:SS" as seconds since 1970 in local time; false when not a valid date.
bool ExifDateToTime(const std::string& rawDate, std::int64_t& secondsSinceEpoch);

}  // namespace hx::viewing
