// The boot sector of FAT12, FAT16 and FAT32, and what a drive of it loads.
#include <algorithm>
#include <cctype>

#include "filesystems/FileSystemTypes.h"
#include "filesystems/fat/FatTables.h"
#include "filesystems/fat/UndeleteFat.h"
#include "platform/ByteOrder.h"

namespace hx::filesystems {

using media::FileSystemKind;
using platform::Le16;
using platform::Le32;

namespace {

bool recognises(const std::uint8_t* s) {
    const std::uint16_t bps = Le16(s + 11);
    const bool bpsOk = bps == 0 || (IsPowerOfTwo(bps) && bps >= 128 && bps <= 4096);
    const bool jump = s[0] == 0xEB || s[0] == 0xE9;
    const bool signature = s[510] == 0x55 && s[511] == 0xAA;
    return bpsOk && IsPowerOfTwo(s[13]) && s[16] >= 1 && s[16] <= 4 && Le16(s + 14) >= 1 && (jump || signature);
}

void parse(const std::uint8_t* s, DriveRecord& rec) {
    const std::uint16_t rootEntries = Le16(s + 17);
    const std::uint16_t fat16Size = Le16(s + 22);
    const bool fat32 = rootEntries == 0 && fat16Size == 0;
    const std::uint32_t bps = static_cast<std::uint32_t>(rec.sectorSize());
    if (fat32) {
        rec.FileSystem = FileSystemKind::Fat32;
        rec.FATEntryBytes = 4;
        rec.SectorsPerFAT = Le32(s + 36);
        rec.RootDirStart = rec.FirstDataSector =
            ClampTo32(static_cast<std::uint64_t>(rec.NumberOfFATs) * rec.SectorsPerFAT + rec.ReservedSectors);
        rec.RootCluster = Le32(s + 44) & 0x0FFFFFFF;
        if (s[66] == 0x29) {
            rec.SerialNumber = Le32(s + 67);
            rec.VolumeLabel = Trimmed(BootText(s, 71, 11));
        }
    } else {
        rec.SectorsPerFAT = fat16Size;
        rec.RootDirStart =
            ClampTo32(static_cast<std::uint64_t>(rec.NumberOfFATs) * rec.SectorsPerFAT + rec.ReservedSectors);
        const std::uint32_t rootSectors = (rootEntries * 32u + bps - 1) / bps;
        rec.RootDirSectorsMinusOne = rootSectors > 0 ? rootSectors - 1 : 0;
        rec.FirstDataSector = ClampTo32(static_cast<std::uint64_t>(rec.RootDirStart) + rootSectors);
        rec.RootCluster = 2;
        if (s[38] == 0x29) {
            rec.SerialNumber = Le32(s + 39);
            rec.VolumeLabel = Trimmed(BootText(s, 43, 11));
        }
    }
    if (rec.VolumeLabel == "NO NAME") rec.VolumeLabel.clear();
    if (rec.SectorsPerCluster > 0 && rec.VolumeSectors > rec.FirstDataSector)
        rec.TotalClusters = (rec.VolumeSectors - rec.FirstDataSector) / rec.SectorsPerCluster;
    if (!fat32) {
        // The type field names FAT12 or FAT16 on volumes from every formatter
        // we know; when it does not, the cluster count decides as it does for
        // the drivers.
        std::string type = Trimmed(BootText(s, 54, 8));
        std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::toupper(c); });
        if (type == "FAT12" || type == "FAT16")
            rec.FileSystem = type == "FAT12" ? FileSystemKind::Fat12 : FileSystemKind::Fat16;
        else rec.FileSystem = rec.TotalClusters < 4085 ? FileSystemKind::Fat12 : FileSystemKind::Fat16;
        rec.FATEntryBytes = rec.FileSystem == FileSystemKind::Fat16 ? 2.0f : 1.5f;
    }
}

// The volume label entry of the root directory wins over the boot sector's
// copy, as the systems show it.
void labelFromRoot(DriveRecord& rec) {
    for (const auto& e : rec.RootDirEntries) {
        if (e[0] == 0) break;
        if (e[0] != 0xE5 && e[11] != 0x0F && (e[11] & 0x08)) {
            rec.VolumeLabel = Trimmed(std::string(reinterpret_cast<const char*>(e.data()), 11));
            return;
        }
    }
}

void loadTables(DriveRecord& rec) {
    if (rec.ReservedSectors == 0) return;
    LoadFatTable(rec);
    if (rec.SectorsPerCluster > 0) rec.TotalSectors = rec.TotalClusters * rec.SectorsPerCluster;
    LoadRootDirectory(rec);
    labelFromRoot(rec);
}

// mkfs.vfat on the whole drive (-I: no partition table is looked for), of the same FAT type.
std::vector<std::string> formatCommand(const DriveRecord& rec, const std::string& label) {
    std::vector<std::string> argv = {"mkfs.vfat", "-I", "-F",
                                     rec.FileSystem == FileSystemKind::Fat12   ? "12"
                                     : rec.FileSystem == FileSystemKind::Fat16 ? "16"
                                                                               : "32"};
    if (!label.empty() && label != "NO NAME") argv.insert(argv.end(), {"-n", label});
    argv.push_back(rec.Drive);
    return argv;
}

// A cluster is in use when its entry in the table is not 0.
bool clustersInUse(DriveRecord& rec, std::uint64_t units, std::vector<bool>& used) {
    const AllocationTable* table = TableOf(rec);
    const std::size_t entries = table ? table->entries.size() : 0;
    if (entries <= 2) return false;
    used.assign(static_cast<std::size_t>(units), true);
    const std::uint64_t known = std::min<std::uint64_t>(units, entries - 2);
    // Once per cluster of the volume: read from the table itself, not through FatEntry's lookup of it.
    for (std::uint64_t u = 0; u < known; ++u) used[static_cast<std::size_t>(u)] = table->entries[u + 2] != 0;
    return true;
}

}  // namespace

FileSystemType FatFileSystem() {
    return {.name = "FAT",
            .recognises = recognises,
            .parse = parse,
            .loadTables = loadTables,
            .catalogued = [](const DriveRecord& r) { return r.isFat(); },
            .usable =
                [](const std::uint8_t* b, std::size_t n) {
                    FatVolume v;
                    return ParseFatBootSector(b, n, v);
                },
            .openUndelete = OpenFatUndelete,
            .formatCommand = formatCommand,
            .clustersInUse = clustersInUse,
            .ownLabel = nullptr,
            .listsQuickly = true,
            .listedByName = false};
}

}  // namespace hx::filesystems
