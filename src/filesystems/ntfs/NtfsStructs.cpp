#include "filesystems/ntfs/NtfsStructs.h"

#include <algorithm>
#include <cstring>

namespace hx::filesystems::ntfs {

namespace {
constexpr std::size_t kFixupStride = 512;
constexpr std::uint32_t kMaxRecordSize = 65536;
}  // namespace

std::optional<BootSector> ParseBootSector(const std::uint8_t* data, std::size_t size) {
    if (!data || size < 512 || std::memcmp(data + 3, "NTFS    ", 8) != 0) return std::nullopt;
    BootSector b;
    b.bytesPerSector = Le16(data + 11);
    if (b.bytesPerSector < 256 || b.bytesPerSector > 4096 || (b.bytesPerSector & (b.bytesPerSector - 1))) return std::nullopt;
    std::uint32_t spc = data[13];
    // Values above 0x80 are negative shifts (clusters of 64 KiB and more).
    if (spc > 0x80) {
        const unsigned shift = 256 - spc;
        if (shift > 12) return std::nullopt;
        spc = 1u << shift;
    }
    if (spc == 0 || (spc & (spc - 1))) return std::nullopt;
    b.bytesPerCluster = spc * b.bytesPerSector;
    if (b.bytesPerCluster > 2u * 1024 * 1024) return std::nullopt;
    b.totalSectors = Le64(data + 40);
    b.totalClusters = b.totalSectors / spc;
    b.mftLcn = Le64(data + 48);
    const auto perRecord = static_cast<std::int8_t>(data[64]);
    if (perRecord < 0) {
        if (-perRecord < 9 || -perRecord > 16) return std::nullopt;
        b.recordSize = 1u << (-perRecord);
    } else {
        if (perRecord == 0) return std::nullopt;
        b.recordSize = static_cast<std::uint32_t>(perRecord) * b.bytesPerCluster;
    }
    if (b.recordSize < 512 || b.recordSize > kMaxRecordSize) return std::nullopt;
    if (b.totalClusters == 0 || b.mftLcn >= b.totalClusters) return std::nullopt;
    b.mftMirrLcn = Le64(data + 56);
    if (b.mftMirrLcn >= b.totalClusters || b.mftMirrLcn == b.mftLcn) b.mftMirrLcn = 0;
    return b;
}

const BootSector* NtfsGeometryOf(const media::DriveRecord& rec) {
    const auto* opened = dynamic_cast<const OpenedNtfs*>(rec.Opened.get());
    return opened ? &opened->boot : nullptr;
}

bool ApplyFixups(std::uint8_t* record, std::size_t size) {
    if (!record || size < 48 || size % kFixupStride != 0 || std::memcmp(record, "FILE", 4) != 0) return false;
    const std::uint16_t usaOffset = Le16(record + 4);
    const std::uint16_t usaCount = Le16(record + 6);
    if (usaCount != size / kFixupStride + 1) return false;
    if (usaOffset < 8 || usaOffset % 2 || usaOffset + usaCount * 2u > kFixupStride - 2) return false;
    const std::uint8_t* usa = record + usaOffset;
    for (std::size_t i = 1; i < usaCount; ++i) {
        std::uint8_t* tail = record + i * kFixupStride - 2;
        if (tail[0] != usa[0] || tail[1] != usa[1]) return false;
    }
    for (std::size_t i = 1; i < usaCount; ++i) {
        std::uint8_t* tail = record + i * kFixupStride - 2;
        tail[0] = usa[i * 2];
        tail[1] = usa[i * 2 + 1];
    }
    return true;
}

bool WalkAttributes(const std::uint8_t* record, std::size_t size, RecordHeader& header, std::vector<AttrRef>& attrs) {
    attrs.clear();
    if (!record || size < 48) return false;
    header.sequence = Le16(record + 16);
    header.flags = Le16(record + 22);
    header.bytesInUse = Le32(record + 24);
    header.baseRecord = Le64(record + 32) & 0xFFFFFFFFFFFFull;
    const std::uint32_t first = Le16(record + 20);
    const std::size_t used = header.bytesInUse;
    if (used > size || used < first + 4 || first < 42 || first % 8) return false;
    std::size_t off = first;
    // Every attribute is at least 24 bytes, which bounds the walk.
    for (std::size_t n = 0; n <= size / 24; ++n) {
        if (off + 4 > used) return false;
        const std::uint32_t type = Le32(record + off);
        if (type == kAttrEnd) return true;
        if (off + 16 > used) return false;
        const std::uint32_t length = Le32(record + off + 4);
        if (length < 24 || length % 8 || length > used - off) return false;
        AttrRef a;
        a.type = type;
        a.offset = static_cast<std::uint32_t>(off);
        a.length = length;
        a.nonResident = record[off + 8] != 0;
        a.nameLength = record[off + 9];
        a.id = Le16(record + off + 14);
        const std::uint16_t nameOffset = Le16(record + off + 10);
        if (a.nameLength && nameOffset + a.nameLength * 2u > length) return false;
        if (a.nonResident) {
            if (length < 64) return false;
        } else {
            std::uint32_t vlen = 0;
            if (!ResidentValue(record + off, length, vlen)) return false;
        }
        attrs.push_back(a);
        off += length;
    }
    return false;
}

const std::uint8_t* ResidentValue(const std::uint8_t* attr, std::size_t attrLength, std::uint32_t& valueLength) {
    valueLength = 0;
    if (!attr || attrLength < 24 || attr[8] != 0) return nullptr;
    const std::uint32_t len = Le32(attr + 16);
    const std::uint16_t off = Le16(attr + 20);
    if (off > attrLength || len > attrLength - off) return nullptr;
    valueLength = len;
    return attr + off;
}

bool ParseNonResident(const std::uint8_t* attr, std::size_t attrLength, NonResidentHeader& out) {
    if (!attr || attrLength < 64 || attr[8] == 0) return false;
    out.flags = Le16(attr + 12);
    out.startVcn = static_cast<std::int64_t>(Le64(attr + 16));
    out.lastVcn = static_cast<std::int64_t>(Le64(attr + 24));
    out.runsOffset = Le16(attr + 32);
    out.compressionUnit = Le16(attr + 34);
    out.allocatedSize = static_cast<std::int64_t>(Le64(attr + 40));
    out.realSize = static_cast<std::int64_t>(Le64(attr + 48));
    out.initializedSize = static_cast<std::int64_t>(Le64(attr + 56));
    if (out.runsOffset < 64 || out.runsOffset > attrLength) return false;
    if (out.startVcn < 0 || out.lastVcn < out.startVcn - 1) return false;
    if (out.realSize < 0 || out.allocatedSize < 0) return false;
    return true;
}

bool DecodeRuns(const std::uint8_t* runs, std::size_t size, std::int64_t startVcn, std::uint64_t totalClusters,
                std::vector<Run>& out) {
    out.clear();
    std::int64_t vcn = startVcn;
    std::int64_t lcn = 0;
    std::size_t pos = 0;
    constexpr std::int64_t kMaxClusters = std::int64_t(1) << 48;
    while (pos < size) {
        const std::uint8_t head = runs[pos++];
        if (head == 0) return true;
        const unsigned lenBytes = head & 0x0F;
        const unsigned offBytes = head >> 4;
        if (lenBytes == 0 || lenBytes > 8 || offBytes > 8 || pos + lenBytes + offBytes > size) return false;
        std::uint64_t length = 0;
        for (unsigned i = 0; i < lenBytes; ++i) length |= static_cast<std::uint64_t>(runs[pos + i]) << (8 * i);
        pos += lenBytes;
        if (length == 0 || length > static_cast<std::uint64_t>(kMaxClusters)) return false;
        Run r;
        r.vcn = vcn;
        r.length = static_cast<std::int64_t>(length);
        if (offBytes == 0) {
            r.lcn = -1;  // sparse
        } else {
            std::uint64_t raw = 0;
            for (unsigned i = 0; i < offBytes; ++i) raw |= static_cast<std::uint64_t>(runs[pos + i]) << (8 * i);
            if (offBytes < 8 && (raw >> (8 * offBytes - 1)) & 1) raw |= ~std::uint64_t(0) << (8 * offBytes);
            const auto delta = static_cast<std::int64_t>(raw);
            if (delta > kMaxClusters || delta < -kMaxClusters) return false;
            lcn += delta;
            if (lcn < 0 || lcn > kMaxClusters) return false;
            if (totalClusters && static_cast<std::uint64_t>(lcn) + length > totalClusters) return false;
            r.lcn = lcn;
        }
        pos += offBytes;
        if (vcn > kMaxClusters - r.length) return false;
        vcn += r.length;
        out.push_back(r);
    }
    return false;  // no terminating zero inside the attribute
}

std::vector<std::uint8_t> EncodeRuns(const std::vector<Run>& runs) {
    std::vector<std::uint8_t> out;
    std::int64_t prev = 0;
    auto bytesFor = [](std::int64_t v, bool isSigned) {
        unsigned n = 1;
        while (n < 8) {
            const std::int64_t lo = isSigned ? -(std::int64_t(1) << (8 * n - 1)) : 0;
            const std::int64_t hi = isSigned ? (std::int64_t(1) << (8 * n - 1)) - 1 : (std::int64_t(1) << (8 * n)) - 1;
            if (v >= lo && v <= hi) break;
            ++n;
        }
        return n;
    };
    for (const auto& r : runs) {
        const unsigned lenBytes = bytesFor(r.length, false);
        unsigned offBytes = 0;
        std::int64_t delta = 0;
        if (r.lcn >= 0) {
            delta = r.lcn - prev;
            offBytes = bytesFor(delta, true);
            prev = r.lcn;
        }
        out.push_back(static_cast<std::uint8_t>(lenBytes | (offBytes << 4)));
        for (unsigned i = 0; i < lenBytes; ++i) out.push_back(static_cast<std::uint8_t>(r.length >> (8 * i)));
        for (unsigned i = 0; i < offBytes; ++i)
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(delta) >> (8 * i)));
    }
    out.push_back(0);
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t chars) {
    std::string out;
    out.reserve(chars);
    for (std::size_t i = 0; i < chars; ++i) {
        std::uint32_t c = Le16(data + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars) {
            const std::uint32_t lo = Le16(data + 2 * (i + 1));
            if (lo >= 0xDC00 && lo < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, (c >= 0xD800 && c < 0xE000) ? '?' : c);
    }
    return out;
}

bool ParseFileName(const std::uint8_t* attr, std::size_t attrLength, FileNameInfo& out) {
    std::uint32_t len = 0;
    const std::uint8_t* v = ResidentValue(attr, attrLength, len);
    if (!v || len < 66) return false;
    const std::uint8_t chars = v[64];
    if (66u + chars * 2u > len) return false;
    const std::uint64_t ref = Le64(v);
    out.parentRecord = ref & 0xFFFFFFFFFFFFull;
    out.parentSequence = static_cast<std::uint16_t>(ref >> 48);
    out.nameSpace = v[65];
    out.name = Utf16ToUtf8(v + 66, chars);
    return true;
}

bool Lznt1Decompress(const std::uint8_t* in, std::size_t inLen, std::uint8_t* out, std::size_t outLen) {
    constexpr std::size_t kChunk = 4096;
    std::memset(out, 0, outLen);
    std::size_t pos = 0, chunkStart = 0;
    while (pos + 2 <= inLen && chunkStart < outLen) {
        const std::uint16_t header = Le16(in + pos);
        pos += 2;
        if (header == 0) return true;  // end of the compressed data
        const std::size_t length = (header & 0x0FFF) + 1u;
        if (pos + length > inLen) return false;
        const std::size_t chunkEnd = pos + length;
        const std::size_t limit = std::min(outLen, chunkStart + kChunk);
        std::size_t o = chunkStart;
        if (!(header & 0x8000)) {  // stored as it is
            const std::size_t n = std::min(length, limit - o);
            std::memcpy(out + o, in + pos, n);
        } else {
            while (pos < chunkEnd && o < limit) {
                const std::uint8_t flags = in[pos++];
                for (int bit = 0; bit < 8 && pos < chunkEnd && o < limit; ++bit) {
                    if (!((flags >> bit) & 1)) {
                        out[o++] = in[pos++];
                        continue;
                    }
                    if (pos + 2 > chunkEnd) return false;
                    const std::uint16_t token = Le16(in + pos);
                    pos += 2;
                    // The further into the chunk, the more bits the offset takes.
                    const std::size_t done = o - chunkStart;
                    unsigned lengthBits = 12;
                    for (std::size_t i = done - 1; done > 0 && i >= 0x10; i >>= 1) --lengthBits;
                    const std::size_t offset = (token >> lengthBits) + 1u;
                    std::size_t count = (token & ((1u << lengthBits) - 1)) + 3u;
                    if (done == 0 || offset > done) return false;
                    for (; count > 0 && o < limit; --count, ++o) out[o] = out[o - offset];
                }
            }
        }
        pos = chunkEnd;
        chunkStart += kChunk;  // a chunk that expands to less leaves zeros
    }
    return true;
}

bool AttributeName(const std::uint8_t* attr, std::size_t attrLength, std::string& name) {
    if (!attr || attrLength < 16) return false;
    const std::size_t chars = attr[9];
    const std::size_t at = Le16(attr + 10);
    if (chars == 0 || at < 16 || at + 2 * chars > attrLength) return false;
    name = Utf16ToUtf8(attr + at, chars);
    return true;
}

}  // namespace hx::filesystems::ntfs
