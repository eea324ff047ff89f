#pragma once
// A medium read again after a scan of it, as the joiners of files in pieces
// read it: through the salvaging reader (a sector that fails is zeros), and
// the sectors the scan already found unreadable are zeros at once, never
// read again: on a failing card each costs retries or a hang.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "media/SalvagingReader.h"

namespace hx::media {

class SalvagedMedium {
public:
    // `known`: the sectors found unreadable before (the handle's sectors of
    // `sectorBytes`); it must outlive this reader.
    SalvagedMedium(Handle& handle, std::uint32_t sectorBytes, const SectorRuns& known);
    // As RawFile::readAt: the bytes placed at `out`, `count` unless the
    // medium ends (or stops answering) first.
    std::size_t readAt(std::uint64_t offset, void* out, std::size_t count);
    std::uint64_t size() const { return size_; }
    const SalvagingReader& damage() const { return reader_; }
    // The sectors among bytes [offset, offset + length) that read as zeros:
    // known before, or failed since; and the first of them (~0 when none).
    std::uint64_t unreadableIn(std::uint64_t offset, std::uint64_t length) const;
    std::uint64_t firstUnreadableIn(std::uint64_t offset, std::uint64_t length) const;

private:
    Handle& handle_;
    SalvagingReader reader_;
    const SectorRuns& known_;
    std::uint64_t size_;
    std::uint32_t sector_;
};

// A medium opened by its name and read as SalvagedMedium reads it, handle
// and all: the joiners, the finder of pictures inside other files and the
// file systems' readers read it so, and never open it themselves.
class SalvagedDrive {
public:
    SalvagedDrive() = default;
    SalvagedDrive(const SalvagedDrive&) = delete;
    SalvagedDrive& operator=(const SalvagedDrive&) = delete;
    // False when `drive` cannot be opened for reading. `known` as above.
    bool open(const std::string& drive, std::uint32_t sectorBytes, const SectorRuns& known);
    // Nothing known of it yet: every sector is read, and those that fail are
    // listed in damage() as it reads.
    bool open(const std::string& drive, std::uint32_t sectorBytes) { return open(drive, sectorBytes, none_); }
    bool isOpen() const { return medium_.has_value(); }
    SalvagedMedium& operator*() { return *medium_; }
    SalvagedMedium* operator->() { return &*medium_; }

private:
    Handle handle_;
    SectorRuns none_;
    std::optional<SalvagedMedium> medium_;
};

}  // namespace hx::media
