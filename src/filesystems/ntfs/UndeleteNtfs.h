#pragma once
// The NTFS quick undelete: deleted files listed from the master file table
// (through our MFT library) and restored from their records.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/DriveRecord.h"
#include "shell/Ui.h"
#include "filesystems/ntfs/MftLibrary.h"
#include "filesystems/UndeleteEntry.h"

namespace hx::filesystems {

class UndeleteVolume;

// Entries kept at most; beyond them records are only counted.
constexpr std::size_t kNtfsListCap = 26000;
constexpr std::size_t kNtfsListKeep = 25001;

// One undelete's NTFS volume and its mapped MFT, open from the listing to
// the last restore; the undelete that owns it closes it.
struct NtfsSession {
    mft::NtfsVolume volume;
    mft::MftInfo info;
    bool open = false;
    std::string drive;
    // The geometry the catalogue read of `cataloguedDrive`, used when that drive is opened.
    std::optional<ntfs::BootSector> catalogued;
    std::string cataloguedDrive;
};

// Opens the volume and maps its MFT (closing any open one first). On
// failure tells the user and returns false.
bool OpenMft(NtfsSession& session, const std::string& drive, shell::Ui& ui);
void CloseMft(NtfsSession& session);

// Lists deleted files, and after each its alternate data streams as entries
// named "name:stream". `typeFilter` is "all" or a text of extensions;
// minMB/maxMB limit the size (maxMB 0: no maximum). With `liveToo` the files
// in use are listed as well, marked kAttrLive (the volume's own files are not).
bool ListNtfsDeleted(NtfsSession& session, const std::string& drive, std::vector<UndeleteEntry>& entries,
                     const std::string& typeFilter, double minMB, double maxMB, shell::Ui& ui, bool liveToo = false);

// Writes the data of one record to `targetPath` (resident or from clusters):
// its unnamed data, or the named stream `stream`. Opens the drive when the
// session holds another. Sectors that could not be read (zeros in the file)
// are noted in `damage`.
bool RecoverNtfsFile(NtfsSession& session, const std::string& drive, std::uint32_t recordNumber,
                     const std::filesystem::path& targetPath, shell::Ui& ui, const std::string& stream = {},
                     media::FileDamage* damage = nullptr);

// The volume as the undelete reads it (NtfsUndeleteVolume.cpp).
std::unique_ptr<UndeleteVolume> OpenNtfsUndelete(const std::string& drive, const media::DriveRecord& record);

}  // namespace hx::filesystems
