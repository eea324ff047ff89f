#include "filesystems/AllocationBitmap.h"

#include <algorithm>

#include "filesystems/DriveInfo.h"
#include "filesystems/fat/FatTables.h"
#include "filesystems/FileSystemTypes.h"
#include "media/SalvagingReader.h"
#include "media/SectorIo.h"

namespace hx::filesystems {
using namespace hx::media;

namespace {

// A bitmap has one bit per cluster; a boot sector cannot make us hold more
// than the medium could carry at one sector per cluster.
std::uint64_t unitsOf(const DriveRecord& rec) {
    if (rec.TotalClusters == 0 || rec.MediaBytes == 0) return 0;
    return std::min<std::uint64_t>(static_cast<std::uint64_t>(rec.TotalClusters), rec.MediaBytes / rec.sectorSize());
}

}  // namespace

std::uint64_t AllocationBitmap::freeCount() const {
    return static_cast<std::uint64_t>(std::count(used_.begin(), used_.end(), false));
}

bool LoadAllocationBitmap(DriveRecord& rec, AllocationBitmap& bitmap) {
    if (rec.MediaBytes == 0) rec.MediaBytes = media::MediumBytes(rec.Drive);
    const std::uint64_t units = unitsOf(rec);
    if (units == 0) return false;
    const FileSystemType* type = CataloguedType(rec);
    std::vector<bool> used;
    const bool ok = type && type->clustersInUse && type->clustersInUse(rec, units, used);
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
