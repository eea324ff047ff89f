#include "formats/TiffReader.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace hx::formats {

std::uint32_t TiffTypeSize(std::uint16_t type) {
    switch (type) {
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 9: case 11: case 13: return 4;
        case 5: case 10: case 12: return 8;
        default: return 0;
    }
}

TiffReader::TiffReader(ReadAt read) : read_(std::move(read)) {}

TiffReader::TiffReader(const std::uint8_t* data, std::size_t size)
    : read_([data, size](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
          if (offset > size || length > size - offset) return false;
          if (length > 0) std::memcpy(out, data + offset, length);
          return true;
      }) {}

bool TiffReader::open() {
    std::uint8_t h[8];
    if (!read_(0, 8, h)) return false;
    if (h[0] == 'I' && h[1] == 'I') little_ = true;
    else if (h[0] == 'M' && h[1] == 'M') little_ = false;
    else return false;
    magic_ = u16(h + 2);
    first_ = u32(h + 4);
    return true;
}

std::uint16_t TiffReader::u16(const std::uint8_t* p) const { return platform::U16(p, little_); }
std::uint32_t TiffReader::u32(const std::uint8_t* p) const { return platform::U32(p, little_); }

bool TiffReader::directory(std::uint32_t offset, std::vector<TiffEntry>& entries, std::uint32_t& next,
                           unsigned maxEntries) const {
    entries.clear();
    std::uint8_t head[2];
    if (offset < 8 || !read_(offset, 2, head)) return false;
    const unsigned n = u16(head);
    if (n == 0 || n > maxEntries) return false;
    std::vector<std::uint8_t> bytes(n * 12u + 4);
    if (!read_(offset + 2ull, bytes.size(), bytes.data())) return false;
    entries.resize(n);
    for (unsigned i = 0; i < n; ++i) {
        const std::uint8_t* e = &bytes[i * 12u];
        TiffEntry& out = entries[i];
        out.tag = u16(e);
        out.type = u16(e + 2);
        out.count = u32(e + 4);
        std::memcpy(out.value, e + 8, 4);
        out.at = offset + 2ull + i * 12u;
    }
    next = u32(&bytes[n * 12u]);
    return true;
}

std::uint32_t TiffReader::number(const TiffEntry& e) const {
    if (e.type == 4 || e.type == 9 || e.type == 13) return u32(e.value);
    return u16(e.value);
}

bool TiffReader::numbers(const TiffEntry& e, std::vector<std::uint32_t>& out, std::uint32_t maxCount) const {
    if ((e.type != 3 && e.type != 4 && e.type != 13) || e.count == 0 || e.count > maxCount) return false;
    const std::uint32_t each = TiffTypeSize(e.type);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(e.count) * each);
    if (bytes.size() <= 4) std::memcpy(bytes.data(), e.value, bytes.size());
    else if (!read_(u32(e.value), bytes.size(), bytes.data())) return false;
    out.resize(e.count);
    for (std::uint32_t i = 0; i < e.count; ++i) out[i] = each == 2 ? u16(&bytes[i * 2]) : u32(&bytes[i * 4]);
    return true;
}

std::uint64_t TiffReader::valueBytes(const TiffEntry& e) const {
    return static_cast<std::uint64_t>(e.count) * TiffTypeSize(e.type);
}

}  // namespace hx::formats
