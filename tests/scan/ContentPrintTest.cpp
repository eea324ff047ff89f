#include <gtest/gtest.h>

#include "fixtures/MediaImages.h"
#include "scan/ContentPrint.h"

using hx::scan::ContentPrint;
using hx::scan::Fingerprint;

namespace {

Fingerprint printOf(const std::string& bytes, std::size_t piece) {
    ContentPrint p;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        p.add(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, std::min(piece, bytes.size() - at));
    EXPECT_EQ(p.size(), bytes.size());
    return p.value();
}

}  // namespace

TEST(ContentPrint, TheSameWhateverPiecesTheBytesComeInAndDifferentForOneByteChanged) {
    const std::string bytes = hx::test::PatternBytes(100'003, 7);
    const Fingerprint whole = printOf(bytes, bytes.size());
    for (std::size_t piece : {1u, 3u, 8u, 511u, 4096u}) EXPECT_EQ(printOf(bytes, piece), whole) << piece;
    for (std::size_t at : {0u, 7u, 50'000u, 100'002u}) {
        std::string changed = bytes;
        changed[at] ^= 1;
        EXPECT_NE(printOf(changed, 4096), whole) << at;
    }
    // Two words swapped: the lanes are not sums of their words.
    std::string swapped = bytes;
    std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + 8);
    EXPECT_NE(printOf(swapped, 4096), whole);
}
