#pragma once
// What a scan leaves in its cache folder so that a later run can resume it:
// the drive, the next unit, whether the last file was still open, and the
// found files row for row.
#include <filesystem>
#include <string>
#include <vector>

#include "scan/ScanDisk.h"

namespace hx::scan {

constexpr const char* kScanStateFile = "ScanState.dat";

bool SaveScanState(const std::filesystem::path& cacheFolder, const ScanContext& ctx);
// Fills the resume fields and the found-file lists; false when there is no state.
bool LoadScanState(const std::filesystem::path& cacheFolder, ScanContext& ctx);

// The scan selection for a list of type names ("JPG", "cr2", ...): the key of
// every built-in row with that extension, each pass ended by "|".
std::string SelectionForTypes(const std::vector<std::string>& types);
// The type names of a preset of the type chooser ("Canon", "All picture types", ...); empty when unknown.
std::vector<std::string> PresetTypes(const std::string& preset);

}  // namespace hx::scan
