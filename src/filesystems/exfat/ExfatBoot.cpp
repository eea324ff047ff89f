// The boot sector of exFAT (SDXC cards), and what a drive of it loads.
#include <algorithm>

#include "filesystems/FileSystemTypes.h"
#include "filesystems/fat/FatTables.h"
#include "media/SalvagingReader.h"
#include "filesystems/exfat/UndeleteExfat.h"
#include "platform/ByteOrder.h"

namespace hx::filesystems {

using media::FileSystemKind;
using platform::Le16;
using platform::Le32;
using platform::Le64;

namespace {

bool recognises(const std::uint8_t* s) { return BootText(s, 3, 8) == "EXFAT   "; }

void parse(const std::uint8_t* s, DriveRecord& rec) {
    const unsigned bpsShift = s[108], spcShift = s[109];
    if (bpsShift < 9 || bpsShift > 12 || bpsShift + spcShift > 25) {
        rec.FileSystem = FileSystemKind::None;
        return;
    }
    rec.FileSystem = FileSystemKind::ExFat;
    rec.BytesPerSector = static_cast<std::int16_t>(1 << bpsShift);
    rec.SectorsPerCluster = 1u << spcShift;
    rec.HiddenSectors = static_cast<std::uint32_t>(Le64(s + 64));
    rec.VolumeSectors = Le64(s + 72);
    rec.TotalSectors = rec.VolumeSectors;
    rec.ReservedSectors = Le32(s + 80);
    rec.SectorsPerFAT = Le32(s + 84);
    rec.ClusterHeapOffset = Le32(s + 88);
    rec.TotalClusters = Le32(s + 92);
    rec.RootCluster = Le32(s + 96);
    rec.SerialNumber = Le32(s + 100);
    rec.NumberOfFATs = s[110];
    rec.FATEntryBytes = 4;
    rec.RootDirStart = rec.FirstDataSector = rec.ClusterHeapOffset;
}

// The volume label entry (0x83) of the root directory.
void labelFromRoot(DriveRecord& rec) {
    for (const auto& e : rec.RootDirEntries) {
        if (e[0] == 0) break;
        if (e[0] == 0x83) {
            const unsigned chars = std::min<unsigned>(e[1], 11);
            std::string label;
            for (unsigned i = 0; i < chars; ++i) {
                const std::uint16_t c = Le16(e.data() + 2 + 2 * i);
                label += c < 0x80 ? static_cast<char>(c) : '?';
            }
            rec.VolumeLabel = label;
            return;
        }
    }
}

// exFAT keeps the allocation bitmap as a file named by a root entry (0x81).
void findExFatBitmap(DriveRecord& rec) {
    for (const auto& e : rec.RootDirEntries) {
        if (e[0] == 0) break;
        if (e[0] == 0x81 && (e[1] & 1) == 0) {
            rec.BitmapCluster = Le32(e.data() + 20);
            rec.BitmapLength = Le64(e.data() + 24);
            return;
        }
    }
}


void loadTables(DriveRecord& rec) {
    if (rec.ReservedSectors == 0) return;
    LoadFatTable(rec);
    LoadRootDirectory(rec);
    labelFromRoot(rec);
    findExFatBitmap(rec);
}

std::vector<std::string> formatCommand(const DriveRecord& rec, const std::string& label) {
    std::vector<std::string> argv = {"mkfs.exfat"};
    if (!label.empty()) argv.insert(argv.end(), {"-L", label});
    argv.push_back(rec.Drive);
    return argv;
}

bool clustersInUse(DriveRecord& rec, std::uint64_t units, std::vector<bool>& used) {
    const std::vector<std::uint8_t> bits = ReadExfatBitmap(rec, (units + 7) / 8);
    if (bits.empty()) return false;
    used = UsedFromBits(bits, units);
    return true;
}

}  // namespace

std::vector<std::uint8_t> ReadExfatBitmap(DriveRecord& rec, std::uint64_t maxBytes, std::vector<std::uint8_t>* unread) {
    std::vector<std::uint8_t> bits;
    if (unread) unread->clear();
    if (rec.BitmapCluster < 2 || rec.BitmapLength == 0) return bits;
    const std::uint64_t bytes = std::min<std::uint64_t>(rec.BitmapLength, maxBytes);
    std::vector<std::uint8_t> failed;
    // The bitmap may be stored without a FAT chain (contiguous).
    if (FatEntry(rec, rec.BitmapCluster) == 0) {
        const auto first = static_cast<std::uint64_t>(ClusterToSector(rec, rec.BitmapCluster));
        const auto bps = static_cast<std::uint32_t>(rec.sectorSize());
        media::SectorRuns unreadable;
        bits = media::ReadSectorsSalvaging(rec.Drive, first, bytes, bps, &unreadable);
        failed.assign(bits.size(), 0);
        for (const auto& [sector, count] : unreadable) {
            const std::uint64_t from = std::min<std::uint64_t>((sector - first) * bps, bits.size());
            const std::uint64_t to = std::min<std::uint64_t>((sector - first + count) * bps, bits.size());
            std::fill(failed.begin() + static_cast<std::ptrdiff_t>(from), failed.begin() + static_cast<std::ptrdiff_t>(to), 1);
        }
    } else {
        bits = ReadClusterChain(rec, rec.BitmapCluster, bytes, &failed);
    }
    // What cannot be read of it counts as in use: no deleted file is planned onto it.
    bool anyFailed = false;
    for (std::size_t i = 0; i < bits.size() && i < failed.size(); ++i)
        if (failed[i]) bits[i] = 0xFF, anyFailed = true;
    if (unread && anyFailed) *unread = std::move(failed);
    if (bits.size() < bytes) ++rec.ShortReads;
    return bits;
}

FileSystemType ExfatFileSystem() {
    return {.name = "exFAT",
            .recognises = recognises,
            .parse = parse,
            .loadTables = loadTables,
            .catalogued = [](const DriveRecord& r) { return r.isExFat(); },
            .usable =
                [](const std::uint8_t* b, std::size_t n) {
                    ExfatVolume v;
                    return ParseExfatBootSector(b, n, v);
                },
            .openUndelete = OpenExfatUndelete,
            .formatCommand = formatCommand,
            .clustersInUse = clustersInUse,
            .ownLabel = nullptr,
            .listsQuickly = true,
            .listedByName = false};
}

}  // namespace hx::filesystems
