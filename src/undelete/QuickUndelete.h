#pragma once
// The quick-undelete command (CmdQuickUndelete) and the restore of one
// entry (RestoreUndeletedFile), for FAT, exFAT and NTFS drives. Talks to the
// user only through the Ui service.
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/DriveRecord.h"
#include "media/FileDamage.h"
#include "shell/Ui.h"
#include "undelete/DeletedRuns.h"
#include "filesystems/UndeleteEntry.h"
#include "undelete/UndeleteLists.h"
#include "filesystems/UndeleteVolume.h"

namespace hx::undelete {

// "all" when every type is selected, the drive is not removable or nothing
// is selected; otherwise the selected extensions joined by dots (".jpg.cr2").
std::string UndeleteTypeFilter(const std::vector<std::string>& selectedExtensions, bool everyTypeSelected,
                               bool removable);

class QuickUndelete {
public:
    explicit QuickUndelete(shell::Ui& ui) : ui_(ui) {}

    // Catalogues the drive, builds the entry list (from DirEnt.dat when it
    // matches), estimates what is recoverable and fills List1/List2.
    bool run(const filesystems::QuickUndeleteOptions& options);

    filesystems::UndeleteKind kind() const { return volume_ ? volume_->kind() : filesystems::UndeleteKind::None; }
    // The listed file system's name ("FAT", "exFAT", "NTFS"; empty before a listing).
    std::string fileSystemName() const { return volume_ ? volume_->name() : ""; }
    // Where entry `index` was found: "cluster 1234", "MFT record 57".
    std::string whereFound(std::size_t index) const {
        return volume_ && index < entries_.size() ? volume_->whereFound(entries_[index]) : "";
    }
    // Entry `index` is of a deleted file.
    bool isDeletedFile(std::size_t index) const {
        return volume_ && index < entries_.size() && volume_->deleted(entries_[index]);
    }
    const std::vector<filesystems::UndeleteEntry>& entries() const { return entries_; }
    const UndeleteLists& lists() const { return lists_; }
    bool fromCache() const { return volume_ && volume_->fromCache(); }
    // The checks of deleted files in pieces ran out of their time: some are partial for want of one.
    bool checksCut() const { return checksCut_; }
    const std::string& drive() const { return drive_; }
    // The files the listing names, by first cluster, for a scan of the same drive.
    const scan::ListedNames& listedNames() const { return listed_; }

    // Writes entry `index` to `target` and gives it its recorded date. A
    // deleted file that is partial (its bytes could not all be found or shown
    // to be its own) is written only when `partialChosen`.
    bool restoreTo(std::size_t index, const std::filesystem::path& target, bool partialChosen = false);
    // What the file last restored of entry `index` holds of sectors that
    // could not be read ("damaged: ..."); empty when it holds none.
    std::string damageOf(std::size_t index) const {
        const auto it = damage_.find(index);
        return it == damage_.end() ? std::string() : it->second;
    }
    // Restores into `folder` under the entry's own name, renamed while that
    // exists; a partial file chosen all the same is named "NAME (unverified).ext".
    std::optional<std::filesystem::path> restoreInto(std::size_t index, const std::filesystem::path& folder,
                                                     bool partialChosen = false);
    // The clusters a deleted FAT or exFAT file is restored from (empty when it has none).
    const ClusterList* plannedClusters(std::size_t index) const;
    // Asks for the target with the save dialog, then as restoreInto.
    std::optional<std::filesystem::path> RestoreUndeletedFile(std::size_t index,
                                                              const std::filesystem::path& startFolder);

    // Save All's choice: every file row of List1, and the rows of List2 with
    // recoverable bytes whose first cluster is still free.
    std::vector<std::size_t> SaveAllSelection() const;

    struct SaveResult {
        int saved = 0;
        int skipped = 0;
        std::vector<std::filesystem::path> paths;
    };
    // SaveUndeleteEntries: restores the chosen entries into `folder` (made
    // when missing), asking before a partial file, naming what cannot be
    // saved, yielding between files and stopping on the user's request.
    SaveResult SaveUndeleteEntries(const std::vector<std::size_t>& indices, const std::filesystem::path& folder);

private:
    // Names whose lost first letter the camera rules gave, checked against the picture's EXIF.
    void checkGuessedNames();
    bool isPartialFile(const filesystems::UndeleteEntry& e) const;
    // Entry i's bytes lie in one run from its first cluster.
    bool oneRun(std::size_t i) const;
    // The incomplete-file question; true when the user wants the partial file.
    bool askPartial(const filesystems::UndeleteEntry& e);
    // Tells why the file system cannot be listed, and that a scan still can.
    void unreadable(const std::string& why);
    // restoreTo's writing of the file.
    // Sectors that could not be read (zeros in the file) are noted in `damage`.
    bool write(std::size_t index, const std::filesystem::path& target, bool partialChosen, media::FileDamage& damage);

    shell::Ui& ui_;
    std::string drive_;
    std::vector<filesystems::UndeleteEntry> entries_;
    UndeleteLists lists_;
    scan::ListedNames listed_;
    std::unique_ptr<filesystems::UndeleteVolume> volume_;
    std::map<std::size_t, ClusterList> plans_;  // deleted files on a volume of clusters, by entry
    bool checksCut_ = false;
    std::map<std::size_t, std::string> damage_;  // restored files that hold unreadable sectors, by entry
    // Reads of the medium stuck in a card that hangs, for all of this undelete's reads.
    std::shared_ptr<std::atomic<int>> stuckReads_ = std::make_shared<std::atomic<int>>(0);
};

// "NAME (unverified).ext": what a file whose bytes could not be shown to be
// its own is saved as, never under its plain name.
std::string UnverifiedName(const std::string& name);

}  // namespace hx::undelete
