#pragma once
// Reads a scan's source block by block: through one open handle, or, for a
// damaged medium, with one self-contained read per block. A source that
// refuses the first block is tried with smaller reads before it is called
// unreadable.
#include <cstdint>
#include <string>
#include <vector>

#include "media/SectorIo.h"
#include "scan/ScanGeometry.h"

namespace hx::scan {

class BlockReader {
public:
    // `window` bytes after every block read as zeros, so a signature test may look past the block.
    BlockReader(const std::string& drive, const ScanGeometry& geo, std::size_t unitsPerBlock, std::size_t window,
                bool perCallReads);

    // Opens the source at `unit`; false when it cannot be opened (permissionDenied() says whether it was refused).
    bool open(std::uint64_t unit);
    bool permissionDenied() const;
    // Positions the open handle at `unit` (SmartScan skips used runs).
    void seek(std::uint64_t unit);
    void close() { handle_.close(); }

    // Reads up to `units` units from `unit`; returns the whole units read.
    // The first read of a scan falls back to halved and single-unit reads;
    // unreadable() is true when even those gave nothing.
    std::size_t read(std::uint64_t unit, std::size_t units);
    bool unreadable() const { return unreadable_; }
    // The last read gave fewer units than it asked for: the source ends there.
    bool shortRead() const { return lastGot_ < lastAsked_; }

    const std::uint8_t* data() const { return data_; }
    // Byte offset of the block's first byte in the source.
    std::uint64_t offset() const { return offset_; }

private:
    std::size_t readOnce(std::uint64_t unit, std::size_t units);

    std::string drive_;
    const ScanGeometry& geo_;
    std::uint64_t unitBytes_;
    bool perCall_;
    std::size_t window_;
    media::Handle handle_;
    std::vector<std::uint8_t> buffer_;
    const std::uint8_t* data_ = nullptr;  // the block: in buffer_, or where the system caches the image
    std::uint64_t offset_ = 0;
    std::uint64_t blocksRead_ = 0;
    bool unreadable_ = false;
    std::size_t lastAsked_ = 0;
    std::size_t lastGot_ = 0;
};

}  // namespace hx::scan
