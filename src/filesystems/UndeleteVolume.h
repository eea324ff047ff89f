#pragma once
// One file system as the undelete reads it. FAT12/16/32, exFAT and NTFS each
// implement this in their own folder (fat/FatUndeleteVolume.cpp, ...), and
// OpenUndeleteVolume opens the one the table of file systems
// (FileSystemTypes.h) finds. What is the same for all of them stays with the
// undelete command: the planner of deleted files in pieces, the lists, the
// names handed to a scan.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/DriveRecord.h"
#include "shell/Ui.h"
#include "filesystems/ClusterWalk.h"
#include "filesystems/UndeleteEntry.h"

namespace hx::filesystems {

enum class UndeleteKind { None, Fat, Exfat, Ntfs };

struct QuickUndeleteOptions {
    std::string drive;                 // drive id: device node or image file
    std::string typeFilter = "all";    // NTFS: "all" or the selected extensions
    double minMB = 0;
    double maxMB = 0;                  // 0: no maximum
    std::filesystem::path workFolder;  // where "DirEnt.dat" is kept; empty: no cache
    bool liveToo = false;              // NTFS: list the files in use too (marked kAttrLive)
    double checkSeconds = 0;           // FAT, exFAT: time the checks of deleted files in pieces may take (0: no limit)
};

class UndeleteVolume {
public:
    virtual ~UndeleteVolume() = default;
    virtual UndeleteKind kind() const = 0;
    // The file system's name as a report shows it ("FAT", "exFAT", "NTFS").
    virtual const char* name() const = 0;
    // The entry is of a deleted file (not one still in use).
    virtual bool deleted(const UndeleteEntry& entry) const { return entry.isDeleted(); }
    // Its listing is of deleted records: every row belongs in the list of deleted files.
    virtual bool listsDeletedRecords() const { return false; }
    // Reads the volume and lists its entries with what of each can be
    // recovered. False when it cannot: `why` then says what is damaged, or
    // stays empty when the user was told already.
    virtual bool list(const QuickUndeleteOptions& options, std::vector<UndeleteEntry>& entries, shell::Ui& ui,
                      std::string& why) = 0;
    // The entries came from the listing cache.
    virtual bool fromCache() const { return false; }
    // The entries once planned, for the listing cache.
    virtual void listed(const QuickUndeleteOptions& options, const std::vector<UndeleteEntry>& entries) {}
    // A volume of numbered clusters whose deleted files' chains are freed:
    // those files are planned from their first cluster. None for one that
    // keeps a deleted file's extents.
    virtual std::optional<ClusterView> clusters() const { return std::nullopt; }
    // A deleted file known to lie in one run (exFAT's NoFatChain).
    virtual bool knownContiguous(const UndeleteEntry& entry) const { return false; }
    // The entry's bytes lie in one run from its first cluster.
    virtual bool inOneRun(const UndeleteEntry& entry) const = 0;
    // Writes the entry as the file system holds it (a live file's chain, a
    // deleted record's extents) to `target`.
    virtual bool restore(const UndeleteEntry& entry, const std::filesystem::path& target, shell::Ui& ui,
                         media::FileDamage* damage) = 0;
    // Where the entry was found, as a report says it: "cluster 1234"; empty
    // when nothing tells (a file held in its entry).
    virtual std::string whereFound(const UndeleteEntry& entry) const {
        return entry.FirstCluster > 0 && !entry.ResidentData ? "cluster " + std::to_string(entry.FirstCluster) : "";
    }
};

// "its root folder cannot be read ...": why a listing failed.
std::string RootUnreadable();

// The file system of `drive`: the catalogue's when it tells one, else the first
// whose boot sector parses. Null when none does.
std::unique_ptr<UndeleteVolume> OpenUndeleteVolume(const std::string& drive, const media::DriveRecord& record);

}  // namespace hx::filesystems
