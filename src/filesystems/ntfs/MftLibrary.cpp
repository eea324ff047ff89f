#include "filesystems/ntfs/MftLibrary.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "filesystems/ntfs/MftRecords.h"
#include "media/SalvagingReader.h"
#include "media/SectorIo.h"

namespace hx::filesystems::mft {

using namespace filesystems::ntfs;

namespace {

// Record `n` (0 to 3) as $MFTMirr keeps it, into `out` as on the medium
// (fixups not undone); false when the copy cannot be read or is no record.
bool mirroredRecord(Volume& vol, std::uint32_t n, std::uint8_t* out) {
    const std::uint32_t rs = vol.boot.recordSize;
    if (vol.boot.mftMirrLcn == 0 || n > 3) return false;
    std::vector<std::uint8_t> rec(rs);
    media::SalvagingReader reader(vol.file, vol.sectorBytes());
    const std::uint64_t at = vol.boot.mftMirrLcn * vol.boot.bytesPerCluster + std::uint64_t(n) * rs;
    if (reader.read(at, rec.data(), rs) != rs || reader.unreadableSectors() > 0) return false;
    std::vector<std::uint8_t> check(rec);
    if (!ApplyFixups(check.data(), rs)) return false;
    std::memcpy(out, rec.data(), rs);
    return true;
}

// Record 0, with its fixups undone: from the MFT, or from its mirror when
// the MFT's own copy cannot be read.
bool readRecordZero(Volume& vol, std::vector<std::uint8_t>& rec) {
    rec.assign(vol.boot.recordSize, 0);
    media::SalvagingReader reader(vol.file, vol.sectorBytes());
    if (reader.read(vol.boot.mftLcn * vol.boot.bytesPerCluster, rec.data(), rec.size()) == rec.size() &&
        ApplyFixups(rec.data(), rec.size()))
        return true;
    return mirroredRecord(vol, 0, rec.data()) && ApplyFixups(rec.data(), rec.size());
}

}  // namespace

NtfsVolume::NtfsVolume() = default;
NtfsVolume::~NtfsVolume() = default;

void NtfsVolume::close() {
    map_.reset();
    vol_.reset();
}

bool NtfsVolume::open(const std::string& path, const ntfs::BootSector* known) {
    close();
    std::string p = path;
    if (p.rfind("\\\\.\\", 0) == 0) p = p.substr(4);
    auto vol = std::make_unique<Volume>();
    if (!media::OpenDriveForRead(p, 0, vol->file, 512)) return false;
    if (known) {
        vol->boot = *known;
    } else {
        std::uint8_t sector[512];
        media::SalvagingReader reader(vol->file, 512);
        if (reader.read(0, sector, sizeof sector) != sizeof sector || reader.unreadableSectors() > 0) return false;
        auto boot = ParseBootSector(sector, sizeof sector);
        if (!boot) return false;
        vol->boot = *boot;
    }
    vol->sizeBytes = vol->file.size();
    // An image cut short still lists what it holds; clusters past its end read as failures.
    vol_ = std::move(vol);
    return true;
}

bool NtfsVolume::info(MftInfo& info) const {
    Volume* vol = vol_.get();
    if (!vol) return false;
    static_cast<ntfs::BootSector&>(info) = vol->boot;
    // The record count comes from $MFT's own size, read from record 0.
    std::vector<std::uint8_t> rec;
    if (!readRecordZero(*vol, rec)) return false;
    RecordHeader h;
    std::vector<AttrRef> attrs;
    if (!WalkAttributes(rec.data(), rec.size(), h, attrs)) return false;
    for (const auto& a : attrs) {
        if (!IsUnnamedData(a) || !a.nonResident) continue;
        NonResidentHeader nr;
        if (!ParseNonResident(rec.data() + a.offset, a.length, nr) || nr.startVcn != 0) return false;
        const std::uint64_t bytes = std::min<std::uint64_t>(static_cast<std::uint64_t>(nr.realSize), kMaxMftBytes);
        info.recordCount = static_cast<std::uint32_t>(bytes / vol->boot.recordSize);
        return true;
    }
    return false;
}

namespace {

// The runs of the MFT's data, by record 0. A heavily fragmented MFT keeps more
// run pieces in extension records, which themselves lie in the part already
// described. Empty when record 0 cannot be read or says nothing of them.
std::vector<Run> mftRuns(Volume& vol) {
    const std::uint32_t rs = vol.boot.recordSize;
    const std::uint64_t tc = vol.boot.totalClusters;
    std::vector<std::uint8_t> rec0;
    RecordHeader h;
    std::vector<AttrRef> attrs;
    if (!readRecordZero(vol, rec0) || !WalkAttributes(rec0.data(), rs, h, attrs)) return {};
    std::vector<Run> runs;
    const AttrRef* listAttr = nullptr;
    for (const auto& a : attrs) {
        if (IsUnnamedData(a) && a.nonResident && runs.empty() && !RunsOf(rec0.data() + a.offset, tc, runs)) return {};
        if (a.type == kAttrAttributeList && !a.nonResident) listAttr = &a;
    }
    if (runs.empty() || !listAttr) return runs;
    std::uint32_t len = 0;
    const std::uint8_t* v = ResidentValue(rec0.data() + listAttr->offset, listAttr->length, len);
    for (std::size_t pos = 0; v && pos + 26 <= len;) {
        const std::uint16_t elen = Le16(v + pos + 4);
        if (elen < 26 || pos + elen > len) break;
        const std::uint64_t seg = Le64(v + pos + 16) & 0xFFFFFFFFFFFFull;
        const std::int64_t svcn = static_cast<std::int64_t>(Le64(v + pos + 8));
        std::vector<std::uint8_t> ext;
        RecordHeader eh;
        std::vector<AttrRef> eattrs;
        if (Le32(v + pos) == kAttrData && v[pos + 6] == 0 && seg != 0 && svcn > 0 && ReadMftRecord(vol, runs, seg, rs, ext) &&
            WalkAttributes(ext.data(), rs, eh, eattrs)) {
            for (const auto& a : eattrs) {
                std::vector<Run> more;
                NonResidentHeader nr;
                if (IsUnnamedData(a) && a.nonResident && RunsOf(ext.data() + a.offset, tc, more, &nr) && nr.startVcn == svcn &&
                    !more.empty() && more.front().vcn == runs.back().vcn + runs.back().length)
                    runs.insert(runs.end(), more.begin(), more.end());
            }
        }
        pos += elen;
    }
    return runs;
}

// Reads the records run by run into `m`; a sector that cannot be read leaves
// zeros, and the records it lies in are invalid. Returns those records.
std::set<std::uint32_t> readMftRuns(Volume& vol, const std::vector<Run>& runs, Map& m) {
    const std::uint32_t rs = vol.boot.recordSize;
    const std::uint64_t bpc = vol.boot.bytesPerCluster;
    std::set<std::uint32_t> unreadable;
    media::SalvagingReader reader(vol.file, vol.sectorBytes());
    for (const auto& r : runs) {
        const std::uint64_t start = r.vcn * bpc;
        if (start >= m.data.size() || r.lcn < 0) continue;
        const std::uint64_t bytes = std::min<std::uint64_t>(r.length * bpc, m.data.size() - start);
        const std::uint64_t before = reader.unreadableSectors();
        reader.read(r.lcn * bpc, m.data.data() + start, static_cast<std::size_t>(bytes));
        if (reader.unreadableSectors() == before) continue;
        for (std::uint64_t at = start / rs * rs; at < start + bytes; at += rs)
            if (reader.unreadableIn(r.lcn * bpc + (at - start), rs) > 0) unreadable.insert(static_cast<std::uint32_t>(at / rs));
    }
    // The first four records, when their own copy is unreadable: from $MFTMirr.
    for (std::uint32_t n = 0; n < 4 && n < m.count; ++n)
        if (unreadable.count(n) && mirroredRecord(vol, n, m.data.data() + std::size_t(n) * rs)) unreadable.erase(n);
    return unreadable;
}

}  // namespace

bool NtfsVolume::mapMft(MftInfo& info) {
    map_.reset();
    Volume* vol = vol_.get();
    if (!vol || !this->info(info) || info.recordCount == 0) return false;
    const std::uint32_t rs = vol->boot.recordSize;
    // Record 0 describes where the rest of the MFT lies.
    const std::vector<Run> runs = mftRuns(*vol);
    if (runs.empty()) return false;

    auto m = std::make_unique<Map>();
    m->volume = vol;
    m->recordSize = rs;
    std::uint64_t covered = 0;
    for (const auto& r : runs) covered = std::max<std::uint64_t>(covered, (r.vcn + r.length) * vol->boot.bytesPerCluster);
    // Never more than the medium can hold, whatever a damaged record 0 says.
    if (vol->sizeBytes > 0) covered = std::min(covered, vol->sizeBytes);
    const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(info.recordCount, covered / rs));
    if (count == 0) return false;
    m->count = count;
    info.recordCount = count;
    m->data.assign(std::size_t(count) * rs, 0);
    m->info.assign(count, MftRecordInfo{});
    // The records that held a sector that could not be read are invalid, counted, and skipped.
    info.unreadableRecords = static_cast<std::uint32_t>(readMftRuns(*vol, runs, *m).size());
    for (std::uint32_t r = 0; r < count; ++r) IndexRecord(*m, r, vol->boot.totalClusters);
    for (std::uint32_t r = 0; r < count; ++r) {
        const MftRecordInfo& ri = m->info[r];
        if (!ri.valid || ri.base == 0 || ri.base >= count || ri.base == r) continue;
        auto& list = m->extensions[static_cast<std::uint32_t>(ri.base)];
        if (list.size() < kMaxExtensions) list.push_back(r);
    }
    map_ = std::move(m);
    return true;
}

int NtfsVolume::runsCount(std::uint32_t record) const {
    Map* m = map_.get();
    if (!m || record >= m->count || !m->info[record].valid) return -1;
    const MftRecordInfo& ri = m->info[record];
    if (ri.data < 0 && ri.attrList >= 0) {
        MergedData(*m, record);
        return m->mergedRuns[record];
    }
    return ri.runs;
}

const std::uint8_t* NtfsVolume::record(std::uint32_t record) {
    Map* m = map_.get();
    return m ? RecordPtr(*m, record) : nullptr;
}

const std::uint8_t* NtfsVolume::attribute(std::uint32_t record, std::uint32_t type) {
    Map* m = map_.get();
    if (!m) return nullptr;
    const std::uint8_t* rec = RecordPtr(*m, record);
    if (!rec) return nullptr;
    const MftRecordInfo& ri = m->info[record];
    if (type == kAttrData) {
        if (ri.data >= 0) {
            // The first piece of a split attribute holds only part of the runs.
            if (rec[ri.data + 8] && ri.attrList >= 0) {
                NonResidentHeader nr;
                Volume* vol = m->volume;
                if (vol && ParseNonResident(rec + ri.data, AttrLength(rec + ri.data), nr)) {
                    const std::int64_t bpc = vol->boot.bytesPerCluster;
                    if (nr.lastVcn + 1 < (nr.allocatedSize + bpc - 1) / bpc)
                        if (const std::uint8_t* merged = MergedData(*m, record)) return merged;
                }
            }
            return rec + ri.data;
        }
        if (ri.attrList >= 0) return MergedData(*m, record);
        return nullptr;
    }
    RecordHeader h;
    std::vector<AttrRef> attrs;
    if (!WalkAttributes(rec, m->recordSize, h, attrs)) return nullptr;
    for (const auto& a : attrs)
        if (a.type == type) return rec + a.offset;
    if (ri.attrList >= 0) {
        for (const auto& e : AttributeList(*m, record))
            if (e.type == type)
                if (const std::uint8_t* a = AttributeInSegment(*m, e.segment, record, type, e.id)) return a;
    }
    return nullptr;
}

std::vector<NamedStream> NtfsVolume::namedStreams(std::uint32_t record) {
    std::vector<NamedStream> out;
    Map* m = map_.get();
    const std::uint8_t* rec = m ? RecordPtr(*m, record) : nullptr;
    if (!rec) return out;
    RecordHeader h;
    std::vector<AttrRef> attrs;
    if (!WalkAttributes(rec, m->recordSize, h, attrs)) return out;
    for (const auto& a : attrs) {
        if (a.type != kAttrData || a.nameLength == 0 || out.size() >= 64) continue;
        const std::uint8_t* attr = rec + a.offset;
        std::string name;
        if (AttributeName(attr, a.length, name)) out.push_back({std::move(name), attr});
    }
    return out;
}

bool NtfsVolume::fileName(std::uint32_t record, const std::uint8_t*& p1, const std::uint8_t*& p2) {
    p1 = p2 = nullptr;
    Map* m = map_.get();
    if (!m) return false;
    const std::uint8_t* dos = nullptr;
    const std::uint8_t* name = PreferredName(*m, record, &dos);
    if (!name) return false;
    if (dos && dos != name) {
        p1 = dos;
        p2 = name;
    } else {
        p1 = name;
    }
    return true;
}

int NtfsVolume::filePath(std::uint32_t record, char* buffer, int bufferBytes) {
    Map* m = map_.get();
    if (!buffer || bufferBytes <= 0) return -1;
    buffer[0] = 0;
    if (!m) return -1;
    const std::uint8_t* fn = PreferredName(*m, record);
    FileNameInfo info;
    if (!fn || !ParseFileName(fn, AttrLength(fn), info)) return -1;
    constexpr std::uint32_t kRoot = 5;
    // Climb to the root or to a folder already known, then build the paths down.
    std::vector<std::pair<std::uint32_t, std::string>> chain;
    std::uint64_t cur = info.parentRecord;
    std::string prefix;
    bool broken = false;
    for (int depth = 0;; ++depth) {
        if (cur == kRoot) {
            prefix = "\\";
            break;
        }
        if (depth >= kMaxFolderDepth) {
            broken = true;
            break;
        }
        auto known = m->folderPaths.find(static_cast<std::uint32_t>(cur));
        if (cur < m->count && known != m->folderPaths.end()) {
            if (known->second.empty()) broken = true;
            prefix = known->second;
            break;
        }
        bool seen = false;
        for (auto& c : chain) seen = seen || c.first == cur;
        const std::uint8_t* pfn = cur < m->count ? PreferredName(*m, static_cast<std::uint32_t>(cur)) : nullptr;
        FileNameInfo pinfo;
        if (seen) {
            broken = true;
            break;
        }
        if (!pfn || !ParseFileName(pfn, AttrLength(pfn), pinfo)) {
            prefix = "\\?";  // the parent folder's record is gone
            break;
        }
        chain.emplace_back(static_cast<std::uint32_t>(cur), pinfo.name);
        cur = pinfo.parentRecord;
    }
    if (broken) {
        for (auto& c : chain) m->folderPaths[c.first] = std::string();
        return -1;
    }
    std::string path = prefix;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (path.empty() || path.back() != '\\') path += '\\';
        path += it->second;
        m->folderPaths[it->first] = path;
    }
    const std::size_t n = std::min<std::size_t>(path.size(), static_cast<std::size_t>(bufferBytes - 1));
    std::memcpy(buffer, path.data(), n);
    buffer[n] = 0;
    return static_cast<int>(n);
}

const std::uint8_t* NtfsVolume::standardInformation(std::uint32_t record) {
    Map* m = map_.get();
    if (!m) return nullptr;
    const std::uint8_t* rec = RecordPtr(*m, record);
    if (!rec || m->info[record].standardInfo < 0) return nullptr;
    return rec + m->info[record].standardInfo;
}

bool MapVCN2LCN(const std::uint8_t* dataHeader, std::int64_t vcn, std::int64_t& lcn, std::int64_t& count) {
    lcn = -1;
    count = 0;
    if (!dataHeader || !dataHeader[8]) return false;
    std::vector<Run> runs;
    if (!RunsOf(dataHeader, 0, runs)) return false;
    for (const auto& r : runs) {
        if (vcn >= r.vcn && vcn < r.vcn + r.length) {
            lcn = r.lcn < 0 ? -1 : r.lcn + (vcn - r.vcn);
            count = r.vcn + r.length - vcn;
            return true;
        }
    }
    return false;
}

bool NtfsVolume::readVcn(const std::uint8_t* dataAttribute, std::int64_t startVcn, std::uint64_t byteCount,
                         std::uint8_t* buffer, media::FileDamage* damage) {
    Volume* vol = vol_.get();
    if (!vol || !dataAttribute || !dataAttribute[8] || (byteCount && !buffer)) return false;
    std::vector<Run> runs;
    if (!RunsOf(dataAttribute, vol->boot.totalClusters, runs)) return false;
    return ReadRuns(*vol, runs, startVcn, byteCount, buffer, damage);
}

bool NtfsVolume::clusterInUse(std::uint64_t lcn) {
    Map* m = map_.get();
    if (!m) return false;
    Volume* vol = m->volume;
    if (!vol) return false;
    if (lcn >= vol->boot.totalClusters) return true;
    if (!m->bitmapLoaded) {
        m->bitmapLoaded = true;
        constexpr std::uint32_t kBitmapRecord = 6;
        const std::uint8_t* attr = attribute(kBitmapRecord, kAttrData);
        NonResidentHeader nr;
        if (attr && attr[8] && ParseNonResident(attr, AttrLength(attr), nr)) {
            const std::uint64_t need = (vol->boot.totalClusters + 7) / 8;
            const std::uint64_t bytes = std::min<std::uint64_t>(need, static_cast<std::uint64_t>(nr.realSize));
            m->bitmap.assign(bytes, 0);
            if (!readVcn(attr, 0, bytes, m->bitmap.data())) m->bitmap.clear();
        }
    }
    if (lcn / 8 >= m->bitmap.size()) return false;
    return (m->bitmap[lcn / 8] >> (lcn % 8)) & 1;
}

}  // namespace hx::filesystems::mft
