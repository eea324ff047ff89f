#pragma once
// What a scan leaves in its cache folder so that a later run can resume it:
// the drive, the next unit, whether the last file was still open, the found
// files row for row (with the unreadable sectors each holds), and the
// sectors of the medium that could not be read.
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "scan/ScanDisk.h"

namespace hx::scan {

constexpr const char* kScanStateFile = "ScanState.dat";
constexpr int kScanStateVersion = 2;

bool SaveScanState(const std::filesystem::path& cacheFolder, const ScanContext& ctx);

enum class ScanStateLoad {
    None,     // no state in the folder
    Loaded,   // the resume fields and found-file lists are filled
    Damaged,  // cut short, edited or unreadable: nothing is filled
};
// Fills the resume fields and the found-file lists from the folder's state.
// States of earlier versions load too; their rounded sizes are dropped.
ScanStateLoad LoadScanState(const std::filesystem::path& cacheFolder, ScanContext& ctx);
// The found files of the folder's state that hold unreadable sectors, by
// name, with what is said of each (DamageText); empty without a state.
// `rebuilt`, when given, gets what is said of the finds put together: the
// clips rebuilt from pieces (RebuiltText) and the photos of more than one
// picture (PartsText).
// `withClip`, when given, gets the names of the motion photos.
std::map<std::string, std::string> DamagedFinds(const std::filesystem::path& cacheFolder,
                                                std::map<std::string, std::string>* rebuilt = nullptr,
                                                std::set<std::string>* withClip = nullptr);
// False when a loaded state holds a size beyond the medium's end (0: unknown medium size).
bool ScanStateFitsMedium(const ScanContext& state, std::uint64_t mediumBytes);

// "Searched.dat" in the cache folder: which drive the cache's files came
// from. The drive string as single-byte characters, then the drive's volume
// serial as 4 bytes, little-endian; no separator, no length.
constexpr const char* kSearchedFile = "Searched.dat";
bool WriteSearchedFile(const std::filesystem::path& cacheFolder, const std::string& drive, std::uint32_t serial);
// Reads `driveLength` characters of drive string and the serial after them;
// false when the file is missing or shorter.
bool ReadSearchedFile(const std::filesystem::path& cacheFolder, std::size_t driveLength, std::string& drive,
                      std::uint32_t& serial);

// "Unreadable sectors.txt" in the cache folder: the sectors of the scanned
// medium that could not be read, one number a line, after a comment line.
constexpr const char* kUnreadableFile = "Unreadable sectors.txt";
// The scan's own files in a cache folder, which are no found files.
inline bool IsScanBookkeeping(const std::string& name) {
    return name == kScanStateFile || name == kSearchedFile || name == kUnreadableFile;
}

// The scan selection for a list of type names ("JPG", "cr2", ...): the key of
// every built-in row with that extension, each pass ended by "|".
std::string SelectionForTypes(const std::vector<std::string>& types);

}  // namespace hx::scan
