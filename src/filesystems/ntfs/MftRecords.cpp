#include "filesystems/ntfs/MftRecords.h"

#include <algorithm>
#include <cstring>

#include "media/FileDamage.h"
#include "media/SalvagingReader.h"
#include "platform/ByteOrder.h"

namespace hx::filesystems::mft {

using namespace filesystems::ntfs;
using platform::Le16;
using platform::Le32;
using platform::Le64;

std::uint32_t AttrLength(const std::uint8_t* attr) { return Le32(attr + 4); }

// Reads clusters of a run list into `out` (byteCount bytes from startVcn).
bool ReadRuns(Volume& vol, const std::vector<Run>& runs, std::int64_t startVcn, std::uint64_t byteCount,
              std::uint8_t* out, media::FileDamage* damage) {
    const std::uint64_t bpc = vol.boot.bytesPerCluster;
    std::uint64_t done = 0;
    std::int64_t vcn = startVcn;
    // A sector that cannot be read is zeros, not the end of the file.
    media::SalvagingReader reader(vol.file, vol.sectorBytes());
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
            if (reader.read(pos, out + done, want) != want) return false;
            if (damage) damage->note(reader, pos, want, static_cast<std::uint64_t>(startVcn) * bpc + done);
        }
        done += want;
        vcn += static_cast<std::int64_t>((want + bpc - 1) / bpc);
    }
    return true;
}

// Reads MFT record `n` through the runs known so far and fixes it up.
bool ReadMftRecord(Volume& vol, const std::vector<Run>& runs, std::uint64_t n, std::uint32_t rs,
                   std::vector<std::uint8_t>& out) {
    const std::uint64_t bpc = vol.boot.bytesPerCluster;
    const std::uint64_t byteVcn = n * rs;
    std::vector<std::uint8_t> tmp(byteVcn % bpc + rs);
    if (!ReadRuns(vol, runs, static_cast<std::int64_t>(byteVcn / bpc), tmp.size(), tmp.data())) return false;
    out.assign(tmp.begin() + static_cast<std::ptrdiff_t>(byteVcn % bpc), tmp.end());
    return ApplyFixups(out.data(), rs);
}

bool RunsOf(const std::uint8_t* attr, std::uint64_t totalClusters, std::vector<Run>& runs,
            NonResidentHeader* headerOut) {
    const std::uint32_t len = AttrLength(attr);
    NonResidentHeader h;
    if (!ParseNonResident(attr, len, h)) return false;
    if (headerOut) *headerOut = h;
    return DecodeRuns(attr + h.runsOffset, len - h.runsOffset, h.startVcn, totalClusters, runs);
}

bool IsUnnamedData(const AttrRef& a) { return a.type == kAttrData && a.nameLength == 0; }

void IndexRecord(Map& m, std::uint32_t r, std::uint64_t totalClusters) {
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
        else if (IsUnnamedData(a) && ri.data < 0) ri.data = a.offset;
    }
    if (ri.data >= 0 && rec[ri.data + 8]) {
        std::vector<Run> runs;
        ri.runs = RunsOf(rec + ri.data, totalClusters, runs) ? static_cast<int>(runs.size()) : -1;
    }
}

const std::uint8_t* RecordPtr(const Map& m, std::uint32_t r) {
    if (r >= m.count || !m.info[r].valid) return nullptr;
    return m.data.data() + std::size_t(r) * m.recordSize;
}


// The entries of a record's $ATTRIBUTE_LIST.
std::vector<ListEntry> AttributeList(Map& m, std::uint32_t r) {
    std::vector<ListEntry> out;
    const std::uint8_t* rec = RecordPtr(m, r);
    if (!rec || m.info[r].attrList < 0) return out;
    const std::uint8_t* attr = rec + m.info[r].attrList;
    std::vector<std::uint8_t> bytes;
    if (!attr[8]) {
        std::uint32_t len = 0;
        const std::uint8_t* v = ResidentValue(attr, AttrLength(attr), len);
        if (!v) return out;
        bytes.assign(v, v + len);
    } else {
        Volume* vol = m.volume;
        std::vector<Run> runs;
        NonResidentHeader h;
        if (!vol || !RunsOf(attr, vol->boot.totalClusters, runs, &h)) return out;
        if (h.realSize <= 0 || static_cast<std::uint64_t>(h.realSize) > kMaxAttributeListBytes) return out;
        bytes.resize(static_cast<std::size_t>(h.realSize));
        if (!ReadRuns(*vol, runs, 0, bytes.size(), bytes.data())) return {};
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
const std::uint8_t* AttributeInSegment(Map& m, std::uint64_t segment, std::uint32_t base, std::uint32_t type,
                                       std::uint16_t id) {
    if (segment >= m.count) return nullptr;
    const std::uint8_t* rec = RecordPtr(m, static_cast<std::uint32_t>(segment));
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
const std::uint8_t* MergedData(Map& m, std::uint32_t r) {
    auto found = m.merged.find(r);
    if (found != m.merged.end()) return found->second.empty() ? nullptr : found->second.data();
    auto& slot = m.merged[r];
    m.mergedRuns[r] = -1;
    Volume* vol = m.volume;
    if (!vol) return nullptr;
    std::vector<std::pair<std::int64_t, const std::uint8_t*>> pieces;
    for (const auto& e : AttributeList(m, r)) {
        if (e.type != kAttrData || e.nameLength != 0) continue;
        const std::uint8_t* a = AttributeInSegment(m, e.segment, r, kAttrData, e.id);
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
        const std::uint8_t* rec = RecordPtr(m, segment);
        RecordHeader h;
        std::vector<AttrRef> attrs;
        if (!rec || !WalkAttributes(rec, m.recordSize, h, attrs)) return;
        for (const auto& a : attrs) {
            NonResidentHeader nr;
            if (IsUnnamedData(a) && a.nonResident && ParseNonResident(rec + a.offset, a.length, nr) &&
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
        const std::uint32_t len = AttrLength(first);
        slot.assign(first, first + len);
        return slot.data();
    }
    std::vector<Run> all;
    NonResidentHeader head;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        std::vector<Run> runs;
        NonResidentHeader h;
        if (!pieces[i].second[8] || !RunsOf(pieces[i].second, vol->boot.totalClusters, runs, &h)) return nullptr;
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

const std::uint8_t* PreferredName(Map& m, std::uint32_t r, const std::uint8_t** dosOut) {
    const std::uint8_t* rec = RecordPtr(m, r);
    if (!rec) return nullptr;
    const std::uint8_t* longName = nullptr;
    const std::uint8_t* dos = nullptr;
    int bestRank = -1;
    const auto consider = [&](const std::uint8_t* a) {
        std::uint32_t len = 0;
        const std::uint8_t* v = ResidentValue(a, AttrLength(a), len);
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
        for (const auto& e : AttributeList(m, r))
            if (e.type == kAttrFileName && e.segment != r && names++ < 8)
                if (const std::uint8_t* a = AttributeInSegment(m, e.segment, r, kAttrFileName, e.id)) consider(a);
        if (const auto ext = m.extensions.find(r); !longName && !dos && ext != m.extensions.end())
            for (std::uint32_t segment : ext->second) {
                const std::uint8_t* extRec = RecordPtr(m, segment);
                for (std::int32_t off : m.info[segment].names)
                    if (extRec && off >= 0) consider(extRec + off);
            }
    }
    if (dosOut) *dosOut = dos;
    return longName ? longName : dos;
}

}  // namespace hx::filesystems::mft
