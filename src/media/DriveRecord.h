#pragma once
// The catalogue record of the selected drive: what every sector reader needs
// to know about the medium (geometry, file system, allocation tables).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace hx::media {

using DirEntry = std::array<std::uint8_t, 32>;

struct DriveRecord {
    std::string Drive;  // drive id: device node or image path
    // Wider than the boot sector's byte: exFAT clusters reach 32 MiB (65536 sectors).
    std::uint32_t SectorsPerCluster = 0;
    std::int16_t BytesPerSector = 0;
    std::string FileSystem;  // "FAT12", "FAT16", "FAT32", "NTFS", "exFAT" or what the platform reports
    std::string DriveType;   // "Missing", "Unknown", "Removable", "Fixed", "Remote", "CDRom", "RAMDisk"
    std::string VolumeLabel;
    std::uint32_t SerialNumber = 0;
    double TotalSectors = 0;
    double TotalMB = 0;
    double FreeMB = 0;
    double TotalClusters = 0;
    std::vector<std::uint8_t> BootSector;
    std::uint8_t NumberOfFATs = 0;
    std::uint32_t HiddenSectors = 0;
    std::uint32_t ReservedSectors = 0;
    std::uint32_t SectorsPerFAT = 0;
    float FATEntryBytes = 0;
    std::uint32_t RootDirStart = 0;
    std::uint32_t RootDirSectorsMinusOne = 0;
    std::uint32_t FirstDataSector = 0;
    std::uint32_t RootCluster = 0;
    std::uint32_t MFTCluster = 0;
    std::uint32_t MFTRecordClusters = 0;
    std::vector<std::uint8_t> FAT1, FAT2;
    std::vector<std::uint32_t> FAT32Entries;
    std::vector<std::uint16_t> FAT16Entries;
    std::vector<std::uint16_t> FAT12Entries;
    std::vector<DirEntry> RootDirEntries;
    std::uint32_t FATByteSum = 0;
    bool IsImage = false;  // the drive id is an image file rather than a device
    std::string MountPoint;  // where the platform mounted it, empty for images
    // Reads of the boot sector, FAT copies or directories that came back short:
    // the medium is smaller than its boot sector claims, or damaged.
    std::uint32_t ShortReads = 0;

    // exFAT (SDXC cards): where the cluster heap starts and the allocation bitmap lives.
    std::uint32_t ClusterHeapOffset = 0;
    std::uint32_t BitmapCluster = 0;
    std::uint64_t BitmapLength = 0;
    // The volume's size in sectors as its boot sector claims (TotalSectors of a
    // catalogued FAT drive counts the data area only).
    std::uint64_t VolumeSectors = 0;
    // Bytes the medium really has (file or device size); reads are capped by it.
    std::uint64_t MediaBytes = 0;
    // NTFS: one MFT record in bytes, decoded from MFTRecordClusters.
    std::uint32_t MFTRecordBytes = 0;

    std::uint64_t clusterBytes() const { return static_cast<std::uint64_t>(SectorsPerCluster) * sectorSize(); }
    bool isFat() const { return FileSystem == "FAT12" || FileSystem == "FAT16" || FileSystem == "FAT32"; }
    bool isExFat() const { return FileSystem == "exFAT"; }
    bool isNtfs() const { return FileSystem == "NTFS"; }

    void reset() { *this = DriveRecord{}; }
    // Never 0: a boot sector that says 0 means 512.
    int sectorSize() const { return BytesPerSector > 0 ? BytesPerSector : 512; }
};

// The program-wide record of the selected drive (the window's working state).
DriveRecord& CurrentDrive();

}  // namespace hx::media
