#include "filesystems/ntfs/NtfsRecords.h"

#include <algorithm>
#include <string>

#include "filesystems/ntfs/NtfsStructs.h"
#include "media/SectorIo.h"

namespace hx::filesystems {
using namespace hx::media;

namespace {

constexpr std::uint32_t kAttrVolumeName = 0x60;
constexpr std::uint32_t kMaxRecordBytes = 64 * 1024;

// Reads MFT record `index` (from the start of the MFT, where the system
// files live) and applies its fix-ups. False when the record is unreadable,
// not a FILE record, or its fix-ups do not match.
bool ReadMftRecord(DriveRecord& rec, std::uint32_t index, std::vector<std::uint8_t>& record) {
    record.clear();
    const ntfs::BootSector* boot = ntfs::NtfsGeometryOf(rec);
    if (!boot) return false;
    const std::uint32_t size = boot->recordSize;
    const int bps = rec.sectorSize();
    if (size < 256 || size > kMaxRecordBytes || rec.SectorsPerCluster == 0) return false;
    const std::uint64_t byteOffset = boot->mftLcn * boot->bytesPerCluster + static_cast<std::uint64_t>(index) * size;
    if (rec.MediaBytes > 0 && byteOffset + size > rec.MediaBytes) return false;
    std::uint32_t got = 0;
    auto data = ReadSectors(rec.Drive, static_cast<std::int64_t>(byteOffset / bps),
                            static_cast<std::uint32_t>(byteOffset % bps), size, got, bps);
    if (got < byteOffset % bps + size) {
        ++rec.ShortReads;
        return false;
    }
    record.assign(data.begin() + static_cast<std::ptrdiff_t>(byteOffset % bps),
                  data.begin() + static_cast<std::ptrdiff_t>(byteOffset % bps + size));
    return ntfs::ApplyFixups(record.data(), record.size());
}

// The first attribute of `type` in a fixed-up record; false when there is
// none or the attribute chain is malformed.
bool FindAttribute(const std::vector<std::uint8_t>& record, std::uint32_t type, ntfs::AttrRef& found) {
    ntfs::RecordHeader header;
    std::vector<ntfs::AttrRef> attrs;
    if (!ntfs::WalkAttributes(record.data(), record.size(), header, attrs)) return false;
    const auto it = std::find_if(attrs.begin(), attrs.end(), [type](const ntfs::AttrRef& a) { return a.type == type; });
    if (it == attrs.end()) return false;
    found = *it;
    return true;
}

// Reads up to `maxBytes` of a non-resident attribute's data (sparse runs read as zeros).
std::vector<std::uint8_t> ReadRuns(DriveRecord& rec, const std::vector<ntfs::Run>& runs, std::uint64_t maxBytes) {
    std::vector<std::uint8_t> out;
    const std::uint64_t cluster = rec.clusterBytes();
    const int bps = rec.sectorSize();
    if (cluster == 0) return out;
    // Sparse runs cost no reads, so the medium's size bounds them too.
    maxBytes = std::min<std::uint64_t>(maxBytes, rec.MediaBytes > 0 ? rec.MediaBytes : 256ull << 20);
    for (const auto& run : runs) {
        if (out.size() >= maxBytes) break;
        const std::uint64_t want = std::min<std::uint64_t>(static_cast<std::uint64_t>(run.length),
                                                           (maxBytes - out.size() + cluster - 1) / cluster);
        if (run.lcn < 0) {
            out.resize(out.size() + static_cast<std::size_t>(want * cluster), 0);
            continue;
        }
        // One cluster at a time keeps every read small and bounded.
        for (std::uint64_t i = 0; i < want; ++i) {
            const std::uint64_t sector = (static_cast<std::uint64_t>(run.lcn) + i) * rec.SectorsPerCluster;
            if (rec.MediaBytes > 0 && (sector * bps) + cluster > rec.MediaBytes) {
                ++rec.ShortReads;
                return out;
            }
            std::uint32_t got = 0;
            auto data = ReadSectors(rec.Drive, static_cast<std::int64_t>(sector), 0,
                                    static_cast<std::uint32_t>(cluster), got, bps);
            if (got < cluster) {
                ++rec.ShortReads;
                return out;
            }
            out.insert(out.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cluster));
        }
    }
    if (out.size() > maxBytes) out.resize(static_cast<std::size_t>(maxBytes));
    return out;
}

}  // namespace

bool ReadNtfsVolumeLabel(DriveRecord& rec) {
    std::vector<std::uint8_t> r;
    ntfs::AttrRef a;
    if (!ReadMftRecord(rec, 3, r) || !FindAttribute(r, kAttrVolumeName, a) || a.nonResident) return false;
    std::uint32_t len = 0;
    const std::uint8_t* value = ntfs::ResidentValue(r.data() + a.offset, a.length, len);
    if (!value) return false;
    std::string label;
    for (std::size_t i = 0; i + 1 < len; i += 2) {
        const std::uint16_t c = ntfs::Le16(value + i);
        label += c < 0x80 ? static_cast<char>(c) : '?';
    }
    rec.VolumeLabel = label;
    return true;
}

bool ReadNtfsBitmap(DriveRecord& rec, std::vector<std::uint8_t>& bits) {
    bits.clear();
    std::vector<std::uint8_t> r;
    ntfs::AttrRef a;
    if (!ReadMftRecord(rec, 6, r) || !FindAttribute(r, ntfs::kAttrData, a)) return false;
    const std::uint64_t totalClusters = rec.TotalClusters;
    const std::uint64_t needed = (totalClusters + 7) / 8;
    const std::uint8_t* attr = r.data() + a.offset;
    if (!a.nonResident) {
        std::uint32_t len = 0;
        const std::uint8_t* value = ntfs::ResidentValue(attr, a.length, len);
        if (!value) return false;
        bits.assign(value, value + std::min<std::uint64_t>(len, needed));
    } else {
        ntfs::NonResidentHeader nr;
        std::vector<ntfs::Run> runs;
        if (!ntfs::ParseNonResident(attr, a.length, nr) ||
            !ntfs::DecodeRuns(attr + nr.runsOffset, a.length - nr.runsOffset, nr.startVcn, totalClusters, runs))
            return false;
        bits = ReadRuns(rec, runs, std::min(static_cast<std::uint64_t>(nr.realSize), needed));
    }
    return !bits.empty();
}

}  // namespace hx::filesystems
