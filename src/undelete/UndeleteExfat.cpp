#include "undelete/UndeleteExfat.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>

#include "media/NtfsStructs.h"
#include "platform/RawFile.h"
#include "undelete/ClusterWalk.h"

namespace hx::undelete {

using media::ntfs::Le16;
using media::ntfs::Le32;
using media::ntfs::Le64;

namespace {

constexpr std::uint8_t kTypeFile = 0x05;
constexpr std::uint8_t kTypeStream = 0x40;
constexpr std::uint8_t kTypeName = 0x41;
constexpr std::uint8_t kTypeBitmap = 0x81;
constexpr std::uint8_t kInUse = 0x80;
// A directory may be 256 MiB; we read at most this much of one.
constexpr std::uint64_t kMaxDirBytes = 16u * 1024 * 1024;
constexpr std::size_t kMaxFolders = 100000;

double exfatTime(std::uint32_t stamp, std::uint8_t tenMs) {
    return FatDateTime(static_cast<std::uint16_t>(stamp >> 16), static_cast<std::uint16_t>(stamp & 0xFFFF)) +
           tenMs / 8640000.0;
}

// The bytes of a cluster run: along the FAT, or contiguous.
std::vector<std::uint8_t> readClusters(const ExfatVolume& vol, platform::RawFile& file, std::uint32_t first,
                                       std::uint64_t bytes, bool contiguous, std::uint64_t limit) {
    std::vector<std::uint8_t> out;
    const std::uint64_t bpc = vol.bytesPerCluster();
    bytes = std::min(bytes, limit);
    std::set<std::uint32_t> seen;
    std::uint32_t c = first;
    while (out.size() < bytes && vol.validCluster(c)) {
        if (!contiguous && !seen.insert(c).second) break;
        const std::size_t at = out.size();
        out.resize(at + bpc);
        if (file.readAt(vol.clusterOffset(c), out.data() + at, bpc) != bpc) {
            out.resize(at);
            break;
        }
        if (contiguous) {
            ++c;
        } else {
            const std::uint32_t next = c < vol.fat.size() ? vol.fat[c] : 0;
            if (next < 2 || next >= 0xFFFFFFF7u) break;
            c = next;
        }
    }
    if (out.size() > bytes) out.resize(bytes);
    return out;
}

}  // namespace

bool ExfatVolume::clusterInUse(std::uint32_t c) const {
    if (!validCluster(c)) return true;
    const std::uint32_t i = c - 2;
    return i / 8 < bitmap.size() && ((bitmap[i / 8] >> (i % 8)) & 1);
}

bool ParseExfatBootSector(const std::uint8_t* b, std::size_t size, ExfatVolume& v) {
    if (!b || size < 512 || std::memcmp(b + 3, "EXFAT   ", 8) != 0) return false;
    const unsigned bpsShift = b[108], spcShift = b[109];
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) return false;
    v.bytesPerSector = 1u << bpsShift;
    v.sectorsPerCluster = 1u << spcShift;
    v.volumeLength = Le64(b + 72);
    v.fatOffset = Le32(b + 80);
    v.fatLength = Le32(b + 84);
    v.clusterHeapOffset = Le32(b + 88);
    v.clusterCount = Le32(b + 92);
    v.rootCluster = Le32(b + 96);
    v.serial = Le32(b + 100);
    if (v.fatOffset == 0 || v.clusterHeapOffset < v.fatOffset + v.fatLength) return false;
    if (v.clusterCount == 0 || v.clusterCount > 0xFFFFFFF5u) return false;
    if (std::uint64_t(v.fatLength) * v.bytesPerSector < (std::uint64_t(v.clusterCount) + 2) * 4) return false;
    if (v.clusterHeapOffset + std::uint64_t(v.clusterCount) * v.sectorsPerCluster > v.volumeLength) return false;
    return v.validCluster(v.rootCluster);
}

bool LoadExfatVolume(const std::string& drive, ExfatVolume& v) {
    v = ExfatVolume{};
    platform::RawFile file;
    if (!file.open(drive, platform::RawFile::Mode::Read)) return false;
    std::uint8_t boot[512];
    if (file.readAt(0, boot, sizeof boot) != sizeof boot || !ParseExfatBootSector(boot, sizeof boot, v)) return false;
    v.drive = drive;
    std::vector<std::uint8_t> raw((std::size_t(v.clusterCount) + 2) * 4);
    if (file.readAt(std::uint64_t(v.fatOffset) * v.bytesPerSector, raw.data(), raw.size()) != raw.size()) return false;
    v.fat.resize(v.clusterCount + 2u);
    for (std::size_t i = 0; i < v.fat.size(); ++i) v.fat[i] = Le32(&raw[i * 4]);
    // The allocation bitmap is named by an entry of the root directory.
    const std::vector<std::uint8_t> root = readClusters(v, file, v.rootCluster, kMaxDirBytes, false, kMaxDirBytes);
    for (std::size_t off = 0; off + 32 <= root.size(); off += 32) {
        if (root[off] == 0) break;
        if (root[off] == kTypeBitmap && (root[off + 1] & 1) == 0) {
            const std::uint32_t first = Le32(&root[off + 20]);
            const std::uint64_t len = std::min<std::uint64_t>(Le64(&root[off + 24]), (v.clusterCount + 7) / 8);
            v.bitmap = readClusters(v, file, first, len, false, len);
            break;
        }
    }
    return !v.bitmap.empty();
}

void ParseExfatDirectory(const std::uint8_t* d, std::size_t size, const std::string& folderPath,
                         std::vector<UndeleteEntry>& list, std::vector<ExfatFolderRef>& folders) {
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
        const std::string name = media::ntfs::Utf16ToUtf8(utf16.data(), nameLength);
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
        e.Size = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, 0xFFFFFFFFu));
        e.Attributes = attributes | (contiguous ? kAttrExfatContiguous : 0);
        if (e.isFolder()) {
            if (folders.size() < kMaxFolders)
                folders.push_back({first, length, contiguous, !inUse,
                                   (folderPath == "\\" ? "\\" : folderPath + "\\") + name});
        }
        list.push_back(std::move(e));
        i += (1 + secondary) * 32u;
    }
}

bool ListExfatEntries(const ExfatVolume& vol, std::vector<UndeleteEntry>& list, shell::Ui& ui) {
    platform::RawFile file;
    if (!file.open(vol.drive, platform::RawFile::Mode::Read)) return false;
    std::vector<ExfatFolderRef> folders;
    const auto root = readClusters(vol, file, vol.rootCluster, kMaxDirBytes, false, kMaxDirBytes);
    ParseExfatDirectory(root.data(), root.size(), "\\", list, folders);
    std::set<std::uint32_t> walked = {vol.rootCluster};
    for (std::size_t k = 0; k < folders.size(); ++k) {
        ui.yield();
        if (ui.stopRequested()) break;
        const ExfatFolderRef ref = folders[k];
        if (!walked.insert(ref.firstCluster).second) continue;
        // A deleted folder's chain is gone: without NoFatChain only its first cluster is known.
        const bool contiguous = ref.contiguous;
        const std::uint64_t bytes = (ref.deleted && !contiguous) ? vol.bytesPerCluster() : ref.size;
        const auto raw = readClusters(vol, file, ref.firstCluster, bytes, contiguous, kMaxDirBytes);
        ParseExfatDirectory(raw.data(), raw.size(), ref.path, list, folders);
    }
    return true;
}

namespace {
ClusterView exfatView(const ExfatVolume& vol, bool contiguous) {
    ClusterView v;
    v.drive = vol.drive;
    v.bytesPerCluster = vol.bytesPerCluster();
    v.valid = [&vol](std::uint32_t c) { return vol.validCluster(c); };
    v.inUse = [&vol](std::uint32_t c) { return vol.clusterInUse(c); };
    v.offset = [&vol](std::uint32_t c) { return vol.clusterOffset(c); };
    v.next = [&vol, contiguous](std::uint32_t c) -> std::uint32_t {
        if (contiguous) return c + 1;
        const std::uint32_t n = c < vol.fat.size() ? vol.fat[c] : 0;
        return n >= 0xFFFFFFF7u ? 0 : n;
    };
    return v;
}
}  // namespace

void EstimateExfatRecoverable(const ExfatVolume& vol, UndeleteEntry& e) {
    EstimateRecoverable(exfatView(vol, false), e);
}

bool RestoreExfatEntry(const ExfatVolume& vol, const UndeleteEntry& e, const std::filesystem::path& target) {
    return RestoreClusters(exfatView(vol, e.Attributes & kAttrExfatContiguous), e, target);
}

}  // namespace hx::undelete
