#pragma once
// Backup: the whole medium copied sector by sector from sector 0 into an image
// file, with a companion file beside it that holds the medium's geometry and
// its undelete listing, so that the image can be scanned as the medium.
// Reads that fail are tried again sector by sector; a sector that stays
// unreadable is written as zeros and named in a list beside the image.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "media/DriveRecord.h"
#include "shell/SettingsStore.h"
#include "shell/Ui.h"
#include "filesystems/UndeleteEntry.h"

namespace hx::output {

struct BackupRequest {
    std::string drive;                       // device node or image
    std::filesystem::path folder;            // the images go to its "DiskImages" folder
    bool deep = false;                       // ChkDeep: one cluster a read
    bool damaged = false;                    // ChkDamaged: one sector a read
    std::string date;                        // "yyyy-mm-dd"; today when empty
    std::vector<filesystems::UndeleteEntry> entries;  // the undelete listing for the companion file
    // The image to write, with no companion file (the damaged-media recovery's
    // unattended image); empty: a new name in the folder's DiskImages.
    std::filesystem::path image;
    // When given, LastCluster marks the copy as under way until it ends.
    shell::SettingsStore* settings = nullptr;
    // From the last sector towards sector 0 (the damaged-media recovery's
    // second stage: the sectors after the one that ended the first stage are
    // saved before it is met again). The image has the medium's size from
    // the first block on; what is not reached stays zeros.
    bool backwards = false;
};

// The second stage of the damaged-media recovery: the medium copied sector by
// sector, backwards, into the unattended image, the marker kept current.
BackupRequest UnattendedBackup(const std::string& drive, const std::filesystem::path& image,
                               shell::SettingsStore* settings);

struct BackupResult {
    bool ok = false;        // the copy ran (to its end, or until stopped)
    bool stopped = false;
    std::filesystem::path image, companion;
    std::filesystem::path unreadableList;  // "<image>.unreadable.txt" when sectors could not be read
    std::filesystem::path partialNote;     // "<image>.partial.txt" when the image is not the whole medium
    std::uint64_t bytes = 0;
    std::uint64_t unreadableSectors = 0;
    // Bytes first passed over (after a slow or failing read) and copied once the rest was.
    std::uint64_t readLast = 0;
};

// "<drive>_<label>_<date>_<n>.img" with the first free counter n from 0.
std::filesystem::path ImageFileName(const std::filesystem::path& imageFolder, const std::string& drive,
                                    const std::string& label, const std::string& date);
// Megabytes a block: the largest of 10 down to 3 that a tenth of the free memory holds, else 2.
int BackupBlockMegabytes(double availableMB);
// The six quoted lines, then the listing in the undelete encoding.
bool WriteCompanionFile(const std::filesystem::path& companion, const std::filesystem::path& image,
                        const media::DriveRecord& record, const std::vector<filesystems::UndeleteEntry>& entries);
// The image a companion file names on its first line; empty when it names none.
std::filesystem::path CompanionImage(const std::filesystem::path& companion);
// Removes companion files whose image is gone.
void PruneImageFolder(const std::filesystem::path& imageFolder);

// The unattended image of the damaged-media recovery, in the program folder.
inline std::filesystem::path UnattendedImage(const std::filesystem::path& programFolder) {
    return programFolder / "backuptemp.dat";
}

// Copies the medium; progress every 2 seconds; stops at ui.stopRequested().
BackupResult BackupDisk(shell::Ui& ui, const BackupRequest& request);

}  // namespace hx::output
