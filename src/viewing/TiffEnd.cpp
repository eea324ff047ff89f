#include "viewing/TiffEnd.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace hx::viewing {

namespace {

constexpr int kMaxDirectories = 256;
constexpr unsigned kMaxEntries = 1024;
constexpr std::uint32_t kMaxArray = 65536;  // strips or tiles of one directory

std::uint32_t typeSize(std::uint16_t type) {
    switch (type) {
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 9: case 11: case 13: return 4;
        case 5: case 10: case 12: return 8;
        default: return 0;
    }
}

class Walker {
public:
    Walker(const ReadAt& read, bool little) : read_(read), little_(little) {}

    std::uint16_t u16(const std::uint8_t* p) const { return little_ ? p[0] | p[1] << 8 : p[0] << 8 | p[1]; }
    std::uint32_t u32(const std::uint8_t* p) const {
        return little_ ? p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24
                       : static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    }

    // The values of an entry as numbers (SHORT or LONG arrays only).
    bool values(const std::uint8_t* entry, std::vector<std::uint32_t>& out) {
        const std::uint16_t type = u16(entry + 2);
        const std::uint32_t count = u32(entry + 4);
        if ((type != 3 && type != 4 && type != 13) || count == 0 || count > kMaxArray) return false;
        const std::uint32_t each = typeSize(type);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * each);
        if (bytes.size() <= 4) std::memcpy(bytes.data(), entry + 8, bytes.size());
        else if (!read_(u32(entry + 8), bytes.size(), bytes.data())) return false;
        out.resize(count);
        for (std::uint32_t i = 0; i < count; ++i)
            out[i] = each == 2 ? u16(&bytes[i * 2]) : u32(&bytes[i * 4]);
        return true;
    }

    // Offsets paired with lengths: strips, tiles.
    bool extents(const std::uint8_t* offsets, const std::uint8_t* lengths) {
        std::vector<std::uint32_t> o, l;
        if (!values(offsets, o) || !values(lengths, l) || o.size() != l.size()) return false;
        for (std::size_t i = 0; i < o.size(); ++i) reach(static_cast<std::uint64_t>(o[i]) + l[i]);
        return true;
    }

    void reach(std::uint64_t end) { end_ = std::max(end_, end); }

    bool walk(std::uint32_t first, std::uint32_t extra) {
        std::vector<std::uint32_t> queue{first};
        if (extra) queue.push_back(extra);
        std::set<std::uint32_t> seen;
        int directories = 0;
        while (!queue.empty() && directories < kMaxDirectories) {
            const std::uint32_t at = queue.back();
            queue.pop_back();
            if (at < 8 || !seen.insert(at).second) continue;
            std::uint8_t head[2];
            if (!read_(at, 2, head)) return false;
            const unsigned n = u16(head);
            if (n == 0 || n > kMaxEntries) return false;
            std::vector<std::uint8_t> dir(n * 12u + 4);
            if (!read_(at + 2ull, dir.size(), dir.data())) return false;
            ++directories;
            reach(at + 2ull + dir.size());
            const std::uint8_t* stripOffsets = nullptr;
            const std::uint8_t* stripLengths = nullptr;
            const std::uint8_t* tileOffsets = nullptr;
            const std::uint8_t* tileLengths = nullptr;
            std::uint32_t jpegAt = 0, jpegLength = 0;
            for (unsigned i = 0; i < n; ++i) {
                const std::uint8_t* e = &dir[i * 12u];
                const std::uint16_t tag = u16(e), type = u16(e + 2);
                const std::uint32_t count = u32(e + 4);
                const std::uint64_t bytes = static_cast<std::uint64_t>(count) * typeSize(type);
                if (bytes > 4) reach(u32(e + 8) + bytes);
                switch (tag) {
                    case 0x111: stripOffsets = e; break;
                    case 0x117: stripLengths = e; break;
                    case 0x144: tileOffsets = e; break;
                    case 0x145: tileLengths = e; break;
                    case 0x201: jpegAt = u32(e + 8); break;
                    case 0x202: jpegLength = u32(e + 8); break;
                    case 0x14A: case 0x8769: case 0x8825: case 0xA005: {
                        std::vector<std::uint32_t> subs;
                        if (values(e, subs))
                            for (std::size_t s = 0; s < subs.size() && s < 64; ++s) queue.push_back(subs[s]);
                        break;
                    }
                    default: break;
                }
            }
            if (stripOffsets && stripLengths) extents(stripOffsets, stripLengths);
            if (tileOffsets && tileLengths) extents(tileOffsets, tileLengths);
            if (jpegAt && jpegLength) reach(static_cast<std::uint64_t>(jpegAt) + jpegLength);
            queue.push_back(u32(&dir[n * 12u]));
        }
        return directories > 0;
    }

    std::uint64_t end() const { return end_; }

private:
    const ReadAt& read_;
    bool little_;
    std::uint64_t end_ = 0;
};

}  // namespace

std::uint64_t TiffFileEnd(const ReadAt& read) {
    std::uint8_t h[16];
    if (!read(0, 8, h)) return 0;
    bool little;
    if (h[0] == 'I' && h[1] == 'I') little = true;
    else if (h[0] == 'M' && h[1] == 'M') little = false;
    else return 0;
    Walker w(read, little);
    const std::uint16_t magic = w.u16(h + 2);
    // TIFF, and the Olympus and Panasonic variants of its header.
    if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55) return 0;
    std::uint32_t extra = 0;
    if (read(0, 16, h) && h[8] == 'C' && h[9] == 'R') extra = w.u32(h + 12);  // Canon's raw directory
    if (!w.walk(w.u32(h + 4), extra)) return 0;
    return w.end();
}

std::uint64_t TiffFileEnd(const std::uint8_t* data, std::size_t size) {
    return TiffFileEnd([data, size](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
        if (offset > size || length > size - offset) return false;
        std::memcpy(out, data + offset, length);
        return true;
    });
}

}  // namespace hx::viewing
