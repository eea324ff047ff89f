#pragma once
// Our MFT library: opens an NTFS volume (device or image file), maps its
// master file table into memory (read through the MFT's own data runs, fixups
// applied) and hands out pointers into the raw FILE records. Handles are
// 32-bit, 0 means failure; pointers stay valid until UnmapMFT.
#include <cstdint>
#include <string>
#include <vector>

namespace hx::undelete::mft {

using VolumeHandle = std::uint32_t;
using MapHandle = std::uint32_t;

// The caller reads only the third field (the number of records).
struct MftInfo {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t bytesPerCluster = 0;
    std::uint32_t recordCount = 0;
    std::uint32_t recordSize = 0;
    std::uint64_t mftLcn = 0;
    std::uint64_t totalClusters = 0;
};

// `path` is a drive id (device node or image file); a leading "\\.\" is ignored.
VolumeHandle OpenVolume(const std::string& path);
bool GetMFTInfo(VolumeHandle volume, MftInfo& info);
// 0 when the volume cannot be read or its MFT is unusable.
MapHandle MapMFT(VolumeHandle volume, MftInfo& info);

// Number of data runs of the unnamed data attribute (0 when resident or
// absent); negative for a record that is unreadable or whose runs are bad.
int GetFileRecordRunsCount(MapHandle map, std::uint32_t record);
// The fixed-up FILE record, or nullptr.
const std::uint8_t* GetFileRecordFromBuffer(MapHandle map, std::uint32_t record);
// The first attribute of `type` (for data: the unnamed one), header included,
// found through $ATTRIBUTE_LIST when needed. A data attribute split over
// several records comes back merged into one. nullptr when absent.
const std::uint8_t* GetFileRecordAttribute(MapHandle map, std::uint32_t record, std::uint32_t type);
// The named $DATA attributes (alternate data streams) kept in the record
// itself, headers included, with their names. Names that do not fit their
// attribute are skipped; at most 64 streams are given.
struct NamedStream {
    std::string name;
    const std::uint8_t* attribute = nullptr;
};
std::vector<NamedStream> GetNamedDataStreams(MapHandle map, std::uint32_t record);
// Two $FILE_NAME attributes (headers included): when the record has a DOS
// name beside its long name, p1 is the DOS name and p2 the long one; with one
// name p1 holds it and p2 is nullptr. False when the record has no name.
bool GetFileName(MapHandle map, std::uint32_t record, const std::uint8_t*& p1, const std::uint8_t*& p2);
// The folder of the record ("\" for the root, "\Photos\2019" below it),
// NUL-terminated and cut to fit. Returns its length, or -1 when the parent
// chain is broken (a cycle, or deeper than any real volume).
int GetFilePath(MapHandle map, std::uint32_t record, char* buffer, int bufferBytes);
const std::uint8_t* GetFileStandardInformation(MapHandle map, std::uint32_t record);

// For a non-resident attribute (header included): the LCN of `vcn` and the
// clusters left in its run. Sparse VCNs give lcn -1. False outside the runs.
bool MapVCN2LCN(const std::uint8_t* dataHeader, std::int64_t vcn, std::int64_t& lcn, std::int64_t& count);
// Reads `byteCount` bytes of the attribute's clusters from `startVcn` on;
// sparse runs read as zeros. False when a run cannot be read.
bool ReadVCN(VolumeHandle volume, const std::uint8_t* dataAttribute, std::int64_t startVcn, std::uint64_t byteCount,
             std::uint8_t* buffer);

void UnmapMFT(MapHandle map);
void CloseVolume(VolumeHandle volume);

// From $Bitmap: whether a cluster is allocated now. Clusters outside the
// volume count as in use; an unreadable bitmap says "not in use".
bool IsClusterInUse(MapHandle map, std::uint64_t lcn);
// The volume a map was made from.
VolumeHandle MapVolume(MapHandle map);

}  // namespace hx::undelete::mft
