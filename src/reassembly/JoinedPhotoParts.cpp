#include "reassembly/JoinedPhotoParts.h"

#include <algorithm>
#include <cstring>

#include "formats/PhotoTail.h"

namespace hx::reassembly {

namespace {

// The parts after a picture that are read at most: they are held in memory
// to be appended (a phone's clip is a few MB).
constexpr std::uint64_t kMaxParts = 256ull << 20;

}  // namespace

void TakeFollowingParts(media::SalvagedMedium& medium, std::uint64_t at, std::uint64_t mediumEnd,
                        std::vector<std::uint8_t>& joined, scan::FoundFile& f) {
    const std::uint64_t picture = joined.size();
    const std::uint64_t size = picture + std::min(kMaxParts, mediumEnd > at ? mediumEnd - at : 0);
    const formats::ReadAt read = [&](std::uint64_t offset, std::size_t n, std::uint8_t* out) {
        if (offset > size || n > size - offset) return false;
        if (offset < picture) {
            const std::size_t here = static_cast<std::size_t>(std::min<std::uint64_t>(n, picture - offset));
            std::memcpy(out, joined.data() + offset, here);
            offset += here;
            out += here;
            n -= here;
        }
        return n == 0 || medium.readAt(at + (offset - picture), out, n) == n;
    };
    const formats::PartsCheck check = formats::ReadPhotoParts(read, size);
    if (check.parts.size() < 2 && check.missing.empty()) return;  // a photo of one picture
    if (check.parts.size() >= 2 && check.end > picture && check.end <= size) {
        std::vector<std::uint8_t> parts(static_cast<std::size_t>(check.end - picture));
        if (!read(picture, parts.size(), parts.data())) return;
        joined.insert(joined.end(), parts.begin(), parts.end());
    }
    f.parts = check.parts;
    f.partsMissing = check.missing;
}

}  // namespace hx::reassembly
