#include "filesystems/ntfs/MftLibrary.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "filesystems/ntfs/NtfsStructs.h"
#include "platform/RawFile.h"

namespace hx::filesystems::mft {

using namespace filesystems::ntfs;

namespace {

// A walk up the parent chain longer than this is a cycle or garbage.
constexpr int kMaxFolderDepth = 256;
// Beyond this the MFT is not believed (2^31 records of 1 KiB would be 2 TiB).
constexpr std::uint64_t kMaxMftBytes = std::uint64_t(8) << 30;
constexpr std::size_t kMaxAttributeListBytes = 256 * 1024;
// Extension records of one file looked at, at most.
constexpr std::size_t kMaxExtensions = 4096;

}  // namespace

struct Volume {
    platform::RawFile file;
    BootSector boot;
    std::uint64_t sizeBytes = 0;
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

namespace {

std::uint32_t attrLength(const std::uint8_t* attr) { return Le32(attr + 4); }

// Reads clusters of a run list into `out` (byteCount bytes from startVcn).
bool readRuns(Volume& vol, const std::vector<Run>& runs, std::int64_t startVcn, std::uint64_t byteCount,
              std::uint8_t* out) {
    const std::uint64_t bpc = vol.boot.bytesPerCluster;
    std::uint64_t done = 0;
    std::int64_t vcn = startVcn;
    while (done < byteCount) {
        auto it = std::find_if(runs.begin(), runs.end(),
                               [&](const Run& r) { return vcn >= r.vcn && vcn < r.vcn + r.length; });
        if (it == runs.end()) return false;
        const std::uint64_t clusters = static_cast<std::uint64_t>(it->vcn + it->length - vcn);
        const std::uint64_t want = std::min<std::uint64_t>(byteCount - done, clusters * bpc);
        if (it->lcn < 0) {
            std::memset(out + done, 0, want);
        } else {
            const std::uint64_t pos = static_cast<std::uint64_t>(it->lcn + (vcn - it->vcn)) * bpc;
            if (vol.file.readAt(pos, out + done, want) != want) return false;
        }
        done += want;
        vcn += static_cast<std::int64_t>((want + bpc - 1) / bpc);
    }
    return true;
}

// Reads MFT record `n` through the runs known so far and fixes it up.
bool readMftRecord(Volume& vol, const std::vector<Run>& runs, std::uint64_t n, std::uint32_t rs,
                   std::vector<std::uint8_t>& out) {
    const std::uint64_t bpc = vol.boot.bytesPerCluster;
    const std::uint64_t byteVcn = n * rs;
    std::vector<std::uint8_t> tmp(byteVcn % bpc + rs);
    if (!readRuns(vol, runs, static_cast<std::int64_t>(byteVcn / bpc), tmp.size(), tmp.data())) return false;
    out.assign(tmp.begin() + static_cast<std::ptrdiff_t>(byteVcn % bpc), tmp.end());
    return ApplyFixups(out.data(), rs);
}

bool runsOf(const std::uint8_t* attr, std::uint64_t totalClusters, std::vector<Run>& runs,
            NonResidentHeader* headerOut = nullptr) {
    const std::uint32_t len = attrLength(attr);
    NonResidentHeader h;
    if (!ParseNonResident(attr, len, h)) return false;
    if (headerOut) *headerOut = h;
    return DecodeRuns(attr + h.runsOffset, len - h.runsOffset, h.startVcn, totalClusters, runs);
}

bool isUnnamedData(const AttrRef& a) { return a.type == kAttrData && a.nameLength == 0; }

void indexRecord(Map& m, std::uint32_t r, std::uint64_t totalClusters) {
    std::uint8_t* rec = m.data.data() + std::size_t(r) * m.recordSize;
    MftRecordInfo& ri = m.info[r];
    if (!ApplyFixups(rec, m.recordSize)) return;
    RecordHeader h;
    std::vector<AttrRef> attrs;
    if (!WalkAttributes(rec, m.recordSize, h, attrs)) return;
    ri.valid = true;
    ri.flags = h.flags;
    ri.base = h.baseRecord;
    int names = 0;
    for (const auto& a : attrs) {
        if (a.type == kAttrStandardInformation && ri.standardInfo < 0 && !a.nonResident) ri.standardInfo = a.offset;
        else if (a.type == kAttrAttributeList && ri.attrList < 0) ri.attrList = a.offset;
        else if (a.type == kAttrFileName && names < 4 && !a.nonResident) ri.names[names++] = a.offset;
        else if (isUnnamedData(a) && ri.data < 0) ri.data = a.offset;
    }
    if (ri.data >= 0 && rec[ri.data + 8]) {
        std::vector<Run> runs;
        ri.runs = runsOf(rec + ri.data, totalClusters, runs) ? static_cast<int>(runs.size()) : -1;
    }
}

const std::uint8_t* recordPtr(const Map& m, std::uint32_t r) {
    if (r >= m.count || !m.info[r].valid) return nullptr;
    return m.data.data() + std::size_t(r) * m.recordSize;
}

struct ListEntry {
    std::uint32_t type;
    std::int64_t startVcn;
    std::uint64_t segment;
    std::uint16_t id;
    std::uint8_t nameLength;
};

// The entries of a record's $ATTRIBUTE_LIST.
std::vector<ListEntry> attributeList(Map& m, std::uint32_t r) {
    std::vector<ListEntry> out;
    const std::uint8_t* rec = recordPtr(m, r);
    if (!rec || m.info[r].attrList < 0) return out;
    const std::uint8_t* attr = rec + m.info[r].attrList;
    std::vector<std::uint8_t> bytes;
    if (!attr[8]) {
        std::uint32_t len = 0;
        const std::uint8_t* v = ResidentValue(attr, attrLength(attr), len);
        if (!v) return out;
        bytes.assign(v, v + len);
    } else {
        Volume* vol = m.volume;
        std::vector<Run> runs;
        NonResidentHeader h;
        if (!vol || !runsOf(attr, vol->boot.totalClusters, runs, &h)) return out;
        if (h.realSize <= 0 || static_cast<std::uint64_t>(h.realSize) > kMaxAttributeListBytes) return out;
        bytes.resize(static_cast<std::size_t>(h.realSize));
        if (!readRuns(*vol, runs, 0, bytes.size(), bytes.data())) return {};
    }
    std::size_t pos = 0;
    while (pos + 26 <= bytes.size()) {
        const std::uint16_t len = Le16(&bytes[pos + 4]);
        if (len < 26 || pos + len > bytes.size()) break;
        ListEntry e;
        e.type = Le32(&bytes[pos]);
        e.nameLength = bytes[pos + 6];
        e.startVcn = static_cast<std::int64_t>(Le64(&bytes[pos + 8]));
        e.segment = Le64(&bytes[pos + 16]) & 0xFFFFFFFFFFFFull;
        e.id = Le16(&bytes[pos + 24]);
        out.push_back(e);
        pos += len;
    }
    return out;
}

// Finds an attribute (type and id) in an extension record that belongs to `base`.
const std::uint8_t* attributeInSegment(Map& m, std::uint64_t segment, std::uint32_t base, std::uint32_t type,
                                       std::uint16_t id) {
    if (segment >= m.count) return nullptr;
    const std::uint8_t* rec = recordPtr(m, static_cast<std::uint32_t>(segment));
    if (!rec) return nullptr;
    if (segment != base && m.info[segment].base != base) return nullptr;
    RecordHeader h;
    std::vector<AttrRef> attrs;
    if (!WalkAttributes(rec, m.recordSize, h, attrs)) return nullptr;
    for (const auto& a : attrs)
        if (a.type == type && a.id == id) return rec + a.offset;
    return nullptr;
}

// Joins the pieces of a data attribute spread over extension records into one
// attribute with the whole run list, kept in the map.
const std::uint8_t* mergedData(Map& m, std::uint32_t r) {
    auto found = m.merged.find(r);
    if (found != m.merged.end()) return found->second.empty() ? nullptr : found->second.data();
    auto& slot = m.merged[r];
    m.mergedRuns[r] = -1;
    Volume* vol = m.volume;
    if (!vol) return nullptr;
    std::vector<std::pair<std::int64_t, const std::uint8_t*>> pieces;
    for (const auto& e : attributeList(m, r)) {
        if (e.type != kAttrData || e.nameLength != 0) continue;
        const std::uint8_t* a = attributeInSegment(m, e.segment, r, kAttrData, e.id);
        if (!a) return nullptr;
        pieces.emplace_back(e.startVcn, a);
        if (pieces.size() > 4096) return nullptr;
    }
    // A deletion may leave the list cut short while the extension records
    // still hold their pieces: each piece not listed is taken from them.
    const auto listed = [&](std::int64_t vcn) {
        return std::any_of(pieces.begin(), pieces.end(), [vcn](const auto& p) { return p.first == vcn; });
    };
    const auto addUnlisted = [&](std::uint32_t segment) {
        const std::uint8_t* rec = recordPtr(m, segment);
        RecordHeader h;
        std::vector<AttrRef> attrs;
        if (!rec || !WalkAttributes(rec, m.recordSize, h, attrs)) return;
        for (const auto& a : attrs) {
            NonResidentHeader nr;
            if (isUnnamedData(a) && a.nonResident && ParseNonResident(rec + a.offset, a.length, nr) &&
                !listed(nr.startVcn) && pieces.size() <= 4096)
                pieces.emplace_back(nr.startVcn, rec + a.offset);
        }
    };
    if (!pieces.empty() || m.info[r].data >= 0) {
        addUnlisted(r);
        if (const auto ext = m.extensions.find(r); ext != m.extensions.end())
            for (std::uint32_t segment : ext->second) addUnlisted(segment);
    }
    if (pieces.empty()) {
        m.mergedRuns[r] = 0;
        return nullptr;
    }
    std::sort(pieces.begin(), pieces.end(), [](auto& a, auto& b) { return a.first < b.first; });
    const std::uint8_t* first = pieces.front().second;
    if (!first[8]) {  // resident data cannot be split
        m.mergedRuns[r] = 0;
        const std::uint32_t len = attrLength(first);
        slot.assign(first, first + len);
        return slot.data();
    }
    std::vector<Run> all;
    NonResidentHeader head;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        std::vector<Run> runs;
        NonResidentHeader h;
        if (!pieces[i].second[8] || !runsOf(pieces[i].second, vol->boot.totalClusters, runs, &h)) return nullptr;
        if (i == 0) head = h;
        const std::int64_t expected = all.empty() ? 0 : all.back().vcn + all.back().length;
        if (h.startVcn != expected) return nullptr;
        all.insert(all.end(), runs.begin(), runs.end());
    }
    if (head.startVcn != 0) return nullptr;
    const std::vector<std::uint8_t> encoded = EncodeRuns(all);
    const std::size_t length = (64 + encoded.size() + 7) / 8 * 8;
    slot.assign(length, 0);
    std::memcpy(slot.data(), first, 64);
    auto put32 = [&](std::size_t off, std::uint32_t v) { for (int i = 0; i < 4; ++i) slot[off + i] = std::uint8_t(v >> (8 * i)); };
    auto put64 = [&](std::size_t off, std::uint64_t v) { for (int i = 0; i < 8; ++i) slot[off + i] = std::uint8_t(v >> (8 * i)); };
    put32(4, static_cast<std::uint32_t>(length));
    slot[9] = 0;  // unnamed
    slot[10] = 64;
    slot[11] = 0;
    put64(16, 0);
    const std::int64_t lastVcn = all.empty() ? -1 : all.back().vcn + all.back().length - 1;
    put64(24, static_cast<std::uint64_t>(lastVcn));
    slot[32] = 64;
    slot[33] = 0;
    std::memcpy(slot.data() + 64, encoded.data(), encoded.size());
    m.mergedRuns[r] = static_cast<int>(all.size());
    return slot.data();
}

const std::uint8_t* preferredName(Map& m, std::uint32_t r, const std::uint8_t** dosOut = nullptr) {
    const std::uint8_t* rec = recordPtr(m, r);
    if (!rec) return nullptr;
    const std::uint8_t* longName = nullptr;
    const std::uint8_t* dos = nullptr;
    int bestRank = -1;
    const auto consider = [&](const std::uint8_t* a) {
        std::uint32_t len = 0;
        const std::uint8_t* v = ResidentValue(a, attrLength(a), len);
        if (!v || len < 66) return;
        const std::uint8_t ns = v[65];
        if (ns == kNamespaceDos) {
            if (!dos) dos = a;
            return;
        }
        const int rank = (ns == kNamespaceWin32 || ns == kNamespaceWin32AndDos) ? 2 : 1;
        if (rank > bestRank) {
            bestRank = rank;
            longName = a;
        }
    };
    for (std::int32_t off : m.info[r].names)
        if (off >= 0) consider(rec + off);
    // A record full of runs or names keeps the rest in extension records.
    if (!longName && !dos && m.info[r].attrList >= 0) {
        int names = 0;
        for (const auto& e : attributeList(m, r))
            if (e.type == kAttrFileName && e.segment != r && names++ < 8)
                if (const std::uint8_t* a = attributeInSegment(m, e.segment, r, kAttrFileName, e.id)) consider(a);
        if (const auto ext = m.extensions.find(r); !longName && !dos && ext != m.extensions.end())
            for (std::uint32_t segment : ext->second) {
                const std::uint8_t* extRec = recordPtr(m, segment);
                for (std::int32_t off : m.info[segment].names)
                    if (extRec && off >= 0) consider(extRec + off);
            }
    }
    if (dosOut) *dosOut = dos;
    return longName ? longName : dos;
}

}  // namespace

NtfsVolume::NtfsVolume() = default;
NtfsVolume::~NtfsVolume() = default;

void NtfsVolume::close() {
    map_.reset();
    vol_.reset();
}

bool NtfsVolume::open(const std::string& path) {
    close();
    std::string p = path;
    if (p.rfind("\\\\.\\", 0) == 0) p = p.substr(4);
    auto vol = std::make_unique<Volume>();
    if (!vol->file.open(p, platform::RawFile::Mode::Read)) return false;
    std::uint8_t sector[512];
    if (vol->file.readAt(0, sector, sizeof sector) != sizeof sector) return false;
    auto boot = ParseBootSector(sector, sizeof sector);
    if (!boot) return false;
    vol->boot = *boot;
    vol->sizeBytes = vol->file.size();
    // An image cut short still lists what it holds; clusters past its end read as failures.
    vol_ = std::move(vol);
    return true;
}

bool NtfsVolume::info(MftInfo& info) const {
    Volume* vol = vol_.get();
    if (!vol) return false;
    info.bytesPerSector = vol->boot.bytesPerSector;
    info.bytesPerCluster = vol->boot.bytesPerCluster;
    info.recordSize = vol->boot.recordSize;
    info.mftLcn = vol->boot.mftLcn;
    info.totalClusters = vol->boot.totalClusters;
    // The record count comes from $MFT's own size, read from record 0.
    std::vector<std::uint8_t> rec(vol->boot.recordSize);
    if (vol->file.readAt(vol->boot.mftLcn * vol->boot.bytesPerCluster, rec.data(), rec.size()) != rec.size())
        return false;
    if (!ApplyFixups(rec.data(), rec.size())) return false;
    RecordHeader h;
    std::vector<AttrRef> attrs;
    if (!WalkAttributes(rec.data(), rec.size(), h, attrs)) return false;
    for (const auto& a : attrs) {
        if (!isUnnamedData(a) || !a.nonResident) continue;
        NonResidentHeader nr;
        if (!ParseNonResident(rec.data() + a.offset, a.length, nr) || nr.startVcn != 0) return false;
        const std::uint64_t bytes = std::min<std::uint64_t>(static_cast<std::uint64_t>(nr.realSize), kMaxMftBytes);
        info.recordCount = static_cast<std::uint32_t>(bytes / vol->boot.recordSize);
        return true;
    }
    return false;
}

bool NtfsVolume::mapMft(MftInfo& info) {
    map_.reset();
    Volume* vol = vol_.get();
    if (!vol || !this->info(info) || info.recordCount == 0) return false;
    const std::uint32_t rs = vol->boot.recordSize;
    const std::uint64_t bpc = vol->boot.bytesPerCluster;
    const std::uint64_t tc = vol->boot.totalClusters;

    // Record 0 describes where the rest of the MFT lies.
    std::vector<std::uint8_t> rec0(rs);
    vol->file.readAt(vol->boot.mftLcn * bpc, rec0.data(), rs);
    if (!ApplyFixups(rec0.data(), rs)) return 0;
    RecordHeader h;
    std::vector<AttrRef> attrs;
    if (!WalkAttributes(rec0.data(), rs, h, attrs)) return 0;
    std::vector<Run> runs;
    const AttrRef* listAttr = nullptr;
    for (const auto& a : attrs) {
        if (isUnnamedData(a) && a.nonResident && runs.empty()) {
            if (!runsOf(rec0.data() + a.offset, tc, runs)) return 0;
        }
        if (a.type == kAttrAttributeList && !a.nonResident) listAttr = &a;
    }
    if (runs.empty()) return 0;
    // A heavily fragmented MFT keeps more run pieces in extension records,
    // which themselves lie in the part already described.
    if (listAttr) {
        std::uint32_t len = 0;
        const std::uint8_t* v = ResidentValue(rec0.data() + listAttr->offset, listAttr->length, len);
        for (std::size_t pos = 0; v && pos + 26 <= len;) {
            const std::uint16_t elen = Le16(v + pos + 4);
            if (elen < 26 || pos + elen > len) break;
            const std::uint64_t seg = Le64(v + pos + 16) & 0xFFFFFFFFFFFFull;
            const std::int64_t svcn = static_cast<std::int64_t>(Le64(v + pos + 8));
            if (Le32(v + pos) == kAttrData && v[pos + 6] == 0 && seg != 0 && svcn > 0) {
                std::vector<std::uint8_t> ext;
                if (readMftRecord(*vol, runs, seg, rs, ext)) {
                    RecordHeader eh;
                    std::vector<AttrRef> eattrs;
                    if (WalkAttributes(ext.data(), rs, eh, eattrs)) {
                        for (const auto& a : eattrs) {
                            std::vector<Run> more;
                            NonResidentHeader nr;
                            if (isUnnamedData(a) && a.nonResident && runsOf(ext.data() + a.offset, tc, more, &nr) &&
                                nr.startVcn == svcn && !more.empty() &&
                                more.front().vcn == runs.back().vcn + runs.back().length)
                                runs.insert(runs.end(), more.begin(), more.end());
                        }
                    }
                }
            }
            pos += elen;
        }
    }

    auto m = std::make_unique<Map>();
    m->volume = vol;
    m->recordSize = rs;
    std::uint64_t covered = 0;
    for (const auto& r : runs) covered = std::max<std::uint64_t>(covered, (r.vcn + r.length) * bpc);
    // Never more than the medium can hold, whatever a damaged record 0 says.
    if (vol->sizeBytes > 0) covered = std::min(covered, vol->sizeBytes);
    const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(info.recordCount, covered / rs));
    if (count == 0) return 0;
    m->count = count;
    info.recordCount = count;
    m->data.assign(std::size_t(count) * rs, 0);
    m->info.assign(count, MftRecordInfo{});
    // Read run by run; a run that cannot be read leaves zeros (invalid records).
    for (const auto& r : runs) {
        const std::uint64_t start = r.vcn * bpc;
        if (start >= m->data.size() || r.lcn < 0) continue;
        const std::uint64_t bytes = std::min<std::uint64_t>(r.length * bpc, m->data.size() - start);
        vol->file.readAt(r.lcn * bpc, m->data.data() + start, bytes);
    }
    for (std::uint32_t r = 0; r < count; ++r) indexRecord(*m, r, tc);
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
        mergedData(*m, record);
        return m->mergedRuns[record];
    }
    return ri.runs;
}

const std::uint8_t* NtfsVolume::record(std::uint32_t record) {
    Map* m = map_.get();
    return m ? recordPtr(*m, record) : nullptr;
}

const std::uint8_t* NtfsVolume::attribute(std::uint32_t record, std::uint32_t type) {
    Map* m = map_.get();
    if (!m) return nullptr;
    const std::uint8_t* rec = recordPtr(*m, record);
    if (!rec) return nullptr;
    const MftRecordInfo& ri = m->info[record];
    if (type == kAttrData) {
        if (ri.data >= 0) {
            // The first piece of a split attribute holds only part of the runs.
            if (rec[ri.data + 8] && ri.attrList >= 0) {
                NonResidentHeader nr;
                Volume* vol = m->volume;
                if (vol && ParseNonResident(rec + ri.data, attrLength(rec + ri.data), nr)) {
                    const std::int64_t bpc = vol->boot.bytesPerCluster;
                    if (nr.lastVcn + 1 < (nr.allocatedSize + bpc - 1) / bpc)
                        if (const std::uint8_t* merged = mergedData(*m, record)) return merged;
                }
            }
            return rec + ri.data;
        }
        if (ri.attrList >= 0) return mergedData(*m, record);
        return nullptr;
    }
    RecordHeader h;
    std::vector<AttrRef> attrs;
    if (!WalkAttributes(rec, m->recordSize, h, attrs)) return nullptr;
    for (const auto& a : attrs)
        if (a.type == type) return rec + a.offset;
    if (ri.attrList >= 0) {
        for (const auto& e : attributeList(*m, record))
            if (e.type == type)
                if (const std::uint8_t* a = attributeInSegment(*m, e.segment, record, type, e.id)) return a;
    }
    return nullptr;
}

std::vector<NamedStream> NtfsVolume::namedStreams(std::uint32_t record) {
    std::vector<NamedStream> out;
    Map* m = map_.get();
    const std::uint8_t* rec = m ? recordPtr(*m, record) : nullptr;
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
    const std::uint8_t* name = preferredName(*m, record, &dos);
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
    const std::uint8_t* fn = preferredName(*m, record);
    FileNameInfo info;
    if (!fn || !ParseFileName(fn, attrLength(fn), info)) return -1;
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
        const std::uint8_t* pfn = cur < m->count ? preferredName(*m, static_cast<std::uint32_t>(cur)) : nullptr;
        FileNameInfo pinfo;
        if (seen) {
            broken = true;
            break;
        }
        if (!pfn || !ParseFileName(pfn, attrLength(pfn), pinfo)) {
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
    const std::uint8_t* rec = recordPtr(*m, record);
    if (!rec || m->info[record].standardInfo < 0) return nullptr;
    return rec + m->info[record].standardInfo;
}

bool MapVCN2LCN(const std::uint8_t* dataHeader, std::int64_t vcn, std::int64_t& lcn, std::int64_t& count) {
    lcn = -1;
    count = 0;
    if (!dataHeader || !dataHeader[8]) return false;
    std::vector<Run> runs;
    if (!runsOf(dataHeader, 0, runs)) return false;
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
                         std::uint8_t* buffer) {
    Volume* vol = vol_.get();
    if (!vol || !dataAttribute || !dataAttribute[8] || (byteCount && !buffer)) return false;
    std::vector<Run> runs;
    if (!runsOf(dataAttribute, vol->boot.totalClusters, runs)) return false;
    return readRuns(*vol, runs, startVcn, byteCount, buffer);
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
        if (attr && attr[8] && ParseNonResident(attr, attrLength(attr), nr)) {
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
