// The start test, the picture check, the marker walk and the entropy walk over arbitrary
// bytes: all must stay inside the data, the walks' ends must never lie beyond
// it, and the entropy walk must answer the same from every mark it left.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "formats/JpegEntropy.h"
#include "formats/JpegStart.h"
#include "formats/PictureCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> copy(data, data + size);
    // The start test reads no byte past those it is given, whatever their number.
    hx::formats::IsJpegStart(copy.data(), copy.size());
    for (std::size_t n = 0; n < std::min<std::size_t>(copy.size(), 80); ++n) {
        const std::vector<std::uint8_t> head(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(n));
        hx::formats::IsJpegStart(head.data(), head.size());
    }
    hx::formats::CheckJpegBuffer(copy.data(), copy.size());
    hx::formats::CheckJpegBuffer(copy.data(), copy.size(), true);
    // Fed in uneven pieces, as units arrive.
    hx::formats::JpegEndFinder finder;
    std::size_t at = 0, used = 0;
    while (at < copy.size() && !finder.done()) {
        const std::size_t piece = std::min<std::size_t>(1 + copy[at] % 97, copy.size() - at);
        used = finder.feed(copy.data() + at, piece);
        if (used > piece) std::abort();
        at += piece;
    }
    if (finder.done() && finder.length() > copy.size()) std::abort();
    // The entropy walk, from the start and again from each mark it left.
    hx::formats::JpegEntropy entropy;
    if (entropy.readHeaders(copy.data(), copy.size())) {
        std::vector<hx::formats::JpegEntropy::Mark> marks;
        const auto walk = entropy.walk(copy.data(), copy.size(), entropy.start(), &marks, 16);
        if (walk.at > copy.size() || walk.mcus > entropy.mcuCount()) std::abort();
        // Eight marks at most, spread over the walk: each walks on to its end.
        for (std::size_t m = 0; m < marks.size(); m += marks.size() / 8 + 1) {
            const auto& mark = marks[m];
            const auto again = entropy.walk(copy.data(), copy.size(), mark);
            if (again.outcome != walk.outcome || again.at != walk.at) std::abort();
        }
    }
    hx::formats::CheckJpegData(copy.data(), copy.size());
    return 0;
}
