#pragma once
// Removing found files from the cache browser: a found file and its
// thumbnail go to the user's trash (so they can be put back), and the row
// leaves the lists.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/Ui.h"

namespace hx::viewing {

// Moves `folder`/`name` and, when there is one, its thumbnail file in
// `thumbsFolder` to the trash. A file already gone counts as removed. False,
// with the reason in `error`, when the found file is there and could not go.
bool RemoveFoundFile(const std::filesystem::path& folder, const std::filesystem::path& thumbsFolder,
                     const std::string& name, std::string* error = nullptr);

// True when the found file `name` has its thumbnail file in `thumbsFolder`.
bool HasThumbnailFile(const std::filesystem::path& thumbsFolder, const std::string& name);

// The Delete key on the found files: asks "Move all selected files to the
// Trash?"; No asks for "all files without a thumbnail" instead. The
// files go to the trash; the rows that went are returned in ascending order,
// for the caller to drop from its lists. A file that could not go keeps its
// row and is named in one message at the end.
std::vector<std::size_t> CmdRemoveFoundFiles(shell::Ui& ui, const std::filesystem::path& folder,
                                             const std::filesystem::path& thumbsFolder,
                                             const std::vector<std::string>& names,
                                             const std::vector<bool>& selected);

}  // namespace hx::viewing
