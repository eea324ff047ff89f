#pragma once
// One reader of TIFF structure for everything built on it: EXIF blocks,
// camera raws, the thumbnails inside them. Byte order from the header,
// directories of 12-byte entries, and the values an entry points at; every
// read is checked against the bytes there are.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace hx::formats {

// Reads `length` bytes at `offset` into `out`; false past the end.
using ReadAt = std::function<bool(std::uint64_t offset, std::size_t length, std::uint8_t* out)>;

struct TiffEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint8_t value[4] = {};  // the value itself when it fits, else its offset
    std::uint64_t at = 0;        // where the entry lies
};

class TiffReader {
public:
    // Offsets count from the header at offset 0 of what `read` reads.
    explicit TiffReader(ReadAt read);
    TiffReader(const std::uint8_t* data, std::size_t size);

    // Reads the header: "II" or "MM" and any 16-bit magic. False when neither order mark is there.
    bool open();
    bool little() const { return little_; }
    std::uint16_t magic() const { return magic_; }
    std::uint32_t firstDirectory() const { return first_; }

    std::uint16_t u16(const std::uint8_t* p) const;
    std::uint32_t u32(const std::uint8_t* p) const;
    bool read(std::uint64_t offset, std::size_t length, std::uint8_t* out) const { return read_(offset, length, out); }

    // The directory at `offset`: its entries (1 to maxEntries) and the next
    // directory's offset. False when it does not fit in the data.
    bool directory(std::uint32_t offset, std::vector<TiffEntry>& entries, std::uint32_t& next,
                   unsigned maxEntries = 1024) const;
    // An entry's value as a number (its first SHORT or LONG).
    std::uint32_t number(const TiffEntry& e) const;
    // Its SHORT or LONG values, at most `maxCount`; false for other types.
    bool numbers(const TiffEntry& e, std::vector<std::uint32_t>& out, std::uint32_t maxCount = 65536) const;
    // Bytes of its values (inline or at their offset).
    std::uint64_t valueBytes(const TiffEntry& e) const;
    std::uint32_t valueOffset(const TiffEntry& e) const { return u32(e.value); }

private:
    ReadAt read_;
    bool little_ = true;
    std::uint16_t magic_ = 0;
    std::uint32_t first_ = 0;
};

// Bytes per value of a TIFF type; 0 for an unknown type.
std::uint32_t TiffTypeSize(std::uint16_t type);

}  // namespace hx::formats
