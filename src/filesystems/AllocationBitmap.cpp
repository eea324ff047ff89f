#include "filesystems/AllocationBitmap.h"

#include <algorithm>

#include "filesystems/DriveInfo.h"
#include "filesystems/FatTables.h"
#include "filesystems/ntfs/NtfsRecords.h"
#include "media/SalvagingReader.h"
#include "media/SectorIo.h"
#include "platform/RawFile.h"
#include "volumes/DriveFiles.h"

namespace hx::filesystems {
using namespace hx::media;

namespace {

// A bitmap has one bit per cluster; a boot sector cannot make us hold more
// than the medium could carry at one sector per cluster.
std::uint64_t unitsOf(const DriveRecord& rec) {
    if (rec.TotalClusters == 0 || rec.MediaBytes == 0) return 0;
    return std::min<std::uint64_t>(static_cast<std::uint64_t>(rec.TotalClusters), rec.MediaBytes / rec.sectorSize());
}

std::vector<bool> fromBits(const std::vector<std::uint8_t>& bits, std::uint64_t units) {
    std::vector<bool> used(static_cast<std::size_t>(units), true);  // unread tail counts as used
    const std::uint64_t known = std::min<std::uint64_t>(units, bits.size() * 8ull);
    for (std::uint64_t i = 0; i < known; ++i) used[static_cast<std::size_t>(i)] = (bits[i / 8] >> (i % 8)) & 1;
    return used;
}

bool loadFat(const DriveRecord& rec, std::uint64_t units, std::vector<bool>& used) {
    const AllocationTable* table = TableOf(rec);
    const std::size_t entries = table ? table->entries.size() : 0;
    if (entries <= 2) return false;
    used.assign(static_cast<std::size_t>(units), true);
    const std::uint64_t known = std::min<std::uint64_t>(units, entries - 2);
    // Once per cluster of the volume: read from the table itself, not through FatEntry's lookup of it.
    for (std::uint64_t u = 0; u < known; ++u) used[static_cast<std::size_t>(u)] = table->entries[u + 2] != 0;
    return true;
}

bool loadExFat(DriveRecord& rec, std::uint64_t units, std::vector<bool>& used) {
    const std::vector<std::uint8_t> bits = ReadExfatBitmap(rec, (units + 7) / 8);
    if (bits.empty()) return false;
    used = fromBits(bits, units);
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

std::uint64_t AllocationBitmap::freeCount() const {
    return static_cast<std::uint64_t>(std::count(used_.begin(), used_.end(), false));
}

bool LoadAllocationBitmap(DriveRecord& rec, AllocationBitmap& bitmap) {
    if (rec.MediaBytes == 0) {
        platform::RawFile f;
        if (volumes::OpenDrive(f, rec.Drive, platform::RawFile::Mode::Read)) rec.MediaBytes = f.size();
    }
    const std::uint64_t units = unitsOf(rec);
    if (units == 0) return false;
    std::vector<bool> used;
    bool ok = false;
    if (rec.isFat()) {
        ok = loadFat(rec, units, used);
    } else if (rec.isExFat()) {
        ok = loadExFat(rec, units, used);
    } else if (rec.isNtfs()) {
        std::vector<std::uint8_t> bits;
        ok = ReadNtfsBitmap(rec, bits);
        if (ok) used = fromBits(bits, units);
    }
    if (!ok) return false;
    bitmap.assign(std::move(used));
    return true;
}

std::int64_t AllocationBitmap::findFreeRun(std::int64_t start, std::int64_t& runLength, std::int64_t& last) const {
    const auto units = static_cast<std::int64_t>(unitCount());
    std::int64_t u = std::max<std::int64_t>(start, 0);
    while (u < units && isUsed(u)) ++u;
    const std::int64_t first = u;
    while (u < units && !isUsed(u)) ++u;
    runLength = u - first;
    last = first + runLength - 1;
    return first;
}

}  // namespace hx::filesystems
