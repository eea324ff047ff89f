#pragma once
// Just enough of NTFS to catalogue a volume: MFT records by number, their
// attributes and data runs. Used for the volume label and $Bitmap.
#include <cstdint>
#include <vector>

#include "media/DriveRecord.h"

namespace hx::media {

struct NtfsRun {
    std::int64_t lcn = -1;  // -1: sparse
    std::uint64_t clusters = 0;
};

// Reads MFT record `index` (from the start of the MFT, where the system
// files live) and applies its update-sequence fix-ups. False when the record
// is unreadable, not a FILE record, or its fix-ups do not match.
bool ReadMftRecord(DriveRecord& rec, std::uint32_t index, std::vector<std::uint8_t>& record);
bool ApplyFixups(std::vector<std::uint8_t>& record, std::size_t strideBytes = 512);
// Offset of the first attribute of `type` in a fixed-up record, or -1.
std::int64_t FindAttribute(const std::vector<std::uint8_t>& record, std::uint32_t type);
// The data runs of a non-resident attribute at `attrOffset`; empty on any inconsistency.
std::vector<NtfsRun> DecodeRunList(const std::vector<std::uint8_t>& record, std::size_t attrOffset);
// Reads up to `maxBytes` of a non-resident attribute's data (sparse runs read as zeros).
std::vector<std::uint8_t> ReadRuns(DriveRecord& rec, const std::vector<NtfsRun>& runs, std::uint64_t maxBytes);

// The label from $Volume (record 3) into rec.VolumeLabel; false when absent.
bool ReadNtfsVolumeLabel(DriveRecord& rec);
// The bytes of $Bitmap (record 6), one bit per cluster.
bool ReadNtfsBitmap(DriveRecord& rec, std::vector<std::uint8_t>& bits);

}  // namespace hx::media
