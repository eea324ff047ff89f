// After a quick undelete, a carving scan of the same card names the photos
// it finds by their signature after the listing.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "scan/ScanDisk.h"
#include "undelete/QuickUndelete.h"

namespace hx::undelete {
namespace {

namespace fs = std::filesystem;

TEST(ListingFeedsScan, FoundPhotosGetTheirListedNames) {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
    test::TempDir dir("hx-listed");
    const fs::path image = dir / "card.img";
    ASSERT_TRUE(test::MakeFatCard(image, 64, 8, 16));
    // A text file first: the scan looks for listed files after its first unit.
    test::WriteFile(dir / "readme.txt", "notes");
    ASSERT_TRUE(test::CopyToCard(image, dir / "readme.txt", "readme.txt"));
    const std::vector<std::string> names = {"Beach 1.jpg", "Sunset 2.jpg", "Dog 3.jpg"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const fs::path host = dir / ("p" + std::to_string(i) + ".jpg");
        test::WriteFile(host, test::MakeTestJpeg(static_cast<int>(i), 1024, 768));
        ASSERT_TRUE(test::CopyToCard(image, host, names[i]));
    }
    ASSERT_TRUE(test::DeleteFromCard(image, names[1]));

    test::ScriptedUi ui;
    QuickUndelete q(ui);
    ASSERT_TRUE(q.run({image.string(), "all", 0, 0, {}}));
    const auto listed = ListedNamesFor(image.string());
    ASSERT_EQ(listed.size(), 4u);

    scan::ScanContext ctx(ui);
    ctx.drive = image.string();
    ctx.record = test::FatGeometry(image);
    ctx.cacheFolder = dir / "QXCache";
    fs::create_directories(ctx.cacheFolder);
    ctx.table = scan::BuildSignatureTable("|.jpgJPEG File |");
    scan::OrderForScan(ctx.table);
    ctx.listed = listed;
    ASSERT_EQ(scan::ScanDisk(ctx), scan::ScanOutcome::Finished);
    std::vector<std::string> found = ctx.FoundNames;
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
}

}  // namespace
}  // namespace hx::undelete
