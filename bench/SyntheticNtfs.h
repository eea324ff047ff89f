#pragma once
// Writes small NTFS volumes record by record, for the MFT benchmark and for
// the tests of damaged records that the real tools never make: 512-byte
// sectors, 4 KiB clusters, 1 KiB records, fixups applied like Windows does.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace hx::synth {

constexpr std::uint32_t kCluster = 4096;
constexpr std::uint32_t kRecord = 1024;

struct Run {
    std::int64_t lcn;  // -1: sparse
    std::int64_t length;
};

// One attribute, already laid out.
using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::size_t at, std::uint16_t v) { b[at] = v & 0xFF, b[at + 1] = v >> 8; }
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put64(Bytes& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline Bytes encodeRuns(const std::vector<Run>& runs) {
    Bytes out;
    std::int64_t prev = 0;
    for (const auto& r : runs) {
        std::uint8_t lenBytes = 1, offBytes = 0;
        while (lenBytes < 8 && (r.length >> (8 * lenBytes)) != 0) ++lenBytes;
        std::int64_t delta = 0;
        if (r.lcn >= 0) {
            delta = r.lcn - prev;
            prev = r.lcn;
            offBytes = 1;
            while (offBytes < 8 && (delta < -(std::int64_t(1) << (8 * offBytes - 1)) ||
                                    delta >= (std::int64_t(1) << (8 * offBytes - 1))))
                ++offBytes;
        }
        out.push_back(static_cast<std::uint8_t>(lenBytes | (offBytes << 4)));
        for (int i = 0; i < lenBytes; ++i) out.push_back(static_cast<std::uint8_t>(r.length >> (8 * i)));
        for (int i = 0; i < offBytes; ++i) out.push_back(static_cast<std::uint8_t>(std::uint64_t(delta) >> (8 * i)));
    }
    out.push_back(0);
    return out;
}

inline Bytes resident(std::uint32_t type, const Bytes& value, std::uint16_t id) {
    Bytes a((24 + value.size() + 7) / 8 * 8, 0);
    put32(a, 0, type);
    put32(a, 4, static_cast<std::uint32_t>(a.size()));
    put16(a, 14, id);
    put32(a, 16, static_cast<std::uint32_t>(value.size()));
    put16(a, 20, 24);
    std::copy(value.begin(), value.end(), a.begin() + 24);
    return a;
}

inline Bytes nonResident(std::uint32_t type, const std::vector<Run>& runs, std::int64_t startVcn,
                         std::uint64_t realSize, std::uint16_t id, std::uint64_t allocated = 0) {
    const Bytes r = encodeRuns(runs);
    Bytes a((64 + r.size() + 7) / 8 * 8, 0);
    std::int64_t clusters = 0;
    for (auto& x : runs) clusters += x.length;
    put32(a, 0, type);
    put32(a, 4, static_cast<std::uint32_t>(a.size()));
    a[8] = 1;
    put16(a, 14, id);
    put64(a, 16, static_cast<std::uint64_t>(startVcn));
    put64(a, 24, static_cast<std::uint64_t>(startVcn + clusters - 1));
    put16(a, 32, 64);
    put64(a, 40, allocated ? allocated : std::uint64_t(clusters) * kCluster);
    put64(a, 48, realSize);
    put64(a, 56, realSize);
    std::copy(r.begin(), r.end(), a.begin() + 64);
    return a;
}

inline Bytes standardInformation(std::uint64_t fileTime) {
    Bytes v(72, 0);
    for (int i = 0; i < 4; ++i) put64(v, 8 * i, fileTime);
    return resident(0x10, v, 0);
}

inline Bytes fileName(const std::string& name, std::uint64_t parent, std::uint8_t nameSpace = 1) {
    Bytes v(66 + 2 * name.size(), 0);
    put64(v, 0, parent | (std::uint64_t(1) << 48));
    v[64] = static_cast<std::uint8_t>(name.size());
    v[65] = nameSpace;
    for (std::size_t i = 0; i < name.size(); ++i) v[66 + 2 * i] = static_cast<std::uint8_t>(name[i]);
    return resident(0x30, v, 1);
}

// A FILE record from attributes, with its fixups applied.
inline Bytes record(std::uint16_t flags, const std::vector<Bytes>& attrs, std::uint64_t base = 0) {
    Bytes r(kRecord, 0);
    std::memcpy(r.data(), "FILE", 4);
    put16(r, 4, 48);
    put16(r, 6, kRecord / 512 + 1);
    put16(r, 16, 1);
    put16(r, 18, 1);
    put16(r, 20, 56);
    put16(r, 22, flags);
    put64(r, 32, base);
    std::size_t off = 56;
    for (const auto& a : attrs) {
        if (off + a.size() + 8 > kRecord) break;
        std::copy(a.begin(), a.end(), r.begin() + off);
        off += a.size();
    }
    put32(r, off, 0xFFFFFFFF);
    put32(r, 24, static_cast<std::uint32_t>(off + 8));
    put32(r, 28, kRecord);
    const std::uint16_t usn = 0x0001;
    put16(r, 48, usn);
    for (std::uint32_t s = 1; s <= kRecord / 512; ++s) {
        r[48 + 2 * s] = r[s * 512 - 2];
        r[48 + 2 * s + 1] = r[s * 512 - 1];
        put16(r, s * 512 - 2, usn);
    }
    return r;
}

// A volume: records 0-15 are the system files, the caller adds the rest.
// The MFT lies at cluster 16, in two pieces with a gap when `fragmented`.
class Volume {
public:
    // `dataStart`: the first cluster of file data; the MFT must end before it.
    explicit Volume(bool fragmented = false, std::int64_t dataStart = 16 + 500000 / 4 + 200)
        : kDataStart(dataStart), fragmented_(fragmented), nextData_(dataStart) {
        records_.resize(16);
        const char* names[] = {"$MFT", "$MFTMirr", "$LogFile", "$Volume", "$AttrDef", ".", "$Bitmap", "$Boot",
                               "$BadClus", "$Secure", "$UpCase", "$Extend", "", "", "", ""};
        for (int i = 0; i < 16; ++i)
            if (i != 0 && i != 6) records_[i] = record(1 | (i == 5 ? 2 : 0), {standardInformation(kTime), fileName(names[i], 5)});
    }
    static constexpr std::uint64_t kTime = 132000000000000000ull;  // 2019

    std::uint32_t add(const Bytes& rec) {
        records_.push_back(rec);
        return static_cast<std::uint32_t>(records_.size() - 1);
    }
    // Clusters for file data, handed out after the MFT and the bitmap.
    std::int64_t allocate(std::int64_t clusters) {
        const std::int64_t at = nextData_;
        nextData_ += clusters;
        return at;
    }
    void putData(std::int64_t lcn, const std::string& bytes) { data_.emplace_back(lcn, bytes); }
    Bytes& recordBytes(std::uint32_t r) { return records_[r]; }
    std::uint32_t count() const { return static_cast<std::uint32_t>(records_.size()); }
    std::int64_t firstDataCluster() const { return kDataStart; }

    bool write(const std::string& path) {
        const std::uint64_t mftBytes = std::uint64_t(records_.size()) * kRecord;
        const std::int64_t mftClusters = static_cast<std::int64_t>((mftBytes + kCluster - 1) / kCluster);
        std::vector<Run> runs;
        const std::int64_t half = fragmented_ ? mftClusters / 2 : mftClusters;
        runs.push_back({16, std::max<std::int64_t>(half, 1)});
        std::int64_t end = 16 + runs[0].length;
        if (fragmented_ && mftClusters - half > 0) {
            runs.push_back({end + 37, mftClusters - half});
            end = end + 37 + (mftClusters - half);
        }
        const std::int64_t bitmapLcn = end + 1;
        const std::int64_t total = std::max<std::int64_t>(nextData_, bitmapLcn + 64) + 256;
        if (bitmapLcn + 8 > kDataStart) return false;  // the MFT ran into the data area
        records_[0] = record(1, {standardInformation(kTime), fileName("$MFT", 5),
                                 nonResident(0x80, runs, 0, mftBytes, 2)});
        const std::uint64_t bitmapBytes = (total + 7) / 8;
        const std::int64_t bitmapClusters = static_cast<std::int64_t>((bitmapBytes + kCluster - 1) / kCluster);
        records_[6] = record(1, {standardInformation(kTime), fileName("$Bitmap", 5),
                                 nonResident(0x80, {{bitmapLcn, bitmapClusters}}, 0, bitmapBytes, 2)});
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        Bytes boot(512, 0);
        boot[0] = 0xEB, boot[1] = 0x52, boot[2] = 0x90;
        std::memcpy(&boot[3], "NTFS    ", 8);
        put16(boot, 11, 512);
        boot[13] = kCluster / 512;
        put64(boot, 40, std::uint64_t(total) * (kCluster / 512));
        put64(boot, 48, 16);
        put64(boot, 56, 2);
        boot[64] = static_cast<std::uint8_t>(-10);  // 2^10-byte records
        boot[510] = 0x55, boot[511] = 0xAA;
        out.write(reinterpret_cast<const char*>(boot.data()), 512);
        // Records piece by piece along the runs.
        std::uint64_t written = 0;
        for (const auto& r : runs) {
            out.seekp(static_cast<std::streamoff>(r.lcn * kCluster));
            for (std::int64_t c = 0; c < r.length * (kCluster / kRecord) && written < records_.size(); ++c, ++written)
                out.write(reinterpret_cast<const char*>(records_[written].data()), kRecord);
        }
        // In-use clusters: the system area and the MFT up to the data area.
        Bytes bits(bitmapClusters * kCluster, 0);
        for (std::int64_t c = 0; c < kDataStart; ++c) bits[c / 8] |= 1 << (c % 8);
        for (auto c : inUse_) bits[c / 8] |= 1 << (c % 8);
        out.seekp(static_cast<std::streamoff>(bitmapLcn * kCluster));
        out.write(reinterpret_cast<const char*>(bits.data()), static_cast<std::streamsize>(bits.size()));
        for (const auto& [lcn, bytes] : data_) {
            out.seekp(static_cast<std::streamoff>(lcn * kCluster));
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        out.seekp(static_cast<std::streamoff>(total * kCluster - 1));
        out.put(0);
        return out.good();
    }
    void markInUse(std::int64_t lcn) { inUse_.push_back(lcn); }

private:
    const std::int64_t kDataStart;
    bool fragmented_;
    std::vector<Bytes> records_;
    std::vector<std::pair<std::int64_t, std::string>> data_;
    std::vector<std::int64_t> inUse_;
    std::int64_t nextData_;
};

}  // namespace hx::synth
