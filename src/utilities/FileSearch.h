#pragma once
// The file search (frmSearchDrives): files whose names match a pattern with
// "*" and "?" on the chosen drives, one full path per line in the order
// found, at most 32760 of them; and the folder and file count below a path.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/Ui.h"

namespace hx::utilities {

constexpr std::size_t kMaxSearchLines = 32760;

struct SearchResult {
    std::vector<std::string> lines;  // List1
    std::uint64_t folders = 0;
    std::uint64_t files = 0;
    bool stopped = false;            // the user stopped it
};

// The folders a drive text names: paths separated by blanks or commas, each
// a drive's mount folder or any folder; those that do not exist are skipped.
// An empty text names every mounted drive and the root.
std::vector<std::filesystem::path> SearchRoots(const std::string& drives);

// Zoekfiles: every file on the drives whose name matches `spec` (case does
// not matter). Each drive is walked without leaving its own file system and
// without following links; the walk stops at 32760 lines or the user's stop.
SearchResult Zoekfiles(const std::string& spec, const std::string& drives, shell::Ui& ui);

// "Folder Info...": folders and files below `path`, counted.
SearchResult FolderInfo(const std::filesystem::path& path, shell::Ui& ui);

// "Find File(s)..." typed as "*.jpg /media/card": the pattern, and the
// folders named beside it as the drive text.
void SplitSearchText(const std::string& text, std::string& spec, std::string& drives);

}  // namespace hx::utilities
