#pragma once
// The NTFS quick undelete: deleted files listed from the master file table
// (through our MFT library) and restored from their records.
#include <filesystem>
#include <string>
#include <vector>

#include "shell/Ui.h"
#include "undelete/MftLibrary.h"
#include "undelete/UndeleteEntry.h"

namespace hx::undelete {

// Entries kept at most; beyond them records are only counted.
constexpr std::size_t kNtfsListCap = 26000;
constexpr std::size_t kNtfsListKeep = 25001;

// Opens the volume and maps its MFT (closing any open one first). On
// failure tells the user and returns false.
bool OpenMft(const std::string& drive, shell::Ui& ui);
void CloseMft();
bool MftIsOpen();
// The open volume and its MFT, for callers of the MFT library.
mft::NtfsVolume& CurrentMft();

// Lists deleted files, and after each its alternate data streams as entries
// named "name:stream". `typeFilter` is "all" or a text of extensions;
// minMB/maxMB limit the size (maxMB 0: no maximum). With `liveToo` the files
// in use are listed as well, marked kAttrLive (the volume's own files are not).
bool ListNtfsDeleted(const std::string& drive, std::vector<UndeleteEntry>& entries, const std::string& typeFilter,
                     double minMB, double maxMB, shell::Ui& ui, bool liveToo = false);

// Writes the data of one record to `targetPath` (resident or from clusters):
// its unnamed data, or the named stream `stream`.
bool RecoverNtfsFile(const std::string& drive, std::uint32_t recordNumber, const std::filesystem::path& targetPath,
                     shell::Ui& ui, const std::string& stream = {});

// Whether a cluster of the open volume is allocated now (its $Bitmap).
bool NtfsClusterInUse(std::uint64_t lcn);

}  // namespace hx::undelete
