// After a quick undelete, a carving scan of the same card names the photos
// it finds by their signature after the listing.
#include <gtest/gtest.h>

#include "fixtures/CardFixture.h"
#include "undelete/QuickUndelete.h"

namespace hx::undelete {
namespace {

using ListingFeedsScan = test::CardFixture;

TEST_F(ListingFeedsScan, FoundPhotosGetTheirListedNames) {
    makeCard(64, 8, 16);
    // A text file first: the scan looks for listed files after its first unit.
    ASSERT_TRUE(test::FatPutFile(image, "readme.txt", "notes"));
    std::vector<std::string> names = {"Beach 1.jpg", "Sunset 2.jpg", "Dog 3.jpg"};
    for (std::size_t i = 0; i < names.size(); ++i)
        ASSERT_TRUE(test::FatPutFile(image, names[i], test::MakeTestJpeg(static_cast<int>(i), 1024, 768)));
    ASSERT_TRUE(test::FatDelete(image, names[1]));

    QuickUndelete q(ui);
    ASSERT_TRUE(q.run({image.string(), "all", 0, 0, {}}));
    auto ctx = context("|.jpgJPEG File |");
    ctx.listed = q.listedNames();
    ASSERT_EQ(ctx.listed.size(), 4u);
    ASSERT_EQ(scan::ScanDisk(ctx), scan::ScanOutcome::Finished);
    auto found = ctx.FoundNames();
    std::sort(found.begin(), found.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(found, names);
}

}  // namespace
}  // namespace hx::undelete
