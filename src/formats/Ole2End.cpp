#include "formats/Ole2End.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"

namespace hx::formats {

namespace {

constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kMaxRegular = 0xFFFFFFFA;
constexpr std::uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

}  // namespace

bool IsOle2Header(const std::uint8_t* d, std::size_t size) {
    if (size < 512 || std::memcmp(d, kMagic, 8) != 0) return false;
    if (platform::Le16(d + 0x1C) != 0xFFFE) return false;  // byte order
    const std::uint16_t shift = platform::Le16(d + 0x1E);
    if (shift != 9 && shift != 12) return false;
    if (platform::Le16(d + 0x20) != 6) return false;  // mini sectors of 64 bytes
    const std::uint32_t fats = platform::Le32(d + 0x2C);
    if (fats == 0 || fats > 109 * 128) return false;
    // The header's DIFAT: the first entries name sectors, the rest are free.
    const std::uint32_t inHeader = std::min<std::uint32_t>(fats, 109);
    for (std::uint32_t i = 0; i < 109; ++i) {
        const std::uint32_t s = platform::Le32(d + 0x4C + 4 * i);
        if (i < inHeader ? s >= kMaxRegular : s != kFreeSector) return false;
    }
    return true;
}

Ole2EndFinder::Ole2EndFinder(const std::uint8_t* h) {
    if (!IsOle2Header(h, 512)) return;
    sectorSize_ = 1u << platform::Le16(h + 0x1E);
    const std::uint32_t count = platform::Le32(h + 0x2C);
    // FAT sectors named outside the header (a DIFAT chain) are not followed:
    // such a file is kept as written.
    if (count > 109) return;
    for (std::uint32_t i = 0; i < count; ++i) fats_.push_back({platform::Le32(h + 0x4C + 4 * i), i, {}});
    usable_ = true;
}

std::size_t Ole2EndFinder::feed(const std::uint8_t* data, std::size_t size, bool& ends) {
    if (!usable_) return size;
    const std::uint64_t from = offset_, to = offset_ + size;
    offset_ = to;
    for (FatSector& f : fats_) {
        if (length_ > 0) break;
        // Sector s lies at (s + 1) sectors: the header takes the first.
        const std::uint64_t start = (static_cast<std::uint64_t>(f.sector) + 1) * sectorSize_;
        const std::uint64_t have = start + f.bytes.size();
        if (f.bytes.size() == sectorSize_ || have >= to || start + sectorSize_ <= from) continue;
        const std::uint64_t copyFrom = std::max(have, from);
        const std::uint64_t copyTo = std::min(start + sectorSize_, to);
        if (copyFrom != have) continue;  // a gap: the unit before it was not seen
        f.bytes.insert(f.bytes.end(), data + (copyFrom - from), data + (copyTo - from));
        if (f.bytes.size() < sectorSize_) continue;
        const std::uint32_t entries = sectorSize_ / 4;
        for (std::uint32_t k = 0; k < entries; ++k)
            if (platform::Le32(f.bytes.data() + 4 * k) != kFreeSector)
                lastUsed_ = std::max<std::uint64_t>(lastUsed_, static_cast<std::uint64_t>(f.rank) * entries + k);
        ++complete_;
    }
    if (complete_ < fats_.size()) return size;
    if (length_ == 0) length_ = (lastUsed_ + 2) * sectorSize_;
    if (length_ > to) return size;  // the last sector is still to come
    ends = true;
    return static_cast<std::size_t>(length_ > from ? length_ - from : 0);
}

}  // namespace hx::formats
