// The boot sector of exFAT (SDXC cards), and what a drive of it loads.
#include <algorithm>

#include "filesystems/FileSystemTypes.h"
#include "filesystems/FatTables.h"
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

}  // namespace

FileSystemType ExfatFileSystem() {
    return {"exFAT", recognises, parse, loadTables, [](const DriveRecord& r) { return r.isExFat(); },
            [](const std::uint8_t* b, std::size_t n) {
                ExfatVolume v;
                return ParseExfatBootSector(b, n, v);
            },
            OpenExfatUndelete, formatCommand};
}

}  // namespace hx::filesystems
