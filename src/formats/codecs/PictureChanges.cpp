// Which of several ways of placing a clip's bytes gives pictures that look
// like a recording: told by how much they change from one to the next.
#include <algorithm>
#include <cstdlib>
#include <numeric>

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
    // Where the ways differ, picture by picture: more than the noise of a
    // picture decoded without its loop filter.
    constexpr int kApart = 8;
    std::vector<std::vector<bool>> apart(count, std::vector<bool>(squares));
    bool any = false;
    for (std::size_t k = 0; k < count; ++k)
        for (std::size_t x = 0; x < squares; ++x) {
            int lo = 255, hi = 0;
            for (const std::vector<Brightness>& way : ways) {
                lo = std::min<int>(lo, way[k][x]);
                hi = std::max<int>(hi, way[k][x]);
            }
            apart[k][x] = hi - lo > kApart;
            any = any || apart[k][x];
        }
    if (!any) return std::nullopt;
    // How much each way's pictures change from one to the next where the
    // ways differ in either, and how much they all change where they agree.
    std::vector<double> change(ways.size());
    std::uint64_t differing = 0, agreeing = 0, usual = 0;
    for (std::size_t k = 1; k < count; ++k)
        for (std::size_t x = 0; x < squares; ++x) {
            if (!apart[k][x] && !apart[k - 1][x]) {
                ++agreeing;
                usual += static_cast<std::uint64_t>(std::abs(int(ways[0][k][x]) - int(ways[0][k - 1][x])));
                continue;
            }
            ++differing;
            for (std::size_t w = 0; w < ways.size(); ++w) change[w] += std::abs(int(ways[w][k][x]) - int(ways[w][k - 1][x]));
        }
    if (differing == 0) return std::nullopt;
    for (double& c : change) c /= static_cast<double>(differing);
    const double usualChange = agreeing ? static_cast<double>(usual) / static_cast<double>(agreeing) : 0;
    std::vector<std::size_t> order(ways.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return change[a] < change[b]; });
    // Another file's bytes decode to blocks that leap from the picture
    // before; the way without them changes there about as the pictures do
    // elsewhere, and a third as much as any other at most.
    const double best = change[order[0]], next = change[order[1]];
    if (best * 3 > next || best > 3 * usualChange + 6) return std::nullopt;
    return order[0];
}

}  // namespace hx::formats
