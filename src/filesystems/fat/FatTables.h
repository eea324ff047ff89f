#pragma once
// The file allocation table that FAT12/16/32 and exFAT share, the chains of
// clusters along it, and the directories read that way. Every read is capped
// by what the medium holds and every chain ends at a loop or the volume's end.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/DriveRecord.h"
#include "media/SalvagingReader.h"

namespace hx::filesystems {

using media::DriveRecord;

// The allocation table of a FAT or exFAT volume, decoded from its first copy
// once, when the drive is opened; the record holds it (DriveRecord::Opened).
struct AllocationTable : media::OpenedFileSystem {
    // One per cluster number, whatever the width on the medium; FAT32's top
    // four bits, which are not part of the entry, are cleared.
    std::vector<std::uint32_t> entries;
    // Entries neither copy of the table could give: marked as bad clusters,
    // so that what they stood for counts as in use, never as free.
    std::uint64_t unknownEntries = 0;
};

// The record's table; null when none was read.
const AllocationTable* TableOf(const DriveRecord& rec);
// Reads the first copy of the table (as far as the cluster count needs) and
// decodes it into the record's table. False when nothing could be read.
bool LoadFatTable(DriveRecord& rec);
// Decodes `firstCopy`, the table as it lies on the medium, for rec.FileSystem
// into the record's table. The entries in `lost` (sectors counted from the
// table's start that no copy could give) are marked as bad clusters.
void DecodeFat(DriveRecord& rec, const std::vector<std::uint8_t>& firstCopy, const media::SectorRuns& lost = {});
// Fills rec.RootDirEntries (FAT12/16 fixed area, FAT32/exFAT cluster chain).
void LoadRootDirectory(DriveRecord& rec);

// The entry after `cluster` in the decoded FAT, or 0xFFFFFFFF when the
// cluster is outside the table.
std::uint32_t FatEntry(const DriveRecord& rec, std::uint32_t cluster);
// True when `value` ends a chain (end mark, bad cluster, free, or out of the volume).
bool IsChainEnd(const DriveRecord& rec, std::uint32_t value);
// Highest valid cluster number (clusters run 2..TotalClusters+1).
std::uint32_t LastCluster(const DriveRecord& rec);
// First sector of a cluster (cluster 2 is FirstDataSector).
std::int64_t ClusterToSector(const DriveRecord& rec, std::uint32_t cluster);

// Reads a directory's clusters along its FAT chain and appends their 32-byte
// entries to rec.RootDirEntries. With `isDirectory` false the first cluster
// must start with the "." and ".." entries; the flag is then set. Returns the
// directory's sectors - 1 (-1 when nothing was read).
std::int64_t ReadDirectoryChain(const std::string& drive, std::uint32_t firstCluster, bool& isDirectory,
                                DriveRecord& rec);

// Reads the clusters of a FAT/exFAT chain starting at `firstCluster` into
// one buffer, at most `maxBytes`. Stops at the end mark, a loop or the volume
// end; short reads are counted in rec.ShortReads. Sectors that cannot be
// read are zeros; `unread`, when given, gets a byte per byte read, 1 where
// it was unreadable.
std::vector<std::uint8_t> ReadClusterChain(DriveRecord& rec, std::uint32_t firstCluster, std::uint64_t maxBytes,
                                           std::vector<std::uint8_t>* unread = nullptr);

// Reads `bytes` at `lba` of `source`, never asking for more than the medium
// holds, and counts a short answer in rec.ShortReads. Sectors that cannot be
// read are zeros, and are added to `unreadable` when given.
std::vector<std::uint8_t> ReadCapped(DriveRecord& rec, const std::string& source, std::int64_t lba,
                                     std::uint64_t bytes, media::SectorRuns* unreadable = nullptr);

}  // namespace hx::filesystems
