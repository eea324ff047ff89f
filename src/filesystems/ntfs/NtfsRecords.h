#pragma once
// Just enough of NTFS to catalogue a volume: reads the system files' MFT
// records through NtfsStructs for the volume label and $Bitmap.
#include <cstdint>
#include <vector>

#include "media/DriveRecord.h"

namespace hx::filesystems {
using media::DriveRecord;

// The label from $Volume (record 3) into rec.VolumeLabel; false when absent.
bool ReadNtfsVolumeLabel(DriveRecord& rec);
// The bytes of $Bitmap (record 6), one bit per cluster.
bool ReadNtfsBitmap(DriveRecord& rec, std::vector<std::uint8_t>& bits);

}  // namespace hx::filesystems
