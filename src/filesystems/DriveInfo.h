#pragma once
// Cataloguing a drive: geometry and file system from the boot sector (each
// file system's reader in BootSectors), the allocation tables and the root
// directory of FAT and exFAT volumes (FatTables).
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

}  // namespace hx::filesystems
