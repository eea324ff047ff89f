#pragma once
// Our MFT library: opens an NTFS volume (device or image file), maps its
// master file table into memory (read through the MFT's own data runs, fixups
// applied) and hands out pointers into the raw FILE records.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filesystems/ntfs/NtfsStructs.h"

namespace hx::media {
class FileDamage;
}  // namespace hx::media

namespace hx::filesystems::mft {

// The volume's geometry as its boot sector gives it, and how many records its MFT holds.
struct MftInfo : ntfs::BootSector {
    std::uint32_t recordCount = 0;
    std::uint32_t unreadableRecords = 0;  // records that held a sector that could not be read (mapMft)
};

struct NamedStream {
    std::string name;
    const std::uint8_t* attribute = nullptr;
};

struct Volume;
struct Map;

// One NTFS volume, open for reading, and its MFT once mapped. Pointers it
// hands out stay valid while it lives and its MFT is not mapped again.
class NtfsVolume {
public:
    NtfsVolume();
    ~NtfsVolume();
    NtfsVolume(const NtfsVolume&) = delete;
    NtfsVolume& operator=(const NtfsVolume&) = delete;

    // `path` is a drive id (device node or image file); a leading "\\.\" is ignored.
    // `known`: its geometry as the catalogue read it, else sector 0 is read.
    bool open(const std::string& path, const ntfs::BootSector* known = nullptr);
    void close();
    bool info(MftInfo& info) const;
    // False when the volume cannot be read or its MFT is unusable.
    bool mapMft(MftInfo& info);

    // Number of data runs of the unnamed data attribute (0 when resident or
    // absent); negative for a record that is unreadable or whose runs are bad.
    int runsCount(std::uint32_t record) const;
    // The fixed-up FILE record, or nullptr.
    const std::uint8_t* record(std::uint32_t record);
    // The first attribute of `type` (for data: the unnamed one), header included,
    // found through $ATTRIBUTE_LIST when needed. A data attribute split over
    // several records comes back merged into one. nullptr when absent.
    const std::uint8_t* attribute(std::uint32_t record, std::uint32_t type);
    // The named $DATA attributes (alternate data streams) kept in the record
    // itself, headers included, with their names. Names that do not fit their
    // attribute are skipped; at most 64 streams are given.
    std::vector<NamedStream> namedStreams(std::uint32_t record);
    // Two $FILE_NAME attributes (headers included): when the record has a DOS
    // name beside its long name, p1 is the DOS name and p2 the long one; with one
    // name p1 holds it and p2 is nullptr. False when the record has no name.
    bool fileName(std::uint32_t record, const std::uint8_t*& p1, const std::uint8_t*& p2);
    // The folder of the record ("\" for the root, "\Photos\2019" below it),
    // NUL-terminated and cut to fit. Returns its length, or -1 when the parent
    // chain is broken (a cycle, or deeper than any real volume).
    int filePath(std::uint32_t record, char* buffer, int bufferBytes);
    const std::uint8_t* standardInformation(std::uint32_t record);
    // Reads `byteCount` bytes of the attribute's clusters from `startVcn` on;
    // sparse runs read as zeros. False when a run cannot be read. Sectors
    // that could not be read (zeros) are noted in `damage`.
    bool readVcn(const std::uint8_t* dataAttribute, std::int64_t startVcn, std::uint64_t byteCount,
                 std::uint8_t* buffer, media::FileDamage* damage = nullptr);
    // From $Bitmap: whether a cluster is allocated now. Clusters outside the
    // volume count as in use; an unreadable bitmap says "not in use".
    bool clusterInUse(std::uint64_t lcn);

private:
    std::unique_ptr<Volume> vol_;
    std::unique_ptr<Map> map_;
};

// For a non-resident attribute (header included): the LCN of `vcn` and the
// clusters left in its run. Sparse VCNs give lcn -1. False outside the runs.
bool MapVCN2LCN(const std::uint8_t* dataHeader, std::int64_t vcn, std::int64_t& lcn, std::int64_t& count);

}  // namespace hx::filesystems::mft
