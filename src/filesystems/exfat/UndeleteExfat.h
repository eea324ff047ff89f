#pragma once
// exFAT quick undelete: file entry sets whose in-use bit is cleared, listed
// in the same UndeleteEntry list as FAT and NTFS, and restored.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "media/DriveRecord.h"
#include "shell/Ui.h"
#include "filesystems/ClusterWalk.h"
#include "filesystems/fat/FatTables.h"
#include "filesystems/UndeleteEntry.h"

namespace hx::filesystems {

class UndeleteVolume;

// Marks an exFAT entry whose clusters are contiguous (NoFatChain); kept
// above the FAT attribute bits.
constexpr std::uint32_t kAttrExfatContiguous = 0x10000;

struct ExfatVolume {
    std::string drive;
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t fatOffset = 0;  // sectors
    std::uint32_t fatLength = 0;
    std::uint32_t clusterHeapOffset = 0;
    std::uint32_t clusterCount = 0;
    std::uint32_t rootCluster = 0;
    std::uint32_t serial = 0;
    std::uint64_t volumeLength = 0;  // sectors
    // The drive's table, at least clusterCount + 2 entries long.
    std::shared_ptr<const AllocationTable> table;
    std::vector<std::uint8_t> bitmap;  // bit 0 of byte 0 is cluster 2
    // 1 for each byte of the bitmap that could not be read (empty when it all
    // was): its clusters count as in use until the files listed say which are.
    std::vector<std::uint8_t> bitmapUnread;
    // The volume's own files, the bitmap and the up-case table: first cluster, bytes.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> systemFiles;

    std::uint64_t bytesPerCluster() const { return std::uint64_t(bytesPerSector) * sectorsPerCluster; }
    std::uint64_t clusterOffset(std::uint32_t c) const {
        return (clusterHeapOffset + std::uint64_t(c - 2) * sectorsPerCluster) * bytesPerSector;
    }
    bool validCluster(std::uint32_t c) const { return c >= 2 && c < clusterCount + 2u; }
    bool clusterInUse(std::uint32_t c) const;
    // The table's entry of a cluster number; 0 past the volume's clusters.
    std::uint32_t entry(std::uint32_t c) const { return c < clusterCount + 2u ? table->entries[c] : 0; }
};

// The bytes of a catalogued exFAT drive's allocation bitmap, at most
// `maxBytes`: along its FAT chain, or in one run when its first cluster has
// none. Fewer when the medium ends first (counted in rec.ShortReads). Bytes
// that cannot be read are 0xFF (every cluster in use); `unread`, when given,
// is then a byte per byte, 1 where it could not be read (else empty).
std::vector<std::uint8_t> ReadExfatBitmap(DriveRecord& rec, std::uint64_t maxBytes,
                                          std::vector<std::uint8_t>* unread = nullptr);

bool ParseExfatBootSector(const std::uint8_t* boot, std::size_t size, ExfatVolume& out);
// Boot sector, FAT and allocation bitmap of an exFAT drive or image: the
// geometry and table from the catalogue record when it is this drive's,
// else read from the medium.
bool LoadExfatVolume(const std::string& drive, const media::DriveRecord& record, ExfatVolume& out);

// Where the bitmap could not be read, takes the clusters in use from what
// holds them: the root folder, the volume's own files and the files and
// folders in use among `entries` (a chain the table cannot give further is
// taken to run on). The rest of those clusters is free.
void TakeUnreadBitmapFromFiles(ExfatVolume& vol, const std::vector<UndeleteEntry>& entries);

// A folder found while parsing a directory: where its entries lie.
struct ExfatFolderRef {
    std::uint32_t firstCluster = 0;
    std::uint64_t size = 0;
    bool contiguous = false;
    bool deleted = false;
    std::string path;
};
// Parses the raw bytes of one directory: files go to `list`, folders to
// `folders`. Entries of a deleted folder are marked so (kAttrInDeletedFolder).
void ParseExfatDirectory(const std::uint8_t* data, std::size_t size, const std::string& folderPath,
                         std::vector<UndeleteEntry>& list, std::vector<ExfatFolderRef>& folders,
                         bool inDeletedFolder = false);

// The volume's clusters as the restore and the planning of deleted files see them.
ClusterView ExfatClusterView(const ExfatVolume& vol, bool contiguous);

bool ListExfatEntries(const ExfatVolume& vol, std::vector<UndeleteEntry>& list, shell::Ui& ui);
void EstimateExfatRecoverable(const ExfatVolume& vol, UndeleteEntry& entry);
bool RestoreExfatEntry(const ExfatVolume& vol, const UndeleteEntry& entry, const std::filesystem::path& target,
                       media::FileDamage* damage = nullptr);

// The volume as the undelete reads it (ExfatUndeleteVolume.cpp).
std::unique_ptr<UndeleteVolume> OpenExfatUndelete(const std::string& drive, const media::DriveRecord& record);

}  // namespace hx::filesystems
