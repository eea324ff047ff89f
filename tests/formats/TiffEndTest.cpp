#include <gtest/gtest.h>

#include <random>

#include "fixtures/CardFixture.h"
#include "fixtures/TestRaw.h"
#include "formats/TiffEnd.h"

using namespace hx;
using namespace hx::formats;
using namespace hx::scan;
using hx::test::RawBuilder;

namespace {

std::uint64_t endOf(const std::string& bytes) {
    return formats::TiffFileEnd(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(TiffEnd, RawsEndAtTheirFurthestStrip) {
    RawBuilder b;
    const std::string cr2 = b.build(true, "Canon", 20000, 300000);
    EXPECT_EQ(endOf(cr2 + std::string(5000, 'J')), cr2.size());
    b.little = false;
    const std::string nef = b.build(false, "NIKON CORPORATION", 9000, 123457);
    EXPECT_EQ(endOf(nef + std::string(777, '\0')), nef.size());
    // Cut short: the structure reaches past the bytes given, so no end is claimed within them.
    EXPECT_EQ(endOf(nef.substr(0, 200)), 0u);
    EXPECT_EQ(endOf("not a tiff at all"), 0u);
}

TEST(TiffEnd, LoopingOrBrokenDirectoriesAreBounded) {
    RawBuilder b;
    // IFD0 names itself as the next directory: walked once.
    std::string loop = b.build(false, "Canon", 100, 1000, 8);
    EXPECT_EQ(endOf(loop), loop.size());
    // A next directory past the end leaves the end unknown.
    std::string broken = b.build(false, "Canon", 100, 1000, 0x7FFFFFF0);
    EXPECT_EQ(endOf(broken), 0u);
    // An absurd entry count.
    std::string wide = "II*\0\x08\0\0\0\xFF\xFF";
    EXPECT_EQ(endOf(wide), 0u);
}

// On a formatted card nothing lists the raw's size: its own directories end it.
using TiffEndOnCard = test::CardFixture;
TEST_F(TiffEndOnCard, AScannedRawLeavesTheClusterSlackBehind) {
    makeCard();
    RawBuilder b;
    const std::string cr2 = b.build(true, "Canon", 40000, 200001);
    b.little = false;
    const std::string nef = b.build(false, "NIKON CORPORATION", 30000, 150003);
    ASSERT_TRUE(test::FatPutFile(image, "IMG_0001.CR2", cr2 + std::string(3000, 'x')));  // the slack holds old data
    ASSERT_TRUE(test::FatPutFile(image, "DSC_0002.NEF", nef));
    ASSERT_TRUE(test::QuickFormatCard(image));

    auto ctx = context("|.cr2Canon Raw .nefNikon Raw |");
    ASSERT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    ASSERT_EQ(ctx.found.size(), 2u);
    EXPECT_EQ(test::ReadFile(cache / ctx.FoundNames()[0]), cr2);
    EXPECT_EQ(test::ReadFile(cache / ctx.FoundNames()[1]), nef);
    EXPECT_EQ(ctx.found[1].size, nef.size());
}
