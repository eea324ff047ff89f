#pragma once
// Reads a scan's source block by block: through one open handle, or, for a
// damaged medium, with one self-contained read per block. A block that fails
// to read is read again in pieces (media::SalvagingReader): what stays
// unreadable is zeros and listed, and the scan goes on; a source that never
// gives a byte is unreadable, and one that stops answering is gone.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <memory>

#include "media/ReadAside.h"
#include "media/SalvagingReader.h"
#include "media/SectorIo.h"
#include "scan/ScanGeometry.h"

namespace hx::scan {

class BlockReader {
public:
    // `window` bytes after every block read as zeros, so a signature test may look past the block.
    BlockReader(const std::string& drive, const ScanGeometry& geo, std::size_t unitsPerBlock, std::size_t window,
                bool perCallReads);
    // Reads that a card keeps waiting neither hold `ui` (where it serves input
    // while a read waits, each read runs on a thread of its own) nor the
    // command: they fail after a few seconds, or at once at a stop
    // (media::GuardReads; cancelled() then).
    void guardFor(shell::Ui& ui) { media::GuardReads(handle_, ui, aside_); }

    // Opens the source at `unit`; false when it cannot be opened (error() says why).
    bool open(std::uint64_t unit);
    // The errno of the open or of the last read that failed.
    int error() const { return salvage_.lastError() ? salvage_.lastError() : handle_.lastError(); }
    // Positions the open handle at `unit` (SmartScan skips used runs).
    void seek(std::uint64_t unit);
    void close() { handle_.close(); }

    // Reads up to `units` units from `unit`; returns the whole units read,
    // unreadable sectors among them as zeros. unreadable() is true when
    // nothing at all could be read from the start, gone() when the medium
    // stopped answering (the units before are read).
    std::size_t read(std::uint64_t unit, std::size_t units);
    bool unreadable() const { return salvage_.gone() && salvage_.nothingRead(); }
    bool gone() const { return salvage_.gone(); }
    // The last read was given up by the user while the medium kept it waiting.
    bool cancelled() const { return salvage_.cancelled(); }
    // What could not be read so far, in the medium's sectors.
    const media::SalvagingReader& damage() const { return salvage_; }
    // Reads again what was skipped over after failures (see SalvagingReader).
    void retrySkipped(const media::SalvagingReader::ReadBack& readBack);
    // The last read gave fewer units than it asked for: the source ends there.
    bool shortRead() const { return lastGot_ < lastAsked_; }

    const std::uint8_t* data() const { return data_; }
    // Byte offset of the block's first byte in the source.
    std::uint64_t offset() const { return offset_; }

private:
    std::size_t readHere(std::uint64_t unit, std::size_t units);

    std::optional<media::ReadAside> aside_;

    std::string drive_;
    const ScanGeometry& geo_;
    std::uint64_t unitBytes_;
    bool perCall_;
    std::size_t window_;
    media::Handle handle_;
    std::vector<std::uint8_t> buffer_;
    const std::uint8_t* data_ = nullptr;  // the block: in buffer_, or where the system caches the image
    std::uint64_t offset_ = 0;
    media::SalvagingReader salvage_;
    std::size_t lastAsked_ = 0;
    std::size_t lastGot_ = 0;
};

}  // namespace hx::scan
