#include "filesystems/exfat/UndeleteExfat.h"

#include <algorithm>
#include <fstream>
#include <set>

#include "filesystems/AllocationBitmap.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/fat/FatTables.h"
#include "media/DriveRecord.h"
#include "filesystems/ntfs/NtfsStructs.h"
#include "media/SalvagedMedium.h"
#include "shell/Strings.h"
#include "filesystems/ClusterWalk.h"

namespace hx::filesystems {

using filesystems::ntfs::Le16;
using filesystems::ntfs::Le32;
using filesystems::ntfs::Le64;

namespace {

constexpr std::uint8_t kTypeFile = 0x05;
constexpr std::uint8_t kTypeStream = 0x40;
constexpr std::uint8_t kTypeName = 0x41;
constexpr std::uint8_t kInUse = 0x80;
// A directory may be 256 MiB; we read at most this much of one.
constexpr std::uint64_t kMaxDirBytes = 16u * 1024 * 1024;
constexpr std::size_t kMaxFolders = 100000;

double exfatTime(std::uint32_t stamp, std::uint8_t tenMs) {
    return FatDateTime(static_cast<std::uint16_t>(stamp >> 16), static_cast<std::uint16_t>(stamp & 0xFFFF)) +
           tenMs / 8640000.0;
}

}  // namespace

ClusterView ExfatClusterView(const ExfatVolume& vol, bool contiguous) {
    ClusterView v;
    v.drive = vol.drive;
    v.bytesPerCluster = vol.bytesPerCluster();
    v.sectorBytes = vol.bytesPerSector;
    v.valid = [&vol](std::uint32_t c) { return vol.validCluster(c); };
    v.inUse = [&vol](std::uint32_t c) { return vol.clusterInUse(c); };
    v.offset = [&vol](std::uint32_t c) { return vol.clusterOffset(c); };
    v.next = [&vol, contiguous](std::uint32_t c) -> std::uint32_t {
        if (contiguous) return c + 1;
        const std::uint32_t n = vol.entry(c);
        return n >= 0xFFFFFFF7u ? 0 : n;
    };
    return v;
}

namespace {

ClusterView exfatView(const ExfatVolume& vol, bool contiguous) { return ExfatClusterView(vol, contiguous); }

}  // namespace

bool ExfatVolume::clusterInUse(std::uint32_t c) const {
    if (!validCluster(c)) return true;
    const std::uint32_t i = c - 2;
    // Past what could be read of the bitmap nothing is known: in use, so no
    // deleted file is planned onto it (as the catalogue's bitmap counts it).
    return i / 8 >= bitmap.size() || ((bitmap[i / 8] >> (i % 8)) & 1);
}

namespace {

// The volume fields as the drive catalogue parsed them; false when the boot
// sector is not exFAT. The checks the undelete walk relies on follow.
bool fromDriveRecord(const media::DriveRecord& r, ExfatVolume& v) {
    if (!r.isExFat() || r.BytesPerSector <= 0) return false;
    v.bytesPerSector = static_cast<std::uint32_t>(r.BytesPerSector);
    v.sectorsPerCluster = r.SectorsPerCluster;
    v.volumeLength = r.VolumeSectors;
    v.fatOffset = r.ReservedSectors;
    v.fatLength = r.SectorsPerFAT;
    v.clusterHeapOffset = r.ClusterHeapOffset;
    v.clusterCount = static_cast<std::uint32_t>(r.TotalClusters);
    v.rootCluster = r.RootCluster;
    v.serial = r.SerialNumber;
    if (v.sectorsPerCluster == 0) return false;
    if (v.fatOffset == 0 || v.clusterHeapOffset < std::uint64_t(v.fatOffset) + v.fatLength) return false;
    if (v.clusterCount == 0 || v.clusterCount > 0xFFFFFFF5u) return false;
    if (std::uint64_t(v.fatLength) * v.bytesPerSector < (std::uint64_t(v.clusterCount) + 2) * 4) return false;
    if (v.clusterHeapOffset + std::uint64_t(v.clusterCount) * v.sectorsPerCluster > v.volumeLength) return false;
    return v.validCluster(v.rootCluster);
}

}  // namespace

bool ParseExfatBootSector(const std::uint8_t* b, std::size_t size, ExfatVolume& v) {
    return b && fromDriveRecord(filesystems::ParseBootSectorBytes(b, size), v);
}

bool LoadExfatVolume(const std::string& drive, const media::DriveRecord& record, ExfatVolume& v) {
    v = ExfatVolume{};
    // The catalogue reads the FAT, the root directory and finds the
    // allocation bitmap's entry in it.
    media::DriveRecord r;
    if (record.Drive == drive && record.isExFat() && TableOf(record)) r = record;
    else if (!filesystems::ParseBootSector(drive, r, true)) return false;
    if (!fromDriveRecord(r, v)) return false;
    v.drive = drive;
    v.table = std::dynamic_pointer_cast<const AllocationTable>(r.Opened);
    if (!v.table || v.table->entries.size() < v.clusterCount + 2u) return false;
    v.bitmap = ReadExfatBitmap(r, (std::uint64_t(v.clusterCount) + 7) / 8, &v.bitmapUnread);
    for (const auto& e : r.RootDirEntries) {
        if (e[0] == 0) break;
        if (e[0] == 0x81 || e[0] == 0x82) v.systemFiles.emplace_back(Le32(e.data() + 20), Le64(e.data() + 24));
    }
    return !v.bitmap.empty();
}

void TakeUnreadBitmapFromFiles(ExfatVolume& vol, const std::vector<UndeleteEntry>& entries) {
    if (vol.bitmapUnread.empty()) return;
    std::vector<std::uint8_t> held(vol.bitmap.size(), 0);
    const std::uint64_t bpc = vol.bytesPerCluster();
    // Marks `clusters` clusters from `first`: along the chain, or one after
    // the other where the file has no chain or the table gives none.
    auto mark = [&](std::uint32_t first, std::uint64_t clusters, bool contiguous) {
        std::uint32_t c = first;
        for (std::uint64_t k = 0; k < std::min<std::uint64_t>(clusters, vol.clusterCount) && vol.validCluster(c); ++k) {
            const std::uint32_t i = c - 2;
            if (i / 8 < held.size()) held[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
            const std::uint32_t next = contiguous ? c + 1 : vol.entry(c);
            c = (next < 2 || next >= 0xFFFFFFF7u) ? c + 1 : next;
        }
    };
    auto clustersOf = [bpc](std::uint64_t bytes) { return std::max<std::uint64_t>(1, (bytes + bpc - 1) / bpc); };
    // The root folder has a chain and no size: it ends where its chain does.
    std::uint64_t rootClusters = 1;
    for (std::uint32_t c = vol.rootCluster; rootClusters < vol.clusterCount; ++rootClusters) {
        const std::uint32_t next = vol.entry(c);
        if (!vol.validCluster(next) || next == c) break;
        c = next;
    }
    mark(vol.rootCluster, rootClusters, false);
    for (const auto& [first, bytes] : vol.systemFiles) mark(first, clustersOf(bytes), false);
    for (const auto& e : entries)
        if (!e.isDeleted() && !(e.Attributes & kAttrInDeletedFolder) && e.FirstCluster >= 2)
            mark(e.FirstCluster, clustersOf(e.Size), (e.Attributes & kAttrExfatContiguous) != 0);
    for (std::size_t i = 0; i < vol.bitmap.size() && i < vol.bitmapUnread.size(); ++i)
        if (vol.bitmapUnread[i]) vol.bitmap[i] = held[i];
}

void ParseExfatDirectory(const std::uint8_t* d, std::size_t size, const std::string& folderPath,
                         std::vector<UndeleteEntry>& list, std::vector<ExfatFolderRef>& folders,
                         bool inDeletedFolder) {
    std::size_t i = 0;
    while (i + 32 <= size) {
        const std::uint8_t type = d[i];
        if (type == 0) break;  // never used from here on
        if ((type & 0x7F) != kTypeFile) {
            i += 32;
            continue;
        }
        const bool inUse = type & kInUse;
        const unsigned secondary = d[i + 1];
        if (secondary < 2 || secondary > 18 || i + (1 + secondary) * 32u > size) {
            i += 32;
            continue;
        }
        const std::uint8_t* stream = d + i + 32;
        // Every entry of the set must be of the same kind (all in use or all deleted).
        bool ok = (stream[0] & 0x7F) == kTypeStream && ((stream[0] & kInUse) == (type & kInUse));
        for (unsigned k = 2; ok && k <= secondary; ++k) {
            const std::uint8_t t = d[i + k * 32];
            if ((t & kInUse) != (type & kInUse)) ok = false;
        }
        if (!ok) {
            i += 32;
            continue;
        }
        const unsigned nameLength = stream[3];
        std::vector<std::uint8_t> utf16;
        for (unsigned k = 2; k <= secondary && utf16.size() < nameLength * 2u; ++k) {
            const std::uint8_t* n = d + i + k * 32;
            if ((n[0] & 0x7F) != kTypeName) break;
            utf16.insert(utf16.end(), n + 2, n + 32);
        }
        if (nameLength == 0 || utf16.size() < nameLength * 2u) {
            i += 32;
            continue;
        }
        const std::string name = filesystems::ntfs::Utf16ToUtf8(utf16.data(), nameLength);
        const std::uint8_t* f = d + i;
        const std::uint16_t attributes = Le16(f + 4);
        const bool contiguous = stream[1] & 0x02;
        const std::uint32_t first = Le32(stream + 20);
        const std::uint64_t length = Le64(stream + 24);
        UndeleteEntry e;
        e.ListName = name;
        if (inUse) {
            e.FileName = name;
        } else {
            // Deleted entries carry the "?" mark in front, as on FAT.
            std::size_t skip = 1;
            while (skip < name.size() && (static_cast<unsigned char>(name[skip]) & 0xC0) == 0x80) ++skip;
            e.FileName = "?" + name.substr(skip);
        }
        e.FolderPath = folderPath;
        e.Created = exfatTime(Le32(f + 8), f[20]);
        e.Modified = exfatTime(Le32(f + 12), f[21]);
        e.Accessed = exfatTime(Le32(f + 16), 0);
        if (e.Created > e.Modified) e.Created = e.Modified;
        e.FirstCluster = first;
        e.Size = length;
        e.Attributes = attributes | (contiguous ? kAttrExfatContiguous : 0) |
                       (inDeletedFolder ? kAttrInDeletedFolder : 0);
        if (e.isFolder()) {
            if (folders.size() < kMaxFolders)
                folders.push_back({first, length, contiguous, !inUse || inDeletedFolder,
                                   (folderPath == "\\" ? "\\" : folderPath + "\\") + name});
        }
        list.push_back(std::move(e));
        i += (1 + secondary) * 32u;
    }
}

bool ListExfatEntries(const ExfatVolume& vol, std::vector<UndeleteEntry>& list, shell::Ui& ui) {
    media::SalvagedDrive medium;
    if (!medium.open(vol.drive, vol.bytesPerSector)) return false;
    std::vector<ExfatFolderRef> folders;
    const auto root = ReadClusterRun(exfatView(vol, false), *medium, vol.rootCluster, kMaxDirBytes);
    ParseExfatDirectory(root.data(), root.size(), "\\", list, folders);
    std::set<std::uint32_t> walked = {vol.rootCluster};
    int reported = 0;
    constexpr int kMaxReported = 20;
    for (std::size_t k = 0; k < folders.size(); ++k) {
        ui.yield();
        if (ui.stopRequested()) break;
        const ExfatFolderRef ref = folders[k];
        // What cannot be read is said with the folder's path; the walk goes on.
        auto skipped = [&](const char* why) {
            if (++reported <= kMaxReported) ui.status(shell::LoadStr(0, "Folder ") + ref.path + ": " + shell::LoadStr(0, why));
        };
        if (!vol.validCluster(ref.firstCluster)) {
            skipped("its first cluster lies outside the volume; its files cannot be listed.");
            continue;
        }
        // A deleted folder's cluster that is taken again holds another file's bytes now.
        if (ref.deleted && vol.clusterInUse(ref.firstCluster)) {
            skipped("deleted, and its cluster holds another file now; its files cannot be listed.");
            continue;
        }
        if (!walked.insert(ref.firstCluster).second) {
            skipped("points back to a folder already listed (a loop); it is listed once.");
            continue;
        }
        // A deleted folder's chain is gone: without NoFatChain only its first cluster is known.
        const bool contiguous = ref.contiguous;
        const std::uint64_t bytes = (ref.deleted && !contiguous) ? vol.bytesPerCluster() : ref.size;
        const auto raw =
            ReadClusterRun(exfatView(vol, contiguous), *medium, ref.firstCluster, std::min(bytes, kMaxDirBytes));
        ParseExfatDirectory(raw.data(), raw.size(), ref.path, list, folders, ref.deleted);
    }
    return true;
}

void EstimateExfatRecoverable(const ExfatVolume& vol, UndeleteEntry& e) {
    EstimateRecoverable(exfatView(vol, false), e);
}

bool RestoreExfatEntry(const ExfatVolume& vol, const UndeleteEntry& e, const std::filesystem::path& target,
                       media::FileDamage* damage) {
    return RestoreClusters(exfatView(vol, e.Attributes & kAttrExfatContiguous), e, target, damage);
}

}  // namespace hx::filesystems
