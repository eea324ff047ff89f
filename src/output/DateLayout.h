#pragma once
// The layout by date that "Recover everything" and Save All put files in:
// YYYY/YYYY-MM-DD/ by the day each was taken, Undated/TYPE/ for the rest, so
// that a raw and the JPEG of the same shot land side by side.
#include <filesystem>
#include <string>

namespace hx::output {

// "YYYY-MM-DD" of `isoDate` ("YYYY-MM-DD HH:MM:SS"), or empty when it is no
// date: a date read from a medium counts only when it is made of digits.
std::string DayOf(const std::string& isoDate);

// The folder, below the target, for a file taken at `isoDate`
// ("YYYY-MM-DD HH:MM:SS") of type `type` ("jpg"). A date read from a medium
// names folders only when it is made of digits.
std::filesystem::path DatedFolder(const std::string& isoDate, const std::string& type);

// The same for a file, by the date it holds (EXIF, XMP, a movie's header).
std::filesystem::path DatedFolderOf(const std::filesystem::path& file);

}  // namespace hx::output
