#pragma once
// The MFT as the library holds it: every record read once into a map, with
// where its attributes lie, and the walks over it that the volume's
// questions share (attribute lists, extension records, data spread over
// several records, the name to show). Inside the MFT library only.
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "filesystems/ntfs/NtfsStructs.h"
#include "platform/RawFile.h"

namespace hx::media {
class FileDamage;
}  // namespace hx::media

namespace hx::filesystems::mft {

// A walk up the parent chain longer than this is a cycle or garbage.
constexpr int kMaxFolderDepth = 256;
// Beyond this the MFT is not believed (2^31 records of 1 KiB would be 2 TiB).
constexpr std::uint64_t kMaxMftBytes = std::uint64_t(8) << 30;
constexpr std::size_t kMaxAttributeListBytes = 256 * 1024;
// Extension records of one file looked at, at most.
constexpr std::size_t kMaxExtensions = 4096;

struct Volume {
    platform::RawFile file;  // opened by the media layer, read through its salvaging reader
    ntfs::BootSector boot;
    std::uint64_t sizeBytes = 0;
    // What one failing read loses at least: the volume's sector.
    std::uint32_t sectorBytes() const { return boot.bytesPerSector >= 512 ? boot.bytesPerSector : 512; }
};

struct MftRecordInfo {
    bool valid = false;
    std::uint16_t flags = 0;
    std::uint64_t base = 0;
    std::int32_t standardInfo = -1;
    std::int32_t data = -1;
    std::int32_t attrList = -1;
    std::int32_t runs = 0;
    std::int32_t names[4] = {-1, -1, -1, -1};
};

struct Map {
    Volume* volume = nullptr;
    std::uint32_t recordSize = 0;
    std::uint32_t count = 0;
    std::vector<std::uint8_t> data;
    std::vector<MftRecordInfo> info;
    std::map<std::uint32_t, std::vector<std::uint8_t>> merged;
    std::map<std::uint32_t, int> mergedRuns;
    std::unordered_map<std::uint32_t, std::string> folderPaths;  // "" marks a broken chain
    // The extension records that name each base record as theirs.
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> extensions;
    std::vector<std::uint8_t> bitmap;
    bool bitmapLoaded = false;
};


struct ListEntry {
    std::uint32_t type;
    std::int64_t startVcn;
    std::uint64_t segment;
    std::uint16_t id;
    std::uint8_t nameLength;
};

std::uint32_t AttrLength(const std::uint8_t* attr);
// Reads clusters of a run list into `out` (byteCount bytes from startVcn);
// sectors that could not be read (zeros) are noted in `damage`.
bool ReadRuns(Volume& vol, const std::vector<ntfs::Run>& runs, std::int64_t startVcn, std::uint64_t byteCount,
              std::uint8_t* out, media::FileDamage* damage = nullptr);
// Reads MFT record `n` through the runs known so far and fixes it up.
bool ReadMftRecord(Volume& vol, const std::vector<ntfs::Run>& runs, std::uint64_t n, std::uint32_t rs,
                   std::vector<std::uint8_t>& out);
bool RunsOf(const std::uint8_t* attr, std::uint64_t totalClusters, std::vector<ntfs::Run>& runs,
            ntfs::NonResidentHeader* headerOut = nullptr);
bool IsUnnamedData(const ntfs::AttrRef& a);
// Fixes record `r` up in the map and notes where its attributes lie.
void IndexRecord(Map& m, std::uint32_t r, std::uint64_t totalClusters);
// Record `r`, or null when it is outside the MFT or unreadable.
const std::uint8_t* RecordPtr(const Map& m, std::uint32_t r);
// The entries of a record's $ATTRIBUTE_LIST.
std::vector<ListEntry> AttributeList(Map& m, std::uint32_t r);
// Finds an attribute (type and id) in an extension record that belongs to `base`.
const std::uint8_t* AttributeInSegment(Map& m, std::uint64_t segment, std::uint32_t base, std::uint32_t type,
                                       std::uint16_t id);
// The data attribute of `r` with the whole run list, its pieces in extension records joined.
const std::uint8_t* MergedData(Map& m, std::uint32_t r);
// The $FILE_NAME to show (the long name before the DOS one); the DOS one in `dosOut`.
const std::uint8_t* PreferredName(Map& m, std::uint32_t r, const std::uint8_t** dosOut = nullptr);

}  // namespace hx::filesystems::mft
