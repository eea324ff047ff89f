// Which of several ways of placing a clip's bytes gives pictures that look
// like a recording: told by how much they change from one to the next.
#include <cstdint>
#include <cstdlib>

#include "formats/codecs/PicturesDecode.h"

namespace hx::formats {

std::optional<std::size_t> SmoothestWay(const std::vector<std::vector<Brightness>>& ways) {
    if (ways.size() < 2) return std::nullopt;
    const std::size_t count = ways.front().size();
    if (count < 2) return std::nullopt;
    const std::size_t squares = ways.front().front().size();
    for (const std::vector<Brightness>& way : ways) {
        if (way.size() != count) return std::nullopt;
        for (const Brightness& picture : way)
            if (picture.size() != squares) return std::nullopt;
    }
    // Two ways differ where their pictures do by more than the noise of a
    // picture decoded without its loop filter.
    constexpr int kApart = 8;
    const auto apart = [&](std::size_t a, std::size_t b, std::size_t k, std::size_t x) {
        return std::abs(int(ways[a][k][x]) - int(ways[b][k][x])) > kApart;
    };
    const auto change = [&](std::size_t w, std::size_t k, std::size_t x) {
        return std::abs(int(ways[w][k][x]) - int(ways[w][k - 1][x]));
    };
    // How much the pictures change from one to the next where every way agrees.
    std::uint64_t agreeing = 0, usual = 0;
    for (std::size_t k = 1; k < count; ++k)
        for (std::size_t x = 0; x < squares; ++x) {
            bool same = true;
            for (std::size_t w = 1; w < ways.size() && same; ++w) same = !apart(0, w, k, x) && !apart(0, w, k - 1, x);
            if (!same) continue;
            ++agreeing;
            usual += static_cast<std::uint64_t>(change(0, k, x));
        }
    const double most = 3 * (agreeing ? static_cast<double>(usual) / static_cast<double>(agreeing) : 0) + 6;
    // Another file's bytes decode to blocks that leap from the picture
    // before; the way without them changes, where it differs from each
    // other way, about as the pictures do elsewhere, and half as much as
    // that other way does there at most. Each pair is looked at where
    // those two differ: a way one cluster off differs from the right one in
    // a corner of its pictures, which the squares where others go wrong
    // would drown.
    for (std::size_t w = 0; w < ways.size(); ++w) {
        bool smoothest = true;
        for (std::size_t v = 0; v < ways.size() && smoothest; ++v) {
            if (v == w) continue;
            std::uint64_t differing = 0, mine = 0, theirs = 0;
            for (std::size_t k = 1; k < count; ++k)
                for (std::size_t x = 0; x < squares; ++x) {
                    if (!apart(w, v, k, x) && !apart(w, v, k - 1, x)) continue;
                    ++differing;
                    mine += static_cast<std::uint64_t>(change(w, k, x));
                    theirs += static_cast<std::uint64_t>(change(v, k, x));
                }
            smoothest = differing > 0 && mine * 2 <= theirs &&
                        static_cast<double>(mine) <= most * static_cast<double>(differing);
        }
        if (smoothest) return w;
    }
    return std::nullopt;
}

}  // namespace hx::formats
