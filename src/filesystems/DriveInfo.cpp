#include "filesystems/DriveInfo.h"

#include <algorithm>
#include <cstring>

#include "filesystems/AllocationBitmap.h"
#include "filesystems/FileSystemTypes.h"
#include "filesystems/fat/FatTables.h"
#include "media/SectorIo.h"
#include "platform/DriveCatalogue.h"
#include "platform/ByteOrder.h"
#include "volumes/PartitionTable.h"
#include "platform/RawFile.h"
#include "volumes/DriveFiles.h"

namespace hx::filesystems {
using namespace hx::media;

using platform::Le16;
using platform::Le32;
using platform::Le64;

namespace {

constexpr std::size_t kBootSectorBytes = 512;


}  // namespace

const char* DriveTypeName(int code) {
    return DriveKindName(code >= 0 && code <= 6 ? static_cast<DriveKind>(code) : DriveKind::Unknown);
}

void ParseBootSectorBytes(const std::uint8_t* s, std::size_t size, DriveRecord& rec) {
    rec.BytesPerSector = 512;
    if (size < kBootSectorBytes) return;
    rec.BootSector.assign(s, s + kBootSectorBytes);
    const std::uint16_t bps = Le16(s + 11);
    // Nothing else is ever used as a divisor: 0 and nonsense mean 512.
    rec.BytesPerSector =
        static_cast<std::int16_t>(IsPowerOfTwo(bps) && bps >= 128 && bps <= 4096 ? bps : 512);
    rec.SectorsPerCluster = s[13];
    rec.NumberOfFATs = s[16];
    rec.ReservedSectors = Le16(s + 14);
    rec.HiddenSectors = Le32(s + 28);
    std::uint32_t total = Le16(s + 19);
    if (total == 0) total = Le32(s + 32);
    rec.TotalSectors = total;
    rec.VolumeSectors = total;

    for (const FileSystemType& reader : FileSystemTypes())
        if (reader.recognises(s)) {
            reader.parse(s, rec);
            break;
        }
    if (!IsPowerOfTwo(rec.SectorsPerCluster)) rec.SectorsPerCluster = 0;
}

DriveRecord ParseBootSectorBytes(const std::uint8_t* s, std::size_t size) {
    DriveRecord rec;
    ParseBootSectorBytes(s, size, rec);
    return rec;
}

bool ParseBootSector(const std::string& source, DriveRecord& rec, bool asDrive) {
    // What the platform said about the drive stays; the geometry of an
    // earlier parse does not.
    DriveRecord fresh;
    fresh.Drive = source;
    if (rec.Drive == source) {
        fresh.DriveType = rec.DriveType;
        fresh.VolumeLabel = rec.VolumeLabel;
        fresh.MountPoint = rec.MountPoint;
        fresh.IsImage = rec.IsImage;
        fresh.IsSystem = rec.IsSystem;
        fresh.FileSystem = rec.FileSystem;
        fresh.PlatformFileSystem = rec.PlatformFileSystem;
        fresh.MediaBytes = rec.MediaBytes;
        fresh.MediumDrive = rec.MediumDrive;
        fresh.PartitionIndex = rec.PartitionIndex;
        fresh.PartitionOffset = rec.PartitionOffset;
        fresh.PartitionBytes = rec.PartitionBytes;
        fresh.MediumBytes = rec.MediumBytes;
        fresh.ChosenForMedium = rec.ChosenForMedium;
    }
    rec = std::move(fresh);
    rec.BytesPerSector = 512;
    if (rec.MediaBytes == 0) rec.MediaBytes = media::MediumBytes(source);
    std::uint32_t got = 0;
    auto sector = ReadSectors(source, 0, 0, kBootSectorBytes, got, 512);
    if (got < kBootSectorBytes) {
        if (!sector.empty()) ++rec.ShortReads;
        return false;
    }
    const FileSystemKind before = rec.FileSystem;
    ParseBootSectorBytes(sector.data(), sector.size(), rec);
    if (rec.FileSystem == FileSystemKind::None) rec.FileSystem = before;
    if (rec.FileSystem == FileSystemKind::None && !rec.PlatformFileSystem.empty()) rec.FileSystem = FileSystemKind::Other;
    if (asDrive && CataloguedType(rec))
        for (const FileSystemType& reader : FileSystemTypes())
            if (reader.recognises(sector.data())) {
                if (reader.loadTables) reader.loadTables(rec);
                break;
            }
    return true;
}

namespace {

// Where a partition drive id lies on its medium.
void notePartition(const std::string& id, DriveRecord& rec) {
    std::string medium;
    int index = 0;
    if (!volumes::SplitPartitionDriveId(id, medium, index)) return;
    platform::RawFile f;
    if (!volumes::OpenDrive(f, id, platform::RawFile::Mode::Read) || !f.windowed()) return;
    rec.MediumDrive = medium;
    rec.PartitionIndex = index;
    rec.PartitionOffset = f.windowBase();
    rec.PartitionBytes = f.size();
    rec.MediumBytes = media::MediumBytes(medium);
}

void catalogue(const platform::DriveEntry& entry, DriveRecord& rec) {
    rec.reset();
    rec.Drive = entry.id;
    rec.IsImage = entry.isImage;
    rec.IsSystem = entry.isSystem;
    rec.DriveType = DriveKindFromName(entry.typeName);
    rec.MountPoint = entry.mountPoint;
    rec.PlatformFileSystem = entry.fileSystem;
    rec.MediaBytes = entry.sizeBytes;
    rec.MediumBytes = entry.sizeBytes;
    notePartition(entry.id, rec);
    ParseBootSector(entry.id, rec, true);
    if (!entry.label.empty()) rec.VolumeLabel = entry.label;
    if (const FileSystemType* type = CataloguedType(rec); type && type->ownLabel) type->ownLabel(rec);

    const double clusterMB = static_cast<double>(rec.clusterBytes()) / 1048576.0;
    rec.TotalMB = static_cast<double>(rec.TotalClusters) * clusterMB;
    platform::SpaceInfo space;
    if (!entry.mountPoint.empty() && platform::QueryFreeSpace(entry.mountPoint, space)) {
        rec.FreeMB = static_cast<double>(space.freeBytes) / 1048576.0;
        if (rec.TotalMB <= 0) rec.TotalMB = static_cast<double>(space.totalBytes) / 1048576.0;
    } else {
        // An unmounted volume: free space from our own reading of its allocation.
        AllocationBitmap bitmap;
        if (LoadAllocationBitmap(rec, bitmap)) rec.FreeMB = static_cast<double>(bitmap.freeCount()) * clusterMB;
    }
}

bool knownFileSystem(const DriveRecord& rec) { return CataloguedType(rec) != nullptr; }

}  // namespace

bool GetDriveInfo(const std::string& drive, DriveRecord& rec) {
    platform::DriveEntry entry;
    if (!volumes::FindDrive(drive, entry) || !entry.ready) return false;
    catalogue(entry, rec);
    // A whole card or stick copied with dd: no file system of its own, so the
    // first partition that holds one stands for it.
    if (knownFileSystem(rec) || rec.isPartition() || rec.BootSector.empty()) return true;
    for (const auto& part : volumes::PartitionDrives(entry)) {
        if (!part.ready) continue;
        DriveRecord inner;
        catalogue(part, inner);
        if (knownFileSystem(inner)) {
            rec = std::move(inner);
            rec.ChosenForMedium = true;
            return true;
        }
    }
    return true;
}

MediumUnits WholeMediumUnits(const DriveRecord& rec) {
    MediumUnits u;
    u.drive = rec.Drive;
    u.firstDataSector = rec.FirstDataSector;
    u.totalUnits = rec.TotalClusters;
    if (!rec.isPartition() || rec.SectorsPerCluster == 0) return u;
    u.drive = rec.MediumDrive;
    u.firstDataSector = rec.mediumFirstDataSector();
    const std::uint64_t mediumSectors = rec.MediumBytes / static_cast<std::uint64_t>(rec.sectorSize());
    u.totalUnits = mediumSectors > u.firstDataSector ? (mediumSectors - u.firstDataSector) / rec.SectorsPerCluster : 0;
    return u;
}

std::string GetDriveInterface(const DriveRecord& rec) {
    if (rec.Drive.empty()) return {};
    if (rec.IsImage) return "image file";
    const std::string bus = platform::DriveBus(rec.isPartition() ? rec.MediumDrive : rec.Drive);
    static constexpr struct {
        const char* bus;
        const char* shown;
    } kBuses[] = {{"usb", "USB"},   {"mmc", "SD/MMC"},     {"ata", "SATA"}, {"nvme", "NVMe"},
                  {"scsi", "SCSI"}, {"virtio", "VirtIO"}, {"loop", "loop"}};
    for (const auto& b : kBuses)
        if (bus == b.bus) return b.shown;
    return bus;
}

}  // namespace hx::filesystems
