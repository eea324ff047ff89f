#include "filesystems/fat/UndeleteFat.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "filesystems/DriveInfo.h"
#include "filesystems/fat/FatTables.h"
#include "filesystems/ntfs/NtfsStructs.h"
#include "media/SalvagedMedium.h"
#include "shell/Strings.h"
#include "filesystems/ClusterWalk.h"

namespace hx::filesystems {

using filesystems::ntfs::AppendUtf8;
using filesystems::ntfs::Le16;
using filesystems::ntfs::Le32;

namespace {

// Bounds of the folder walk: a directory may hold 65,536 entries (2 MiB); a
// medium no more than this many listed entries.
constexpr std::size_t kMaxDirBytes = 2u * 1024 * 1024;
constexpr std::size_t kMaxListed = 2000000;

// The three character runs of a long-name entry, cut at the first NUL.
std::string longNamePart(const RawDirEntry& e) {
    static const int offsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::string out;
    for (int off : offsets) {
        const std::uint16_t c = Le16(&e[off]);
        if (c == 0) break;
        // Surrogates cannot stand alone in UTF-8.
        AppendUtf8(out, (c >= 0xD800 && c < 0xE000) ? '_' : c);
    }
    return out;
}

std::string trimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// Short-name bytes (OEM code page) as text: ASCII stays, 0xE5 in front marks deletion.
std::string shortText(const std::uint8_t* p, std::size_t n, bool first) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t c = p[i];
        if (first && i == 0 && c == 0xE5) out += '?';
        else if (first && i == 0 && c == 0x05) AppendUtf8(out, 0xE5);
        else if (c < 0x20) out += '_';
        else AppendUtf8(out, c);
    }
    return out;
}

bool isLongNameEntry(const RawDirEntry& e) { return (e[11] & 0x3F) == 0x0F || e[2] == 0; }

bool allBlank(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != ' ') return false;
    return true;
}

}  // namespace

bool FatVolume::endMarker(std::uint32_t value) const {
    switch (fatBits) {
        case 12: return value >= 0xFF0;
        case 16: return value >= 0xFFF0;
        default: return (value & 0x0FFFFFFF) >= 0x0FFFFFF0;
    }
}

namespace {

// The volume fields as the drive catalogue parsed them; false when the boot
// sector is not FAT. The checks the undelete walk relies on follow.
bool fromDriveRecord(const media::DriveRecord& r, FatVolume& v) {
    if (!r.isFat() || r.BootSector.size() < 512) return false;
    // A sector size the catalogue had to assume is no volume to undelete from.
    if (r.BytesPerSector < 512 || Le16(r.BootSector.data() + 11) != r.BytesPerSector) return false;
    v.fatBits = r.FileSystem == media::FileSystemKind::Fat32 ? 32 : r.FileSystem == media::FileSystemKind::Fat16 ? 16 : 12;
    v.bytesPerSector = static_cast<std::uint32_t>(r.BytesPerSector);
    v.sectorsPerCluster = r.SectorsPerCluster;
    v.reservedSectors = r.ReservedSectors;
    v.numberOfFats = r.NumberOfFATs;
    v.sectorsPerFat = r.SectorsPerFAT;
    v.rootDirStart = r.RootDirStart;
    v.firstDataSector = r.FirstDataSector;
    v.rootDirSectors = v.fatBits == 32 ? 0 : v.firstDataSector - v.rootDirStart;
    v.rootCluster = v.fatBits == 32 ? r.RootCluster : 0;
    v.totalSectors = static_cast<std::uint32_t>(r.VolumeSectors);
    v.serial = r.SerialNumber;
    if (v.sectorsPerCluster == 0 || v.reservedSectors == 0 || v.sectorsPerFat == 0) return false;
    if (v.numberOfFats == 0 || v.numberOfFats > 4) return false;
    if ((v.fatBits == 32) != (v.rootDirSectors == 0)) return false;
    if (v.totalSectors <= v.firstDataSector) return false;
    v.clusterCount = (v.totalSectors - v.firstDataSector) / v.sectorsPerCluster;
    // The table must have room for every cluster.
    const std::uint64_t fatBytes = std::uint64_t(v.sectorsPerFat) * v.bytesPerSector;
    return fatBytes * 8 >= (std::uint64_t(v.clusterCount) + 2) * v.fatBits;
}

}  // namespace

ClusterView FatClusterView(const FatVolume& vol) {
    ClusterView v;
    v.drive = vol.drive;
    v.bytesPerCluster = vol.bytesPerCluster();
    v.sectorBytes = vol.bytesPerSector;
    v.valid = [&vol](std::uint32_t c) { return vol.validCluster(c); };
    v.inUse = [&vol](std::uint32_t c) { return !vol.clusterFree(c); };
    v.offset = [&vol](std::uint32_t c) { return vol.clusterOffset(c); };
    v.next = [&vol](std::uint32_t c) -> std::uint32_t {
        const std::uint32_t n = vol.entry(c);
        return vol.endMarker(n) ? 0 : n;
    };
    return v;
}

namespace {

ClusterView fatView(const FatVolume& vol) { return FatClusterView(vol); }

std::vector<RawDirEntry> splitEntries(const std::vector<std::uint8_t>& data) {
    std::vector<RawDirEntry> out(data.size() / 32);
    for (std::size_t i = 0; i < out.size(); ++i) std::memcpy(out[i].data(), data.data() + i * 32, 32);
    return out;
}

}  // namespace

bool ParseFatBootSector(const std::uint8_t* b, std::size_t size, FatVolume& v) {
    return b && fromDriveRecord(filesystems::ParseBootSectorBytes(b, size), v);
}

bool LoadFatVolume(const std::string& drive, const media::DriveRecord& record, FatVolume& v) {
    v = FatVolume{};
    // The catalogue read the table of a drive; an image is read here.
    const bool sameDrive = record.Drive == drive;
    media::DriveRecord own;
    const media::DriveRecord* r = &record;
    if (!sameDrive || !record.isFat() || !TableOf(record)) {
        if (!filesystems::ParseBootSector(drive, own, false) || !filesystems::LoadFatTable(own)) return false;
        r = &own;
    }
    if (!fromDriveRecord(*r, v)) return false;
    v.drive = drive;
    if (sameDrive) v.removable = record.DriveType == media::DriveKind::Removable;
    v.table = std::dynamic_pointer_cast<const AllocationTable>(r->Opened);
    return v.table && v.table->entries.size() >= v.clusterCount + 2u;
}

std::string AttributeText(std::uint32_t a) {
    std::string t;
    if (a & kAttrVolume) t += "vbVolume,";
    if (a & kAttrDirectory) t += "Directory,";
    if (a & kAttrHidden) t += "Hidden,";
    if (a & kAttrSystem) t += "System,";
    if (a & kAttrReadOnly) t += "ReadOnly,";
    if (a & kAttrArchive) t += "Archive,";
    if (t.empty()) t = "Normal,";
    t.pop_back();
    return t;
}

void VulUndeleteList(const std::vector<RawDirEntry>& raw, std::vector<UndeleteEntry>& list, bool fat32,
                     bool removable, const std::string& folderPath, bool inDeletedFolder) {
    // Earlier entries by (name, first cluster) and by (size, low cluster word).
    std::map<std::pair<std::string, std::uint32_t>, std::size_t> byNameCluster;
    std::multimap<std::pair<std::uint64_t, std::uint32_t>, std::size_t> bySizeLow;
    for (std::size_t i = 0; i < list.size(); ++i) {
        byNameCluster.emplace(std::make_pair(list[i].FileName, list[i].FirstCluster), i);
        bySizeLow.emplace(std::make_pair(list[i].Size, list[i].FirstCluster & 0xFFFF), i);
    }
    std::string pendingLong;
    for (const auto& e : raw) {
        if (e[0] == 0) {  // never used: nothing to read in it
            pendingLong.clear();
            continue;
        }
        if (allBlank(e.data(), 11) || allBlank(e.data(), 8)) continue;
        if (isLongNameEntry(e)) {
            pendingLong = longNamePart(e) + pendingLong;
            if (pendingLong.size() > 1024) pendingLong.clear();
            continue;
        }
        if (e[11] & kAttrVolume) {
            pendingLong.clear();
            continue;
        }
        UndeleteEntry u;
        const std::string base = trimRight(shortText(e.data(), 8, true));
        const std::string ext = trimRight(shortText(e.data() + 8, 3, false));
        u.FileName = ext.empty() ? base : base + "." + ext;
        if (pendingLong.empty()) {
            // Without a long name, the case bits of byte 12 say how the name was typed.
            const std::string b = (e[12] & 0x08) ? LowerAscii(base) : base;
            const std::string x = (e[12] & 0x10) ? LowerAscii(ext) : ext;
            u.ListName = x.empty() ? b : b + "." + x;
        } else {
            u.ListName = pendingLong;
        }
        pendingLong.clear();
        u.FolderPath = folderPath;
        u.Size = Le32(&e[28]);
        u.FirstCluster = (fat32 ? std::uint32_t(Le16(&e[20])) << 16 : 0) | Le16(&e[26]);
        if (fat32 && removable && u.isDeleted() && Le16(&e[20]) == 0) {
            bool repaired = false;
            auto range = bySizeLow.equal_range({u.Size, u.FirstCluster & 0xFFFF});
            for (auto it = range.first; it != range.second && !repaired; ++it) {
                const auto& twin = list[it->second];
                // The deleted name lost its first letter; compare the rest.
                if (twin.FileName.size() == u.FileName.size() &&
                    twin.FileName.compare(1, std::string::npos, u.FileName, 1, std::string::npos) == 0) {
                    u.FirstCluster = twin.FirstCluster;
                    repaired = true;
                }
            }
            if (!repaired && !list.empty()) {
                const std::uint32_t previous = list.back().FirstCluster;
                while (u.FirstCluster < previous && u.FirstCluster <= 0x0FFFFFFFu - 65536) u.FirstCluster += 65536;
            }
        }
        u.Created = FatDateTime(Le16(&e[16]), Le16(&e[14])) + e[13] / 8640000.0;
        u.Accessed = FatDateTime(Le16(&e[18]), 0);
        u.Modified = FatDateTime(Le16(&e[24]), Le16(&e[22]));
        // A zero date reads as 1979: take the modification date instead.
        if (u.Created > u.Modified || YearOf(u.Created) == 1979) u.Created = u.Modified;
        if (YearOf(u.Accessed) == 1979) u.Accessed = u.Modified;
        u.Attributes = e[11] | (inDeletedFolder ? kAttrInDeletedFolder : 0u);
        const auto key = std::make_pair(u.FileName, u.FirstCluster);
        auto dup = byNameCluster.find(key);
        if (dup != byNameCluster.end()) {
            if (u.Size > list[dup->second].Size) list[dup->second] = std::move(u);
            continue;
        }
        byNameCluster.emplace(key, list.size());
        bySizeLow.emplace(std::make_pair(u.Size, u.FirstCluster & 0xFFFF), list.size());
        list.push_back(std::move(u));
    }
}

std::vector<RawDirEntry> ReadFatDirectory(const FatVolume& vol, std::uint32_t first, bool checkDots,
                                          bool firstClusterOnly) {
    media::SalvagedDrive medium;
    if (!medium.open(vol.drive, vol.bytesPerSector)) return {};
    const auto data = ReadClusterRun(fatView(vol), *medium, first, firstClusterOnly ? vol.bytesPerCluster() : kMaxDirBytes);
    if (checkDots && (data.size() < 64 || data[0] != '.' || data[1] != ' ' || data[32] != '.' || data[33] != '.'))
        return {};
    return splitEntries(data);
}

namespace {

// The ".." entry of a folder names `parent` (the root as 0, or as its cluster on FAT32).
bool dotDotIs(const RawDirEntry& e, std::uint32_t parent, const FatVolume& vol) {
    std::uint32_t named = Le16(&e[26]);
    if (vol.fatBits == 32) named |= static_cast<std::uint32_t>(Le16(&e[20])) << 16;
    if (named == parent) return true;
    const bool root = parent == 0 || (vol.fatBits == 32 && parent == vol.rootCluster);
    return root && (named == 0 || (vol.fatBits == 32 && named == vol.rootCluster));
}

}  // namespace

bool ListFatEntries(const FatVolume& vol, std::vector<UndeleteEntry>& list, shell::Ui& ui) {
    std::vector<RawDirEntry> root;
    if (vol.fatBits == 32) {
        root = ReadFatDirectory(vol, vol.rootCluster, false);
    } else {
        media::SalvagedDrive medium;
        if (!medium.open(vol.drive, vol.bytesPerSector)) return false;
        const std::size_t bytes = static_cast<std::size_t>(std::uint64_t(vol.rootDirSectors) * vol.bytesPerSector);
        const auto buf = ReadFolderBytes(*medium, std::uint64_t(vol.rootDirStart) * vol.bytesPerSector, bytes);
        if (buf.empty()) return false;
        root = splitEntries(buf);
    }
    const bool fat32 = vol.fatBits == 32;
    VulUndeleteList(root, list, fat32, vol.removable, "\\");
    // The first cluster of the folder each entry was listed from (0: the root).
    std::vector<std::uint32_t> listedFrom(list.size(), 0);
    // Folders are walked in list order; a folder cluster is read once, which
    // breaks directory loops and entries that point back up.
    std::set<std::uint32_t> walked;
    if (fat32) walked.insert(vol.rootCluster);
    int reported = 0;
    constexpr int kMaxReported = 20;
    for (std::size_t i = 0; i < list.size() && list.size() < kMaxListed; ++i) {
        if (i % 20 == 0) {
            ui.yield();
            if (ui.stopRequested()) break;
        }
        const UndeleteEntry& e = list[i];
        if (!e.isFolder() || e.FirstCluster == 0 || e.FileName.empty() || e.FileName[0] == '.') continue;
        const std::string path = (e.FolderPath == "\\" ? "\\" : e.FolderPath + "\\") + e.ListName;
        // What cannot be read is said with the folder's path; the walk goes on.
        auto skipped = [&](const char* why) {
            if (++reported <= kMaxReported) ui.status(shell::LoadStr(0, "Folder ") + path + ": " + shell::LoadStr(0, why));
        };
        if (!vol.validCluster(e.FirstCluster)) {
            skipped("its first cluster lies outside the volume; its files cannot be listed.");
            continue;
        }
        // A deleted folder's cluster that is taken again holds another file's bytes now.
        const bool deleted = e.isDeleted();
        if (deleted && !vol.clusterFree(e.FirstCluster)) {
            skipped("deleted, and its cluster holds another file now; its files cannot be listed.");
            continue;
        }
        if (walked.count(e.FirstCluster)) {
            skipped("points back to a folder already listed (a loop); it is listed once.");
            continue;
        }
        // A deleted one's chain was freed with it.
        const std::uint32_t parent = i < listedFrom.size() ? listedFrom[i] : 0;
        const std::uint32_t self = e.FirstCluster;
        const std::vector<RawDirEntry> raw =
            deleted ? ReadDeletedFatFolder(vol, self) : ReadFatDirectory(vol, self, true);
        if (raw.empty()) continue;
        // A deleted folder's cluster that a later folder took names that one's
        // parent in its ".." entry: its files are that folder's, and are listed there.
        if (deleted && raw.size() > 1 && !dotDotIs(raw[1], parent, vol)) {
            skipped("deleted, and its cluster holds another folder now; its files are listed under that one.");
            continue;
        }
        walked.insert(self);
        VulUndeleteList(raw, list, fat32, vol.removable, path, deleted);
        listedFrom.resize(list.size(), self);
    }
    while (!list.empty() && list.back().FileName.empty()) list.pop_back();
    return true;
}

void EstimateFatRecoverable(const FatVolume& vol, UndeleteEntry& e) { EstimateRecoverable(fatView(vol), e); }

bool RestoreFatEntry(const FatVolume& vol, const UndeleteEntry& e, const std::filesystem::path& target,
                     media::FileDamage* damage) {
    return RestoreClusters(fatView(vol), e, target, damage);
}

}  // namespace hx::filesystems
