#include "scan/BlockReader.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace hx::scan {

BlockReader::BlockReader(const std::string& drive, const ScanGeometry& geo, std::size_t unitsPerBlock,
                         std::size_t window, bool perCallReads)
    : drive_(drive),
      geo_(geo),
      unitBytes_(geo.unitBytes()),
      perCall_(perCallReads),
      window_(window),
      salvage_(handle_, geo.bytesPerSector) {
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

void BlockReader::seek(std::uint64_t unit) {
    if (!perCall_) handle_.seek(geo_.byteOf(unit));
}

std::size_t BlockReader::read(std::uint64_t unit, std::size_t units) {
    if (!aside_) return readHere(unit, units);
    std::size_t got = 0;
    aside_->run([&] { got = readHere(unit, units); });
    return got;
}

std::size_t BlockReader::readHere(std::uint64_t unit, std::size_t units) {
    const std::size_t want = std::min<std::size_t>(units * unitBytes_, buffer_.size());
    std::size_t got = 0;
    if (perCall_) {
        // A read of its own, that holds the medium open no longer than it needs.
        offset_ = geo_.byteOf(unit);
        if (media::OpenDriveForRead(drive_, 0, handle_, static_cast<int>(geo_.bytesPerSector)))
            got = salvage_.read(offset_, buffer_.data(), want);
        handle_.close();
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
        got = salvage_.read(offset_, buffer_.data(), want);
        handle_.seek(offset_ + got);
    }
    data_ = buffer_.data();
    got -= got % unitBytes_;
    std::memset(buffer_.data() + got, 0, buffer_.size() - got);
    lastAsked_ = units;
    lastGot_ = got / unitBytes_;
    return lastGot_;
}

void BlockReader::retrySkipped(const media::SalvagingReader::ReadBack& readBack) {
    const bool reopen = !handle_.isOpen();
    if (reopen && !media::OpenDriveForRead(drive_, 0, handle_, static_cast<int>(geo_.bytesPerSector))) return;
    salvage_.retrySkipped(readBack);
    if (reopen) handle_.close();
}

}  // namespace hx::scan
