// A medium read again after a scan: the sectors the scan found unreadable
// come back as zeros without being read (the file holds bytes there, and
// they do not come back), the rest as the medium holds it.
#include <gtest/gtest.h>

#include "fixtures/TempDir.h"
#include "media/SalvagedMedium.h"

namespace hx::media {
namespace {

TEST(SalvagedMedium, SectorsKnownUnreadableAreZerosAndTheRestIsRead) {
    test::TempDir dir("hx-salvaged");
    std::string bytes(64 * 512, '\0');
    for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(1 + k % 251);
    test::WriteFile(dir / "card.img", bytes);
    platform::RawFile file;
    ASSERT_TRUE(file.open(dir / "card.img", platform::RawFile::Mode::Read));
    const SectorRuns known = {{10, 3}, {40, 1}, {63, 5}};  // the last runs past the medium's end
    SalvagedMedium medium(file, 512, known);
    // What the medium gives: its bytes, zeros over the known runs.
    const auto expected = [&](std::uint64_t offset, std::size_t n) {
        std::string want = bytes.substr(offset, n);
        for (const auto& [first, count] : known)
            for (std::uint64_t s = first; s < first + count; ++s)
                for (std::uint64_t b = s * 512; b < (s + 1) * 512; ++b)
                    if (b >= offset && b < offset + want.size()) want[b - offset] = '\0';
        return want;
    };
    const struct {
        std::uint64_t offset;
        std::size_t count;
    } reads[] = {
        {8 * 512, 6 * 512},    // across a run, on sectors
        {10 * 512 - 7, 20},    // into a run, off sectors
        {11 * 512 + 3, 100},   // inside a run
        {12 * 512 + 500, 30},  // out of a run
        {39 * 512, 3 * 512},   // a run of one sector
        {0, 64 * 512},         // the whole medium
    };
    for (const auto& r : reads) {
        std::string got(r.count, '\x5A');
        ASSERT_EQ(medium.readAt(r.offset, got.data(), r.count), r.count) << r.offset;
        EXPECT_TRUE(got == expected(r.offset, r.count)) << r.offset;
    }
    // At the medium's end: what there is, the last sector a known one.
    std::string tail(2048, '\x5A');
    EXPECT_EQ(medium.readAt(62 * 512, tail.data(), tail.size()), 1024u);
    EXPECT_TRUE(tail.substr(0, 1024) == expected(62 * 512, 1024));
    EXPECT_EQ(medium.readAt(64 * 512, tail.data(), 10), 0u);
    EXPECT_EQ(medium.damage().unreadableSectors(), 0u) << "nothing failed: the known runs were not read";
}

}  // namespace
}  // namespace hx::media
