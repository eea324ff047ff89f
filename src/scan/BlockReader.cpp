#include "scan/BlockReader.h"

#include <algorithm>
#include <cstring>

namespace hx::scan {

BlockReader::BlockReader(const std::string& drive, const ScanGeometry& geo, std::size_t unitsPerBlock,
                         std::size_t window, bool perCallReads)
    : drive_(drive), geo_(geo), unitBytes_(geo.unitBytes()), perCall_(perCallReads), window_(window) {
    buffer_.assign(unitsPerBlock * unitBytes_ + window, 0);
}

bool BlockReader::open(std::uint64_t unit) {
    if (perCall_) return true;
    // Found files are copied from an image inside the kernel: the source is read front to back.
    const bool ok = media::OpenDriveForRead(drive_, static_cast<std::int64_t>(geo_.sectorOf(unit)), handle_,
                                            static_cast<int>(geo_.bytesPerSector));
    if (ok) handle_.adviseSequential();
    return ok;
}

bool BlockReader::permissionDenied() const { return platform::isPermissionError(handle_.lastError()); }

void BlockReader::seek(std::uint64_t unit) {
    if (!perCall_) handle_.seek(geo_.byteOf(unit));
}

std::size_t BlockReader::readOnce(std::uint64_t unit, std::size_t units) {
    const std::size_t want = std::min<std::size_t>(units * unitBytes_, buffer_.size());
    std::size_t got = 0;
    if (perCall_) {
        const auto lba = static_cast<std::int64_t>(geo_.sectorOf(unit));
        std::uint32_t n = 0;
        auto data = media::ReadSectors(drive_, lba, 0, static_cast<std::uint32_t>(want), n,
                                       static_cast<int>(geo_.bytesPerSector));
        offset_ = static_cast<std::uint64_t>(lba) * geo_.bytesPerSector;
        got = std::min<std::size_t>(n, want);
        if (got > 0) std::memcpy(buffer_.data(), data.data(), got);
    } else {
        offset_ = handle_.position();
        // An image is looked at where the system caches it: no copy, when the
        // block and the window after it lie inside the file.
        std::size_t seen = want + window_;
        if (const std::uint8_t* at = handle_.view(offset_, seen); at && seen == want + window_) {
            got = want - want % unitBytes_;
            handle_.seek(offset_ + got);
            data_ = at;
            lastAsked_ = units;
            lastGot_ = got / unitBytes_;
            return lastGot_;
        }
        got = handle_.read(buffer_.data(), want);
    }
    data_ = buffer_.data();
    got -= got % unitBytes_;
    std::memset(buffer_.data() + got, 0, buffer_.size() - got);
    lastAsked_ = units;
    lastGot_ = got / unitBytes_;
    return lastGot_;
}

std::size_t BlockReader::read(std::uint64_t unit, std::size_t units) {
    std::size_t got = readOnce(unit, units);
    if (got == 0 && blocksRead_ == 0) {
        if (!perCall_ && units > 1) {
            // A device that refuses large reads may take smaller ones.
            handle_.close();
            open(unit);
            got = readOnce(unit, std::max<std::size_t>(1, units / 2));
        }
        if (got == 0) {
            std::uint32_t n = 0;
            media::ReadSectors(drive_, static_cast<std::int64_t>(geo_.sectorOf(unit)), 0,
                               static_cast<std::uint32_t>(unitBytes_), n, static_cast<int>(geo_.bytesPerSector));
            unreadable_ = n == 0;
        }
    }
    if (got > 0) ++blocksRead_;
    return got;
}

}  // namespace hx::scan
