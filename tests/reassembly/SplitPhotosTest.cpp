// Photos that a file system wrote in two pieces, with other data or another
// whole photo between the pieces, come back joined and byte-identical.
#include <gtest/gtest.h>

#include "fixtures/CardFixture.h"
#include "formats/PictureCheck.h"
#include "formats/SignatureTable.h"
#include "reassembly/Reassembly.h"
#include "reassembly/SplitPhotos.h"

namespace hx::scan {
namespace {

class SplitPhotos : public test::CardFixture {
protected:
    void SetUp() override {
        CardFixture::SetUp();
        if (IsSkipped()) return;
        makeCard(64, 8, 16);
        ASSERT_TRUE(test::QuickFormatCard(image, 8, 16));
        cluster_ = clusterBytes();
    }
    // Bytes at the next free cluster; returns the number of clusters taken.
    std::uint64_t put(const std::string& bytes) {
        writeAtCluster(next_, bytes);
        const std::uint64_t n = (bytes.size() + cluster_ - 1) / cluster_;
        next_ += n;
        return n;
    }
    // Photo n in two pieces cut at a cluster boundary near its middle, `between` written between them.
    void putSplit(int n, const std::string& between) {
        photos[n] = test::MakeTestJpeg(n, 640, 480);
        const std::size_t cut = photos[n].size() / 2 / cluster_ * cluster_;
        put(photos[n].substr(0, cut));
        put(between);
        put(photos[n].substr(cut));
    }

    std::size_t cluster_ = 0;
    std::uint64_t next_ = 10;
};

TEST_F(SplitPhotos, PiecesAroundOtherDataOrAnotherPhotoAreJoined) {
    for (int n = 0; n < 30; ++n) putSplit(n, test::PatternBytes(cluster_ * (1 + n % 8), 500 + n));
    for (int n = 30; n < 50; ++n) {
        photos[100 + n] = test::MakeTestJpeg(100 + n, 320, 240);
        putSplit(n, photos[100 + n]);
    }
    auto ctx = context(formats::EveryTypeSelection());
    ASSERT_EQ(ScanDisk(ctx, reassembly::Reassemble), ScanOutcome::Finished);
    const std::vector<int> back = intact(ctx);
    int split = 0, between = 0;
    for (int n : back) (n < 100 ? split : between)++;
    EXPECT_GE(split, 45) << "of 50 split photos";  // all 50 come back today
    EXPECT_EQ(between, 20) << "the photos between the pieces stay whole";
    // No found file is a piece of another.
    EXPECT_EQ(back.size(), ctx.found.size());
}

// Megabytes of other files between the pieces: eight photos and a clip-sized
// run of other data, more than the near search steps over.
TEST_F(SplitPhotos, PiecesWithMegabytesOfOtherFilesBetweenAreJoined) {
    photos[0] = test::MakeTestJpeg(0, 800, 600);
    const std::size_t cut = photos[0].size() / 2 / cluster_ * cluster_;
    put(photos[0].substr(0, cut));
    for (int n = 1; n <= 8; ++n) {
        photos[n] = test::MakeTestJpeg(n, 1024, 768);
        put(photos[n]);
        if (n == 4) put(test::PatternBytes(3 << 20, 77));
    }
    put(photos[0].substr(cut));
    auto ctx = context(formats::EveryTypeSelection());
    ASSERT_EQ(ScanDisk(ctx, reassembly::Reassemble), ScanOutcome::Finished);
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

// Photos in three pieces whose middle one is shorter than a join reads
// ahead to judge it (a card of small holes): the middle piece reads cleanly
// up to its end, and the third is looked for from there.
TEST_F(SplitPhotos, AMiddlePieceShorterThanWhatAJoinReadsAheadIsJoined) {
    for (int n = 0; n < 3; ++n) {
        photos[n] = test::MakeTestJpeg(n, 1280, 960);
        const std::size_t first = photos[n].size() / 3 / cluster_ * cluster_, middle = (4 + 6 * n) * cluster_;
        ASSERT_LT(first + middle, photos[n].size());
        put(photos[n].substr(0, first));
        put(test::PatternBytes((3 + n) * cluster_, 600 + n));
        put(photos[n].substr(first, middle));
        put(test::PatternBytes((9 - n) * cluster_, 610 + n));
        put(photos[n].substr(first + middle));
    }
    auto ctx = context(formats::EveryTypeSelection());
    ASSERT_EQ(ScanDisk(ctx, reassembly::Reassemble), ScanOutcome::Finished);
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2}));
    for (const FoundFile& f : ctx.found) EXPECT_EQ(f.pieces, 3) << f.name;
}

// Two photos of one camera and one size, each cut at the same byte: the
// first piece of either with the second piece of the other decodes as a
// whole picture (they share their tables, and their data runs alike). The
// other photo's second piece lies nearer than its own: the photo's own
// thumbnail tells them apart.
TEST_F(SplitPhotos, SameSizedPhotosCutAtOneByteGetTheirOwnSecondPieces) {
    photos[33] = test::MakeTestJpeg(33, 1024, 768);
    photos[43] = test::MakeTestJpeg(43, 1024, 768);
    const std::size_t cut = 95 * 4096;
    ASSERT_EQ(cut % cluster_, 0u);
    const std::string chimera = photos[33].substr(0, cut) + photos[43].substr(cut);
    const formats::JpegCheck check =
        formats::CheckJpegBuffer(reinterpret_cast<const std::uint8_t*>(chimera.data()), chimera.size());
    ASSERT_TRUE(check.complete && check.warnings == 0 && check.end == chimera.size())
        << "the layout this test needs: the two halves decode as one picture";
    put(photos[33].substr(0, cut));
    put(test::PatternBytes(2 * cluster_, 700));
    put(photos[43].substr(cut));
    put(photos[43].substr(0, cut));
    put(test::PatternBytes(3 * cluster_, 701));
    put(photos[33].substr(cut));
    auto ctx = context(formats::EveryTypeSelection());
    ASSERT_EQ(ScanDisk(ctx, reassembly::Reassemble), ScanOutcome::Finished);
    EXPECT_EQ(intact(ctx), (std::vector<int>{33, 43}));
    for (const FoundFile& f : ctx.found) EXPECT_EQ(f.pieces, 2) << f.name;
}

// An older file of random bytes, 10 MB of it, between the pieces; one photo's
// second piece lies before its first (the allocation wrapped). Nothing
// found lies between them to step from: found by the scan as well as by the DeepScan.
TEST_F(SplitPhotos, PiecesTenMegabytesApartAreJoinedEitherWay) {
    photos[0] = test::MakeTestJpeg(0, 800, 600);
    photos[1] = test::MakeTestJpeg(1, 800, 600);
    const std::size_t cut0 = photos[0].size() / 2 / cluster_ * cluster_;
    const std::size_t cut1 = photos[1].size() / 3 / cluster_ * cluster_;
    put(test::PatternBytes(3 << 20, 78));
    const std::uint64_t secondOf1 = next_;
    next_ += (photos[1].size() - cut1 + cluster_ - 1) / cluster_;
    put(photos[0].substr(0, cut0));
    put(test::PatternBytes(10 << 20, 79));
    put(photos[0].substr(cut0));
    put(photos[1].substr(0, cut1));
    writeAtCluster(secondOf1, photos[1].substr(cut1));
    for (const bool deep : {false, true}) {
        SCOPED_TRACE(deep ? "DeepScan" : "scan");
        std::filesystem::remove_all(cache);
        std::filesystem::create_directories(cache);
        auto ctx = context(formats::EveryTypeSelection());
        ctx.options.deepScan = deep;
        ASSERT_EQ(ScanDisk(ctx, reassembly::Reassemble), ScanOutcome::Finished);
        EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1}));
    }
}

// A card whose file system is gone, written in 32 KiB blocks: its photos are
// found at sector boundaries, and the pieces of those written in two lie
// whole blocks apart.
class SplitPhotosInBlocks : public test::CardFixture {};

TEST_F(SplitPhotosInBlocks, AreJoinedAtTheBlockSizeTheirFilesShare) {
    constexpr std::size_t kBlock = 32768;
    std::string medium(kBlock, '\0');
    const auto put = [&](const std::string& bytes) {
        medium += bytes;
        medium.resize((medium.size() + kBlock - 1) / kBlock * kBlock, '\0');
    };
    const auto split = [&](int n, const std::string& between) {
        photos[n] = test::MakeTestJpeg(n, 1024, 768);
        ASSERT_GT(photos[n].size(), 2 * kBlock);
        const std::size_t cut = photos[n].size() / 2 / kBlock * kBlock;
        put(photos[n].substr(0, cut));
        put(between);
        put(photos[n].substr(cut));
    };
    for (int n = 0; n < 6; ++n) put(photos[n] = test::MakeTestJpeg(n, 800, 600));
    split(10, test::PatternBytes(kBlock, 10));
    split(11, test::PatternBytes(3 * kBlock, 11));
    split(12, std::string(2 * kBlock, '\0'));
    photos[20] = test::MakeTestJpeg(20, 640, 480);
    split(13, photos[20]);
    photos[21] = test::MakeTestJpeg(21, 640, 480);
    split(14, photos[21] + std::string(kBlock, '\x11'));
    // In three pieces, each gap of another kind.
    photos[15] = test::MakeTestJpeg(15, 1280, 960);
    const std::size_t third = photos[15].size() / 3 / kBlock * kBlock;
    ASSERT_GT(third, 0u);
    put(photos[15].substr(0, third));
    put(test::PatternBytes(2 * kBlock, 15));
    put(photos[15].substr(third, third));
    put(std::string(kBlock, '\0'));
    put(photos[15].substr(2 * third));
    // One whose second piece is gone: only its first piece comes back.
    const std::string lost = test::MakeTestJpeg(16, 1024, 768);
    const std::string firstPiece = lost.substr(0, lost.size() / 2 / kBlock * kBlock);
    put(firstPiece);
    put(test::PatternBytes(4 * kBlock, 16));
    put(std::string(8 * kBlock, '\0'));
    test::WriteFile(image, medium);

    output::ScanCommand command(ui, test::WholeScanRequest(image, cache));
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    const auto& ctx = command.context();
    EXPECT_EQ(reassembly::InferBlockUnits(ctx, ctx.geometry) * ctx.geometry.unitBytes(), kBlock);
    std::vector<int> all;
    for (const auto& [n, bytes] : photos) all.push_back(n);
    EXPECT_EQ(intact(ctx), all) << "every photo whole, the split ones joined, piece by piece";
    EXPECT_EQ(ctx.found.size(), photos.size() + 1) << "no piece or gap as a file of its own";
    int firstPieces = 0;
    for (const auto& f : ctx.found)
        if (test::ReadFile(cache / f.name) == firstPiece) {
            ++firstPieces;
            EXPECT_TRUE(f.damaged);
            EXPECT_EQ(f.size, firstPiece.size());
        }
    EXPECT_EQ(firstPieces, 1) << "the photo whose second piece is gone, without the noise after it";
}

TEST_F(SplitPhotos, WholePhotosAreLeftAlone) {
    for (int n = 0; n < 6; ++n) {
        photos[n] = test::MakeTestJpeg(n, 640, 480);
        put(photos[n]);
    }
    auto ctx = context(formats::EveryTypeSelection());
    ASSERT_EQ(ScanDisk(ctx, reassembly::Reassemble), ScanOutcome::Finished);
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    for (const auto& f : ctx.found) EXPECT_FALSE(f.damaged) << f.name;
    // Each was reported once as it was finished, in order.
    ASSERT_EQ(ui.filesFound.size(), ctx.found.size());
    for (std::size_t i = 0; i < ctx.found.size(); ++i) EXPECT_EQ(ui.filesFound[i].first, ctx.found[i].name);
}

}  // namespace
}  // namespace hx::scan
