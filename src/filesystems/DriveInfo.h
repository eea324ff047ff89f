#pragma once
// Cataloguing a drive: geometry and file system from the boot sector, the
// allocation tables and the root directory of FAT and exFAT volumes.
#include <cstdint>
#include <string>
#include <vector>

#include "media/DriveRecord.h"

namespace hx::filesystems {
using media::DriveRecord;

// Drive type names by the platform's type code 0-6.
const char* DriveTypeName(int code);

// Catalogues a drive (device node, attached image, or any image path): resets
// `rec` and fills it. Returns false, leaving `rec` untouched, when the drive is
// not ready (missing, no medium, cannot be opened).
// A medium with a partition table and no file system of its own (a whole
// card copied with dd) is catalogued on its first partition that holds FAT,
// exFAT or NTFS: rec.Drive is then that partition's id ("card.img#1") and
// rec.MediumDrive/PartitionOffset say where it lies.
bool GetDriveInfo(const std::string& drive, DriveRecord& rec);

// Reads sector 0 of `source` and fills the geometry of `rec`. With `asDrive`
// the FAT copies and the root directory are loaded too (FAT and exFAT); an
// image parsed on its own gets geometry only. The record then describes
// `source` (rec.Drive); what the platform said about it stays when it
// already did. Returns false when sector 0
// could not be read (geometry stays zero, BytesPerSector 512).
bool ParseBootSector(const std::string& source, DriveRecord& rec, bool asDrive);

// Parses a boot sector already in memory into `rec` (no reads). Exposed for
// the fuzz target and for callers that hold the sector.
void ParseBootSectorBytes(const std::uint8_t* sector, std::size_t size, DriveRecord& rec);
DriveRecord ParseBootSectorBytes(const std::uint8_t* sector, std::size_t size);

// Reads FAT1/FAT2 and decodes FAT1 into the entry array of the FAT type.
bool LoadFatCopies(DriveRecord& rec);
// Decodes rec.FAT1 into FAT12/16/32Entries and sets FATByteSum.
void DecodeFat(DriveRecord& rec);
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

// What the kernel knows of how the drive is attached: "USB", "SD/MMC",
// "SATA", "NVMe", "SCSI", "VirtIO", "loop"; "image file" for an image; empty
// when unknown.
std::string GetDriveInterface(const DriveRecord& rec);

// What a carving scan of the whole medium needs when the record is a
// partition inside it: the medium to read, where cluster 2 of the partition
// lies on it, and how many cluster-sized units run from there to the
// medium's end (the partition's clusters, then unpartitioned space in the
// same steps). For a record that is no partition: Drive, FirstDataSector
// and TotalClusters unchanged.
struct MediumUnits {
    std::string drive;
    std::uint64_t firstDataSector = 0;
    std::uint64_t totalUnits = 0;
};
MediumUnits WholeMediumUnits(const DriveRecord& rec);

// Reads the clusters of a FAT/exFAT chain starting at `firstCluster` into
// one buffer, at most `maxBytes`. Stops at the end mark, a loop or the volume
// end; short reads are counted in rec.ShortReads.
std::vector<std::uint8_t> ReadClusterChain(DriveRecord& rec, std::uint32_t firstCluster,
                                           std::uint64_t maxBytes);

}  // namespace hx::filesystems
