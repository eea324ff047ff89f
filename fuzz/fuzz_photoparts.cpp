// The parts a JPEG's headers name after its picture (XMP, MPF index), a
// Samsung clip and trailer, and the check of the parts, over arbitrary bytes:
// every offset and length read from them must stay inside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/PhotoParts.h"
#include "formats/PhotoTail.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that a read past the end is caught by the sanitizers.
    const std::vector<std::uint8_t> copy(data, data + size);
    const std::uint64_t picture = size / 2;
    auto parts = hx::formats::PartsNamedInHeaders(copy.data(), copy.size(), picture);
    const hx::formats::ReadAt read = [&copy](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        if (at > copy.size() || n > copy.size() - at) return false;
        if (n > 0) std::memcpy(out, copy.data() + at, n);
        return true;
    };
    hx::formats::CheckPhotoParts(read, copy.size(), picture, parts);
    bool decided = false;
    hx::formats::SamsungClipStart(copy.data(), copy.size(), decided);
    hx::formats::SamsungTrailerLength(copy.data(), copy.size());
    // The bytes as they would follow a picture's end, fed in pieces of a few sizes.
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{512}}) {
        hx::formats::PhotoTail tail;
        tail.start({}, 0);
        bool ends = false;
        for (std::size_t at = 0; at < copy.size() && !ends; at += piece) {
            const std::size_t n = std::min(piece, copy.size() - at);
            std::vector<std::uint8_t> unit(copy.begin() + at, copy.begin() + at + n);
            if (tail.feed(unit.data(), unit.size(), ends) > unit.size()) __builtin_trap();
        }
        hx::formats::CheckPhotoParts(read, copy.size(), 0, tail.parts());
    }
    return 0;
}
