#include "media/FileDamage.h"

#include <algorithm>

#include "shell/Strings.h"

namespace hx::media {

std::string FileDamage::text() const { return DamageText(sectors_, firstByte_); }

void FileDamage::note(const SalvagingReader& reader, std::uint64_t offset, std::uint64_t length, std::uint64_t fileByte) {
    FileDamage* d = this;
    if (reader.unreadableSectors() == 0) return;
    const std::uint64_t n = reader.unreadableIn(offset, length);
    if (n == 0) return;
    const std::uint64_t first = std::max(reader.firstUnreadableIn(offset, length) * reader.sectorBytes(), offset) - offset;
    if (d->sectors_ == 0 || fileByte + first < d->firstByte_) d->firstByte_ = fileByte + first;
    d->sectors_ += n;
}

std::string DamageText(std::uint64_t sectors, std::uint64_t firstByte) {
    if (sectors == 0) return {};
    return shell::FormatStr(shell::LoadStr(0, "damaged: %0 sectors unreadable (zeros), the first at byte %1"),
                            {std::to_string(sectors), std::to_string(firstByte)});
}

}  // namespace hx::media
