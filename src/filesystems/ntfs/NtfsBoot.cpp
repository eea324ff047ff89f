// The boot sector of NTFS. Its label and allocation come from MFT records
// (NtfsRecords), read when the catalogue asks for them.
#include "filesystems/FileSystemTypes.h"
#include "filesystems/ntfs/NtfsRecords.h"
#include "filesystems/ntfs/NtfsStructs.h"
#include "filesystems/ntfs/UndeleteNtfs.h"
#include "platform/ByteOrder.h"

namespace hx::filesystems {

using media::FileSystemKind;
using platform::Le32;
using platform::Le64;

namespace {

bool recognises(const std::uint8_t* s) { return BootText(s, 3, 8) == "NTFS    "; }

void parse(const std::uint8_t* s, DriveRecord& rec) {
    rec.FileSystem = FileSystemKind::Ntfs;
    // Clusters above 64 KiB are stored as a negative power of two.
    const std::uint8_t spc = s[13];
    if (spc >= 0xF4) rec.SectorsPerCluster = 1u << (256 - spc);
    rec.VolumeSectors = Le64(s + 40);
    rec.TotalSectors = rec.VolumeSectors;
    rec.SerialNumber = Le32(s + 72);
    if (rec.SectorsPerCluster > 0) rec.TotalClusters = rec.VolumeSectors / rec.SectorsPerCluster;
    // Where the MFT lies and how large its records are: read as the MFT library reads them.
    if (const auto boot = ntfs::ParseBootSector(s, 512)) rec.Opened = std::make_shared<ntfs::OpenedNtfs>(*boot);
}

bool clustersInUse(DriveRecord& rec, std::uint64_t units, std::vector<bool>& used) {
    std::vector<std::uint8_t> bits;
    if (!ReadNtfsBitmap(rec, bits)) return false;
    used = UsedFromBits(bits, units);
    return true;
}

}  // namespace

FileSystemType NtfsFileSystem() {
    return {.name = "NTFS",
            .recognises = recognises,
            .parse = parse,
            .loadTables = nullptr,
            .catalogued = [](const DriveRecord& r) { return r.isNtfs(); },
            .usable = [](const std::uint8_t* b, std::size_t n) { return ntfs::ParseBootSector(b, n).has_value(); },
            .openUndelete = OpenNtfsUndelete,
            .formatCommand = nullptr,
            .clustersInUse = clustersInUse,
            .ownLabel = [](DriveRecord& rec) { ReadNtfsVolumeLabel(rec); },
            .listsQuickly = false,
            .listedByName = true};
}

}  // namespace hx::filesystems
