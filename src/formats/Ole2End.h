#pragma once
// OLE2 compound files (Word, Excel, PowerPoint documents): recognised by
// their header, and ended where their sector allocation table says the last
// used sector lies.
#include <cstdint>
#include <cstddef>
#include <vector>

namespace hx::formats {

// A compound file's header: magic, byte order mark, sector sizes and a
// DIFAT whose entries name sectors or are free. `size` at least 512.
bool IsOle2Header(const std::uint8_t* data, std::size_t size);

// Follows a compound file as it is written: the FAT sectors its header names
// are read as they pass by; once all are seen, the file's length is known.
class Ole2EndFinder {
public:
    explicit Ole2EndFinder(const std::uint8_t* header);
    // The next bytes of the file. Returns how many belong to it; `ends` is
    // set when its last sector lies among them.
    std::size_t feed(const std::uint8_t* data, std::size_t size, bool& ends);
    // The file's length by its table, 0 while not known.
    std::uint64_t length() const { return length_; }
    // The header's table can be followed (all FAT sectors named in the header).
    bool usable() const { return usable_; }

private:
    struct FatSector {
        std::uint32_t sector = 0;           // where it lies in the file
        std::uint32_t rank = 0;             // its place in the table: which sectors it covers
        std::vector<std::uint8_t> bytes;    // as much of it as has passed by
    };

    std::uint32_t sectorSize_ = 0;
    std::vector<FatSector> fats_;
    std::size_t complete_ = 0;
    std::uint64_t lastUsed_ = 0;   // highest sector index in use
    std::uint64_t offset_ = 0;     // bytes fed so far
    std::uint64_t length_ = 0;
    bool usable_ = false;
};

}  // namespace hx::formats
