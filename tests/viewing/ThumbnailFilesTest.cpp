// Thumbnail files: their names, how many are shown, and one made per photo.
#include <gtest/gtest.h>

#include "fixtures/MediaImages.h"
#include "fixtures/SampleFiles.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "viewing/JpegThumbnail.h"
#include "viewing/ThumbnailFiles.h"

namespace hx::viewing {
namespace {

namespace fs = std::filesystem;

TEST(ThumbnailFiles, NamesBudgetAndWidths) {
    EXPECT_EQ(ThumbnailFileName("R#0017.cr2"), "0017cr2.jpg");
    EXPECT_EQ(ThumbnailFileName("IMG_0001.tar.gz"), "IMG_0001targz.jpg");
    EXPECT_EQ(ThumbnailBudget(200, 100000), 250u);
    EXPECT_EQ(ThumbnailBudget(100, 100000), 1000u);
    EXPECT_EQ(ThumbnailBudget(50, 100000), 4000u);
    EXPECT_EQ(ThumbnailBudget(50, 12), 12u);
    EXPECT_EQ(ThumbnailBudget(32, 100000), 9765u);
    EXPECT_EQ(AcceptedThumbnailWidth(10), 32);
    EXPECT_EQ(AcceptedThumbnailWidth(120), 120);
    EXPECT_EQ(AcceptedThumbnailWidth(301), 0);
}

TEST(ThumbnailFiles, TurnedAsTheCameraWasHeldAndScaledByAveraging) {
    RgbPicture p;
    p.width = 2;
    p.height = 1;
    p.pixels = {10, 10, 10, 200, 200, 200};  // A B
    const RgbPicture cw = Oriented(p, 6), ccw = Oriented(p, 8), mirrored = Oriented(p, 2);
    ASSERT_EQ(cw.width, 1u);
    ASSERT_EQ(cw.height, 2u);
    EXPECT_EQ(cw.pixels[0], 10);   // turned clockwise: A on top
    EXPECT_EQ(ccw.pixels[0], 200); // counter-clockwise: B on top
    EXPECT_EQ(mirrored.pixels[0], 200);
    EXPECT_EQ(Oriented(p, 1).pixels, p.pixels);
    const RgbPicture half = ScaledToWidth(p, 1);
    ASSERT_EQ(half.width, 1u);
    EXPECT_EQ(half.pixels[0], 105);
}

TEST(ThumbnailFiles, MadeOnceAtTheWidthAndOnlyForPictures) {
    test::TempDir dir("hx-thumbfiles");
    const fs::path cache = dir / "cache", thumbs = dir / "cache" / "Thumbs";
    test::WriteFile(cache / "R#0000.jpg", test::MakeTestJpeg(1, 320, 240));
    test::WriteFile(cache / "R#0001.raf", test::MakeRaf(test::MakeTestJpeg(2, 240, 320), 20000, 3));
    test::WriteFile(cache / "R#0002.txt", "notes");
    const fs::path jpg = ThumbnailFile(cache / "R#0000.jpg", thumbs, 100);
    ASSERT_EQ(jpg, thumbs / "0000jpg.jpg");
    const std::string bytes = test::ReadFile(jpg);
    RgbPicture shown;
    ASSERT_TRUE(DecodeJpegScaled(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0, shown));
    EXPECT_EQ(shown.width, 100u);
    EXPECT_EQ(shown.height, 75u);
    const fs::path raf = ThumbnailFile(cache / "R#0001.raf", thumbs, 60);
    ASSERT_EQ(raf, thumbs / "0001raf.jpg");
    EXPECT_TRUE(ThumbnailFile(cache / "R#0002.txt", thumbs, 100).empty());
    // Made once: the file there is used as it is.
    fs::remove(cache / "R#0000.jpg");
    EXPECT_EQ(ThumbnailFile(cache / "R#0000.jpg", thumbs, 100), jpg);
    EXPECT_EQ(test::ReadFile(jpg), bytes);

    // A new width removes them, and nothing in a folder that is not a thumbs folder.
    EXPECT_EQ(RemoveThumbnailFiles(cache), 0u);
    EXPECT_TRUE(fs::exists(cache / "R#0001.raf"));
    EXPECT_EQ(RemoveThumbnailFiles(thumbs), 2u);
    EXPECT_FALSE(fs::exists(jpg));
}

}  // namespace
}  // namespace hx::viewing
