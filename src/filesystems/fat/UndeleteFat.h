#pragma once
// FAT12/16/32 quick undelete: directory entries (deleted ones included)
// parsed into UndeleteEntry records, the folder walk, the recoverable
// estimate and the restore of an entry.
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "media/DriveRecord.h"
#include "shell/Ui.h"
#include "filesystems/ClusterWalk.h"
#include "filesystems/fat/FatTables.h"
#include "filesystems/UndeleteEntry.h"

namespace hx::filesystems {

class UndeleteVolume;

using RawDirEntry = std::array<std::uint8_t, 32>;

// Geometry and allocation table of a FAT volume, as the undelete needs them.
struct FatVolume {
    std::string drive;
    int fatBits = 0;  // 12, 16 or 32
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t numberOfFats = 0;
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t rootDirStart = 0;    // FAT12/16: first sector of the root directory
    std::uint32_t rootDirSectors = 0;  // FAT12/16
    std::uint32_t firstDataSector = 0;
    std::uint32_t rootCluster = 0;     // FAT32
    std::uint32_t clusterCount = 0;    // data clusters: valid numbers are 2 .. clusterCount + 1
    std::uint32_t totalSectors = 0;
    std::uint32_t serial = 0;
    bool removable = false;
    // The drive's table, at least clusterCount + 2 entries long.
    std::shared_ptr<const AllocationTable> table;

    std::uint64_t bytesPerCluster() const { return std::uint64_t(bytesPerSector) * sectorsPerCluster; }
    std::uint64_t clusterOffset(std::uint32_t cluster) const {
        return (firstDataSector + std::uint64_t(cluster - 2) * sectorsPerCluster) * bytesPerSector;
    }
    bool validCluster(std::uint32_t c) const { return c >= 2 && c < clusterCount + 2u; }
    // Free in the table (0); clusters outside it count as taken.
    bool clusterFree(std::uint32_t c) const { return c < clusterCount + 2u && table->entries[c] == 0; }
    // The table's entry of a cluster number; 0 past the volume's clusters.
    std::uint32_t entry(std::uint32_t c) const { return c < clusterCount + 2u ? table->entries[c] : 0; }
    // End-of-chain or reserved marker.
    bool endMarker(std::uint32_t value) const;
};

// Parses a FAT boot sector (geometry only). False when it is not a FAT volume.
bool ParseFatBootSector(const std::uint8_t* boot, std::size_t size, FatVolume& out);
// Geometry from the catalogue record when it holds this drive's FAT
// geometry, else from the boot sector; the table from the record, else read
// from the medium.
bool LoadFatVolume(const std::string& drive, const media::DriveRecord& record, FatVolume& out);

// Parses the raw entries of one directory and appends its files to `list`.
// fat32 enables the high cluster word, removable the repair of a cleared one.
// Entries of a deleted folder are marked so (kAttrInDeletedFolder).
void VulUndeleteList(const std::vector<RawDirEntry>& raw, std::vector<UndeleteEntry>& list, bool fat32,
                     bool removable, const std::string& folderPath = "\\", bool inDeletedFolder = false);

// "Directory,Hidden" etc.; "Normal" when no bit is set.
std::string AttributeText(std::uint32_t attributes);

// Reads the root directory and every folder below it (deleted folders too,
// as far as their first cluster still holds a directory), bounded against
// cluster loops. Yields every 20 entries; stops on the user's request.
bool ListFatEntries(const FatVolume& vol, std::vector<UndeleteEntry>& list, shell::Ui& ui);

// The volume's clusters as the restore and the planning of deleted files see them.
ClusterView FatClusterView(const FatVolume& vol);

// Sets ListSize and Overwritten of an entry from the allocation table.
void EstimateFatRecoverable(const FatVolume& vol, UndeleteEntry& entry);

// Writes a file in use to `target`, along its chain (see RestoreClusters).
bool RestoreFatEntry(const FatVolume& vol, const UndeleteEntry& entry, const std::filesystem::path& target,
                     media::FileDamage* damage = nullptr);

// Reads a directory's clusters along its chain (at most one cluster when the
// chain is gone, or with `firstClusterOnly` for a deleted folder, whose chain
// was freed). `checkDots` accepts it only when it starts with "." and "..".
std::vector<RawDirEntry> ReadFatDirectory(const FatVolume& vol, std::uint32_t firstCluster, bool checkDots,
                                          bool firstClusterOnly = false);

// A deleted folder's entries: its first cluster (with "." and ".."), then the
// clusters FAT would have given it next (the following free clusters that no
// file listed in it holds) for as long as they read as folder entries.
std::vector<RawDirEntry> ReadDeletedFatFolder(const FatVolume& vol, std::uint32_t firstCluster);

// The volume as the undelete reads it (FatUndeleteVolume.cpp).
std::unique_ptr<UndeleteVolume> OpenFatUndelete(const std::string& drive, const media::DriveRecord& record);

}  // namespace hx::filesystems
