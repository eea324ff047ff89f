#include "formats/iso/IsoBoxes.h"

#include <algorithm>
#include <cstring>

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

bool IsoBoxFeed::feed(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size && !ended_) {
        if (skip_ > 0) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, size - i));
            i += n;
            skip_ -= n;
            length_ += n;
            continue;
        }
        const bool wide = have_ >= 8 && platform::Be32(header_) == 1;  // a 64-bit size follows the type
        const std::size_t need = wide ? 16 : 8;
        const std::size_t take = std::min(need - have_, size - i);
        std::memcpy(header_ + have_, data + i, take);
        have_ += take;
        i += take;
        if (have_ < need || (!wide && platform::Be32(header_) == 1)) continue;
        std::uint64_t box = platform::Be32(header_);
        if (wide) box = (static_cast<std::uint64_t>(platform::Be32(header_ + 8)) << 32) | platform::Be32(header_ + 12);
        const bool first = boxes_ == 0;
        if (!isType(header_ + 4) || (first && std::memcmp(header_ + 4, "ftyp", 4) != 0) || box < need ||
            boxes_ >= kMaxBoxes || box > maxBytes_ - std::min(maxBytes_, length_)) {
            ended_ = true;
            break;
        }
        ++boxes_;
        std::memcpy(type_, header_ + 4, 4);
        length_ += need;
        skip_ = box - need;
        have_ = 0;
    }
    return ended_;
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

namespace hx::formats {

double MovieSeconds(const ReadAt& read, std::uint64_t from, std::uint64_t to) {
    IsoBox moov, mvhd;
    if (!FindIsoBox(read, from, to, "moov", moov) || !FindIsoBox(read, moov.contents, moov.end, "mvhd", mvhd)) return 0;
    std::uint8_t v[32];
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(mvhd.end - mvhd.contents, sizeof v));
    if (n < 20 || !read(mvhd.contents, n, v)) return 0;
    // Version 0 counts in 32 bits, version 1 its times and duration in 64.
    const bool wide = v[0] == 1;
    if (wide && n < 32) return 0;
    const std::uint32_t scale = platform::Be32(v + (wide ? 20 : 12));
    const std::uint64_t duration = wide ? (static_cast<std::uint64_t>(platform::Be32(v + 24)) << 32) | platform::Be32(v + 28)
                                        : platform::Be32(v + 16);
    return scale == 0 ? 0 : static_cast<double>(duration) / scale;
}

}  // namespace hx::formats
