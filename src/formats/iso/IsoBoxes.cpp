#include "formats/iso/IsoBoxes.h"

#include <algorithm>

#include "platform/ByteOrder.h"

namespace hx::formats {

namespace {

constexpr int kMaxBoxes = 1 << 16;  // boxes side by side at one level, at most

bool isType(const std::uint8_t* p) {
    return std::all_of(p, p + 4, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

}  // namespace

BoxRead ReadIsoBox(const ReadAt& read, std::uint64_t at, std::uint64_t to, IsoBox& box) {
    std::uint8_t h[16];
    if (at >= to || to - at < 8 || !read(at, 8, h) || !isType(h + 4)) return BoxRead::None;
    std::uint64_t size = platform::Be32(h), header = 8;
    if (size == 1) {
        if (to - at < 16 || !read(at + 8, 8, h + 8)) return BoxRead::None;
        size = (static_cast<std::uint64_t>(platform::Be32(h + 8)) << 32) | platform::Be32(h + 12);
        header = 16;
    } else if (size == 0) {
        size = to - at;
    }
    if (size < header) return BoxRead::None;
    if (size > to - at) return BoxRead::TooLong;
    box.at = at;
    box.contents = at + header;
    box.end = at + size;
    std::copy(h + 4, h + 8, box.type.begin());
    return BoxRead::Box;
}

std::uint64_t TrailingBoxesEnd(const ReadAt& read, std::uint64_t at, std::uint64_t to, std::uint64_t maxBytes) {
    constexpr int kMaxTrailing = 8;
    IsoBox box;
    for (int n = 0; n < kMaxTrailing && ReadIsoBox(read, at, to, box) == BoxRead::Box; ++n) {
        // A size of 0 runs to `to`: nothing tells where such a box would end.
        if (box.is("ftyp") || box.is("moov") || box.is("mdat") || box.end - box.at > maxBytes ||
            box.end - box.at == to - at)
            break;
        at = box.end;
    }
    return at;
}

bool FindIsoBox(const ReadAt& read, std::uint64_t from, std::uint64_t to, std::string_view type, IsoBox& found) {
    IsoBox box;
    std::uint64_t at = from;
    for (int n = 0; n < kMaxBoxes && ReadIsoBox(read, at, to, box) == BoxRead::Box; ++n, at = box.end)
        if (box.is(type)) {
            found = box;
            return true;
        }
    return false;
}

}  // namespace hx::formats
