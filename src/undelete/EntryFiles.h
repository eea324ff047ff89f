#pragma once
// The file behind a row of the undelete lists, for opening it or showing its
// properties: a listed file where it lies on the mounted volume, or a copy
// restored from the medium into the temporary folder.
#include <filesystem>
#include <optional>
#include <string>

#include "undelete/QuickUndelete.h"

namespace hx::undelete {

// The entry's file under `mountPoint`, its folders and name matched without
// regard to case (FAT and exFAT names are case-blind, NTFS entries are kept
// in lower case). Nothing when the volume is not mounted or the file is gone.
std::optional<std::filesystem::path> ListedFileOnVolume(const filesystems::UndeleteEntry& e, const std::string& mountPoint);

// The entry restored into `temp` under its record number and extension
// ("12.jpg"), unless that copy is already there. Partial files are restored
// too: it is a look, not a save. Nothing when it cannot be restored.
std::optional<std::filesystem::path> TemporaryCopy(QuickUndelete& undelete, std::size_t index,
                                                   const std::filesystem::path& temp);

}  // namespace hx::undelete
