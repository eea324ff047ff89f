#pragma once
// Which clusters of a volume are in use, from our own reading of its
// allocation: the FAT entries, the exFAT allocation bitmap or NTFS $Bitmap.
#include <cstdint>
#include <string>
#include <vector>

#include "media/DriveRecord.h"

namespace hx::filesystems {
using media::DriveRecord;

// Units are counted from the start of the data area, as the carving scan
// counts them: unit 0 is FAT/exFAT cluster 2 (at FirstDataSector) and NTFS
// cluster 0. A FAT cluster number c is unit c - 2.
class AllocationBitmap {
public:
    std::size_t unitCount() const { return used_.size(); }
    // Units past the end of the volume count as used.
    bool isUsed(std::int64_t unit) const {
        return unit < 0 || static_cast<std::uint64_t>(unit) >= used_.size() || used_[static_cast<std::size_t>(unit)];
    }
    std::uint64_t freeCount() const;
    // The first free unit at or after `start`, the length of the free run
    // there and its last unit. With no free unit left the answer is
    // unitCount() and a run of 0.
    std::int64_t findFreeRun(std::int64_t start, std::int64_t& runLength, std::int64_t& last) const;
    void assign(std::vector<bool> used) { used_ = std::move(used); }

private:
    std::vector<bool> used_;
};

// Builds the bitmap for a catalogued drive. False when the file system has no
// allocation we can read (unknown, or the tables could not be read).
bool LoadAllocationBitmap(DriveRecord& rec, AllocationBitmap& bitmap);

}  // namespace hx::filesystems
