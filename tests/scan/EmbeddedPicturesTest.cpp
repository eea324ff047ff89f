// The DeepScan finds JPEGs that do not start where a unit starts: appended to
// other data, or inside a Word-style OLE2 document, each ended where its
// decode ends.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/CardFixture.h"
#include "scan/EmbeddedPictures.h"
#include "scan/ScanState.h"

namespace hx::scan {
namespace {

using EmbeddedPictures = test::CardFixture;

// An OLE2 compound file as a word processor writes one, a picture in its data stream.
std::string ole2With(const std::string& picture) {
    std::string doc("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    doc += test::PatternBytes(504, 21);
    doc += std::string("W\0o\0r\0d\0D\0o\0c\0u\0m\0e\0n\0t\0", 24) + test::PatternBytes(2048 + 77 - 24, 22);
    doc += picture;
    doc += test::PatternBytes(3001, 23);
    return doc;
}

TEST_F(EmbeddedPictures, DeepScanFindsThemAtAnyOffsetByteIdentical) {
    makeCard();
    photos[1] = test::MakeTestJpeg(1, 320, 240);
    photos[2] = test::MakeTestJpeg(2, 300, 200);
    ASSERT_TRUE(test::FatPutFile(image, "log.bin", test::PatternBytes(1572, 11) + photos[1] + test::PatternBytes(999, 12)));
    ASSERT_TRUE(test::FatPutFile(image, "report.doc", ole2With(photos[2])));
    // An ordinary photo: its EXIF thumbnail is no picture of its own.
    putPhoto(3, 640, 480);

    auto ctx = context(SelectionForTypes({"JPG", "DOC"}));
    ctx.options.deepScan = true;
    ASSERT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    EXPECT_EQ(intact(ctx.FoundNames()), (std::vector<int>{1, 2, 3}));
    std::size_t pictures = 0;
    for (const auto& f : ctx.found) pictures += f.extension == ".jpg";
    EXPECT_EQ(pictures, 3u);

    // Without the DeepScan only the photo that starts a cluster is found.
    emptyCache();
    auto plain = context(SelectionForTypes({"JPG"}));
    ASSERT_EQ(ScanDisk(plain), ScanOutcome::Finished);
    EXPECT_EQ(intact(plain.FoundNames()), (std::vector<int>{3}));
}

TEST(EmbeddedPictureFinder, CandidatesAndCleanDecodesOnly) {
    test::TempDir dir("hx-embedded");
    const std::string photo = test::MakeTestJpeg(4, 200, 150);
    std::string cut = photo.substr(0, photo.size() / 2);
    const std::string bytes = std::string("junk\xFF\xD8\xFF\x00", 8) + test::PatternBytes(500, 1) + photo + cut + "\xFF\xD8\xFF\xE0" +
                              test::PatternBytes(3000, 2);
    test::WriteFile(dir / "src.bin", bytes);
    EmbeddedPictureFinder finder;
    const media::SectorRuns none;
    ASSERT_TRUE(finder.open((dir / "src.bin").string(), 512, none));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto starts = finder.candidates(data, bytes.size(), 0, 0, 512, false);
    // The bare FF D8 FF after "junk" lacks a marker, and the stray start's
    // segment runs on into noise: the photo and its cut copy remain.
    ASSERT_GE(starts.size(), 2u);
    const std::uint64_t at = 8 + 500;
    EXPECT_EQ(starts[0], at);
    EXPECT_EQ(finder.measure(at), photo.size());
    // The copy cut short decodes to no end (its EXIF thumbnail, whole, is a
    // picture of its own).
    EXPECT_NE(std::find(starts.begin(), starts.end(), at + photo.size()), starts.end());
    EXPECT_EQ(finder.measure(at + photo.size()), 0u);
    EXPECT_EQ(std::find(starts.begin(), starts.end(), bytes.size() - 3004), starts.end());
    // A sector of the photo that the scan could not read is not read again: zeros, and no clean decode.
    const media::SectorRuns unreadable{{(at + photo.size() / 2) / 512, 1}};
    EmbeddedPictureFinder onFailingCard;
    ASSERT_TRUE(onFailingCard.open((dir / "src.bin").string(), 512, unreadable));
    EXPECT_EQ(onFailingCard.measure(at), 0u);
}

}  // namespace
}  // namespace hx::scan
