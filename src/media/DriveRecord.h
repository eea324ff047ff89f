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
    std::uint8_t SectorsPerCluster = 0;
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

    // exFAT (SDXC cards): where the cluster heap starts and the allocation bitmap lives.
    std::uint32_t ClusterHeapOffset = 0;
    std::uint32_t BitmapCluster = 0;
    std::uint64_t BitmapLength = 0;

    void reset() { *this = DriveRecord{}; }
    // Never 0: a boot sector that says 0 means 512.
    int sectorSize() const { return BytesPerSector > 0 ? BytesPerSector : 512; }
};

// The program-wide record of the selected drive (the window's working state).
DriveRecord& CurrentDrive();

}  // namespace hx::media
