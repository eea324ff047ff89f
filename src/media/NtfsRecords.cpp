#include "media/NtfsRecords.h"

#include <algorithm>
#include <cstring>

#include "media/SectorIo.h"

namespace hx::media {

namespace {

std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t u64(const std::uint8_t* p) { return u32(p) | (static_cast<std::uint64_t>(u32(p + 4)) << 32); }

constexpr std::uint32_t kMaxRecordBytes = 64 * 1024;

}  // namespace

bool ApplyFixups(std::vector<std::uint8_t>& r, std::size_t stride) {
    if (r.size() < 48 || std::memcmp(r.data(), "FILE", 4) != 0) return false;
    const std::size_t usaOffset = u16(r.data() + 4), usaCount = u16(r.data() + 6);
    if (usaCount == 0 || usaOffset + usaCount * 2 > r.size() || (usaCount - 1) * stride > r.size()) return false;
    const std::uint16_t usn = u16(r.data() + usaOffset);
    for (std::size_t i = 1; i < usaCount; ++i) {
        std::uint8_t* tail = r.data() + i * stride - 2;
        if (u16(tail) != usn) return false;
        tail[0] = r[usaOffset + 2 * i];
        tail[1] = r[usaOffset + 2 * i + 1];
    }
    return true;
}

bool ReadMftRecord(DriveRecord& rec, std::uint32_t index, std::vector<std::uint8_t>& record) {
    record.clear();
    const std::uint32_t size = rec.MFTRecordBytes;
    const int bps = rec.sectorSize();
    if (size < 256 || size > kMaxRecordBytes || rec.SectorsPerCluster == 0) return false;
    const std::uint64_t byteOffset =
        static_cast<std::uint64_t>(rec.MFTCluster) * rec.clusterBytes() + static_cast<std::uint64_t>(index) * size;
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
    return ApplyFixups(record);
}

std::int64_t FindAttribute(const std::vector<std::uint8_t>& r, std::uint32_t type) {
    if (r.size() < 48) return -1;
    std::size_t off = u16(r.data() + 20);
    const std::size_t used = std::min<std::size_t>(u32(r.data() + 24), r.size());
    while (off + 16 <= used) {
        const std::uint32_t t = u32(r.data() + off);
        const std::uint32_t len = u32(r.data() + off + 4);
        if (t == 0xFFFFFFFFu || len < 16 || off + len > used) break;
        if (t == type) return static_cast<std::int64_t>(off);
        off += len;
    }
    return -1;
}

std::vector<NtfsRun> DecodeRunList(const std::vector<std::uint8_t>& r, std::size_t attr) {
    std::vector<NtfsRun> runs;
    if (attr + 64 > r.size() || r[attr + 8] == 0) return runs;
    const std::size_t end = attr + u32(r.data() + attr + 4);
    std::size_t p = attr + u16(r.data() + attr + 32);
    if (end > r.size() || p >= end) return runs;
    std::int64_t lcn = 0;
    while (p < end && r[p] != 0) {
        const unsigned lenBytes = r[p] & 0x0F, offBytes = r[p] >> 4;
        if (lenBytes == 0 || lenBytes > 8 || offBytes > 8 || p + 1 + lenBytes + offBytes > end) return {};
        std::uint64_t length = 0;
        for (unsigned i = 0; i < lenBytes; ++i) length |= static_cast<std::uint64_t>(r[p + 1 + i]) << (8 * i);
        NtfsRun run;
        run.clusters = length;
        if (offBytes > 0) {
            std::uint64_t delta = 0;
            for (unsigned i = 0; i < offBytes; ++i)
                delta |= static_cast<std::uint64_t>(r[p + 1 + lenBytes + i]) << (8 * i);
            if (offBytes < 8 && (delta >> (8 * offBytes - 1)) & 1) delta |= ~0ull << (8 * offBytes);  // sign
            lcn = static_cast<std::int64_t>(static_cast<std::uint64_t>(lcn) + delta);  // wraps, never overflows
            if (lcn < 0) return {};
            run.lcn = lcn;
        }
        runs.push_back(run);
        p += 1 + lenBytes + offBytes;
    }
    return runs;
}

std::vector<std::uint8_t> ReadRuns(DriveRecord& rec, const std::vector<NtfsRun>& runs, std::uint64_t maxBytes) {
    std::vector<std::uint8_t> out;
    const std::uint64_t cluster = rec.clusterBytes();
    const int bps = rec.sectorSize();
    if (cluster == 0) return out;
    // Sparse runs cost no reads, so the medium's size bounds them too.
    maxBytes = std::min<std::uint64_t>(maxBytes, rec.MediaBytes > 0 ? rec.MediaBytes : 256ull << 20);
    for (const auto& run : runs) {
        if (out.size() >= maxBytes) break;
        const std::uint64_t want = std::min<std::uint64_t>(run.clusters, (maxBytes - out.size() + cluster - 1) / cluster);
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

bool ReadNtfsVolumeLabel(DriveRecord& rec) {
    std::vector<std::uint8_t> r;
    if (!ReadMftRecord(rec, 3, r)) return false;
    const std::int64_t a = FindAttribute(r, 0x60);
    if (a < 0 || r[static_cast<std::size_t>(a) + 8] != 0) return false;
    const std::size_t at = static_cast<std::size_t>(a);
    const std::size_t len = u32(r.data() + at + 16), off = u16(r.data() + at + 20);
    if (at + off + len > r.size()) return false;
    std::string label;
    for (std::size_t i = 0; i + 1 < len; i += 2) {
        const std::uint16_t c = u16(r.data() + at + off + i);
        label += c < 0x80 ? static_cast<char>(c) : '?';
    }
    rec.VolumeLabel = label;
    return true;
}

bool ReadNtfsBitmap(DriveRecord& rec, std::vector<std::uint8_t>& bits) {
    bits.clear();
    std::vector<std::uint8_t> r;
    if (!ReadMftRecord(rec, 6, r)) return false;
    const std::int64_t a = FindAttribute(r, 0x80);
    if (a < 0) return false;
    const std::size_t at = static_cast<std::size_t>(a);
    const std::uint64_t needed = (static_cast<std::uint64_t>(rec.TotalClusters) + 7) / 8;
    if (r[at + 8] == 0) {
        const std::size_t len = u32(r.data() + at + 16), off = u16(r.data() + at + 20);
        if (at + off + len > r.size()) return false;
        bits.assign(r.begin() + static_cast<std::ptrdiff_t>(at + off),
                    r.begin() + static_cast<std::ptrdiff_t>(at + off + std::min<std::uint64_t>(len, needed)));
    } else {
        if (at + 56 > r.size()) return false;
        const std::uint64_t dataSize = u64(r.data() + at + 48);
        bits = ReadRuns(rec, DecodeRunList(r, at), std::min(dataSize, needed));
    }
    return !bits.empty();
}

}  // namespace hx::media
