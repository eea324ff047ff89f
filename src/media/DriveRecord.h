#pragma once
// The catalogue record of the selected drive: what every sector reader needs
// to know about the medium (geometry, file system, allocation tables).
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hx::media {

using DirEntry = std::array<std::uint8_t, 32>;

// The file systems the sector readers know; Other is one only the platform names.
enum class FileSystemKind { None, Fat12, Fat16, Fat32, ExFat, Ntfs, Other };
// What kind of drive the platform says it is.
enum class DriveKind { Missing, Unknown, Removable, Fixed, Remote, CDRom, RAMDisk };

// "Removable", "Fixed", ...: the names the window and the command line show.
const char* DriveKindName(DriveKind kind);
// The kind a platform name stands for; Unknown for any other.
DriveKind DriveKindFromName(const std::string& name);

// Base of what a file system keeps of an opened volume (filesystems/).
class OpenedFileSystem {
public:
    virtual ~OpenedFileSystem() = default;
};

struct DriveRecord {
    std::string Drive;  // drive id: device node or image path
    // Wider than the boot sector's byte: exFAT clusters reach 32 MiB (65536 sectors).
    std::uint32_t SectorsPerCluster = 0;
    std::int16_t BytesPerSector = 0;
    FileSystemKind FileSystem = FileSystemKind::None;
    std::string PlatformFileSystem;  // the platform's name for it, shown for Other
    DriveKind DriveType = DriveKind::Unknown;
    std::string VolumeLabel;
    std::uint32_t SerialNumber = 0;
    std::uint64_t TotalSectors = 0;
    double TotalMB = 0;
    double FreeMB = 0;
    std::uint64_t TotalClusters = 0;
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
    std::vector<DirEntry> RootDirEntries;
    // What the file system read of the volume when the drive was opened (the
    // allocation table of FAT and exFAT; where NTFS keeps its MFT and how
    // large its records are). It never changes once made and is shared by
    // every copy of the record: the window and the commands copy records
    // without copying tables.
    std::shared_ptr<const OpenedFileSystem> Opened;
    bool IsImage = false;  // the drive id is an image file rather than a device
    bool IsSystem = false; // holds the running system's root file system
    std::string MountPoint;  // where the platform mounted it, empty for images
    // Reads of the boot sector, the FAT or directories that came back short:
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

    // A partition inside a whole-card image or an unpartitioned device: Drive
    // is then the partition's id ("card.img#1", read with its window), and
    // these say where it lies on the medium. Sector numbers of the volume
    // (FirstDataSector, ClusterToSector) count from the partition's start;
    // on the medium add PartitionOffset / sectorSize().
    std::string MediumDrive;           // the whole image or device; empty when Drive is not a partition
    int PartitionIndex = 0;            // N of "IMAGE#N", 0 when not a partition
    std::uint64_t PartitionOffset = 0; // bytes from the medium's start to the partition's first byte
    std::uint64_t PartitionBytes = 0;  // the partition's length, cut at the medium's end
    std::uint64_t MediumBytes = 0;     // size of the whole medium
    bool ChosenForMedium = false;      // GetDriveInfo(MediumDrive) picked this partition

    std::uint64_t clusterBytes() const { return static_cast<std::uint64_t>(SectorsPerCluster) * sectorSize(); }
    bool isFat() const {
        return FileSystem == FileSystemKind::Fat12 || FileSystem == FileSystemKind::Fat16 ||
               FileSystem == FileSystemKind::Fat32;
    }
    bool isExFat() const { return FileSystem == FileSystemKind::ExFat; }
    bool isNtfs() const { return FileSystem == FileSystemKind::Ntfs; }
    // "FAT12", "FAT16", "FAT32", "exFAT", "NTFS", the platform's name, or "".
    std::string fileSystemName() const;
    std::string driveTypeName() const { return DriveKindName(DriveType); }
    bool isPartition() const { return PartitionIndex > 0; }
    // True when the record is what GetDriveInfo(drive) gives.
    bool describes(const std::string& drive) const {
        return Drive == drive || (ChosenForMedium && MediumDrive == drive);
    }
    // First sector of the data area (cluster 2) counted on the whole medium:
    // where cluster-aligned units start when the whole medium is scanned.
    std::uint64_t mediumFirstDataSector() const { return PartitionOffset / sectorSize() + FirstDataSector; }

    void reset() { *this = DriveRecord{}; }
    // Never 0: a boot sector that says 0 means 512.
    int sectorSize() const { return BytesPerSector > 0 ? BytesPerSector : 512; }
};

}  // namespace hx::media
