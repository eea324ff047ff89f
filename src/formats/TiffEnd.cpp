#include "formats/TiffEnd.h"

#include <algorithm>
#include <set>
#include <vector>

namespace hx::formats {

namespace {

constexpr int kMaxDirectories = 256;
constexpr std::uint32_t kMaxArray = 65536;  // strips or tiles of one directory

class Walker {
public:
    explicit Walker(const TiffReader& tiff) : t_(tiff) {}

    // Offsets paired with lengths: strips, tiles.
    void extents(const TiffEntry* offsets, const TiffEntry* lengths) {
        std::vector<std::uint32_t> o, l;
        if (!offsets || !lengths || !t_.numbers(*offsets, o, kMaxArray) || !t_.numbers(*lengths, l, kMaxArray) ||
            o.size() != l.size())
            return;
        for (std::size_t i = 0; i < o.size(); ++i) reach(static_cast<std::uint64_t>(o[i]) + l[i]);
    }

    void reach(std::uint64_t end) { end_ = std::max(end_, end); }

    bool walk(std::uint32_t first, std::uint32_t extra) {
        std::vector<std::uint32_t> queue{first};
        if (extra) queue.push_back(extra);
        std::set<std::uint32_t> seen;
        std::vector<TiffEntry> entries;
        int directories = 0;
        while (!queue.empty() && directories < kMaxDirectories) {
            const std::uint32_t at = queue.back();
            queue.pop_back();
            if (at < 8 || !seen.insert(at).second) continue;
            std::uint32_t next = 0;
            if (!t_.directory(at, entries, next)) return false;
            ++directories;
            reach(at + 2ull + entries.size() * 12u + 4);
            const TiffEntry *stripOffsets = nullptr, *stripLengths = nullptr;
            const TiffEntry *tileOffsets = nullptr, *tileLengths = nullptr;
            std::uint32_t jpegAt = 0, jpegLength = 0;
            for (const TiffEntry& e : entries) {
                if (const std::uint64_t bytes = t_.valueBytes(e); bytes > 4) reach(t_.valueOffset(e) + bytes);
                switch (e.tag) {
                    case 0x111: stripOffsets = &e; break;
                    case 0x117: stripLengths = &e; break;
                    case 0x144: tileOffsets = &e; break;
                    case 0x145: tileLengths = &e; break;
                    case 0x201: jpegAt = t_.valueOffset(e); break;
                    case 0x202: jpegLength = t_.valueOffset(e); break;
                    case 0x14A: case 0x8769: case 0x8825: case 0xA005: {
                        std::vector<std::uint32_t> subs;
                        if (t_.numbers(e, subs, kMaxArray))
                            for (std::size_t s = 0; s < subs.size() && s < 64; ++s) queue.push_back(subs[s]);
                        break;
                    }
                    default: break;
                }
            }
            extents(stripOffsets, stripLengths);
            extents(tileOffsets, tileLengths);
            if (jpegAt && jpegLength) reach(static_cast<std::uint64_t>(jpegAt) + jpegLength);
            queue.push_back(next);
        }
        return directories > 0;
    }

    std::uint64_t end() const { return end_; }

private:
    const TiffReader& t_;
    std::uint64_t end_ = 0;
};

std::uint64_t fileEnd(TiffReader& tiff) {
    if (!tiff.open()) return 0;
    // TIFF, and the Olympus and Panasonic variants of its header.
    const std::uint16_t magic = tiff.magic();
    if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55) return 0;
    std::uint8_t h[16];
    std::uint32_t extra = 0;
    if (tiff.read(0, 16, h) && h[8] == 'C' && h[9] == 'R') extra = tiff.u32(h + 12);  // Canon's raw directory
    Walker w(tiff);
    if (!w.walk(tiff.firstDirectory(), extra)) return 0;
    return w.end();
}

}  // namespace

std::uint64_t TiffFileEnd(const ReadAt& read) {
    TiffReader tiff(read);
    return fileEnd(tiff);
}

std::uint64_t TiffFileEnd(const std::uint8_t* data, std::size_t size) {
    TiffReader tiff(data, size);
    return fileEnd(tiff);
}

}  // namespace hx::formats
