#include "media/SalvagedMedium.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "media/SectorIo.h"

namespace hx::media {

SalvagedMedium::SalvagedMedium(Handle& handle, std::uint32_t sectorBytes, const SectorRuns& known)
    : handle_(handle), reader_(handle, sectorBytes == 0 ? 512 : sectorBytes), known_(known), size_(handle.size()),
      sector_(sectorBytes == 0 ? 512 : sectorBytes) {}

std::size_t SalvagedMedium::readAt(std::uint64_t offset, void* out, std::size_t count) {
    auto* bytes = static_cast<std::uint8_t*>(out);
    if (offset >= size_) return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t at = offset + done;
        bool known = false;
        const auto n = static_cast<std::size_t>(StretchEnd(known_, sector_, at, offset + count, known) - at);
        if (known) {
            std::memset(bytes + done, 0, n);
            done += n;
            continue;
        }
        // A plain read first (the joiners' reads are many and small); the
        // salvaging reader takes over where one fails.
        if (!reader_.gone() && handle_.readAt(at, bytes + done, n) == n) {
            done += n;
            continue;
        }
        // Whole sectors, each read past the system's cache where it fails: a
        // read ahead of the cache that failed on a bad sector fails the
        // sectors around it too, which read well alone.
        const std::uint64_t from = at / sector_ * sector_;
        const std::uint64_t to = std::min<std::uint64_t>(size_, (at + n + sector_ - 1) / sector_ * sector_);
        std::vector<std::uint8_t> whole(static_cast<std::size_t>(to - from));
        const std::size_t got = reader_.read(from, whole.data(), whole.size());
        const std::size_t usable = got > at - from ? std::min<std::size_t>(got - static_cast<std::size_t>(at - from), n) : 0;
        std::memcpy(bytes + done, whole.data() + (at - from), usable);
        done += usable;
        if (usable < n) break;  // the medium stopped answering
    }
    return done;
}

std::uint64_t SalvagedMedium::unreadableIn(std::uint64_t offset, std::uint64_t length) const {
    if (length == 0) return 0;
    return SectorsIn(known_, offset / sector_, (offset + length + sector_ - 1) / sector_) + reader_.unreadableIn(offset, length);
}

std::uint64_t SalvagedMedium::firstUnreadableIn(std::uint64_t offset, std::uint64_t length) const {
    if (length == 0) return ~0ull;
    return std::min(FirstSectorIn(known_, offset / sector_, (offset + length + sector_ - 1) / sector_),
                    reader_.firstUnreadableIn(offset, length));
}

bool SalvagedDrive::open(const std::string& drive, std::uint32_t sectorBytes, const SectorRuns& known) {
    medium_.reset();
    if (!OpenDriveForRead(drive, 0, handle_, static_cast<int>(sectorBytes))) return false;
    medium_.emplace(handle_, sectorBytes, known);
    return true;
}

}  // namespace hx::media
