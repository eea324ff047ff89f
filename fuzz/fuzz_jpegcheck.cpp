// The picture check and the marker walk over arbitrary bytes: both must stay
// inside the data, and the walk's end must never lie beyond it.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "viewing/PictureCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> copy(data, data + size);
    hx::viewing::CheckJpegBuffer(copy.data(), copy.size());
    hx::viewing::CheckJpegBuffer(copy.data(), copy.size(), true);
    // Fed in uneven pieces, as units arrive.
    hx::viewing::JpegEndFinder finder;
    std::size_t at = 0, used = 0;
    while (at < copy.size() && !finder.done()) {
        const std::size_t piece = std::min<std::size_t>(1 + copy[at] % 97, copy.size() - at);
        used = finder.feed(copy.data() + at, piece);
        if (used > piece) std::abort();
        at += piece;
    }
    if (finder.done() && finder.length() > copy.size()) std::abort();
    return 0;
}
