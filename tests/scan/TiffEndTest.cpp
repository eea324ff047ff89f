#include <gtest/gtest.h>

#include <random>

#include "fixtures/CardFixture.h"
#include "scan/TiffEnd.h"

using namespace hx;
using namespace hx::scan;

namespace {

// A camera raw as the cameras lay it out: IFD0 with make and a JPEG preview
// strip, a sub-directory for the raw strips, the raw data last.
struct RawBuilder {
    bool little = true;
    std::string out;

    void u16(std::uint32_t v) {
        if (little) out += {char(v), char(v >> 8)};
        else out += {char(v >> 8), char(v)};
    }
    void u32(std::uint32_t v) {
        if (little) out += {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        else out += {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    }
    void entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        u16(tag), u16(type), u32(count);
        if (type == 3 && count == 1) u16(value), u16(0);
        else u32(value);
    }
    void pad(std::size_t to) { out.resize(std::max(out.size(), to), '\0'); }

    // preview and two raw strips; `next` is IFD0's next-directory pointer (0: none).
    std::string build(bool cr2, const std::string& make, std::size_t previewBytes, std::size_t stripBytes,
                      std::uint32_t next = 0) {
        out = little ? "II" : "MM";
        u16(42);
        u32(cr2 ? 16 : 8);
        if (cr2) out += "CR\x02", out += '\0', u32(0);
        const std::uint32_t ifd0 = static_cast<std::uint32_t>(out.size());
        const std::uint32_t makeAt = ifd0 + 2 + 5 * 12 + 4;
        const std::uint32_t previewAt = makeAt + 32;
        const std::uint32_t subAt = previewAt + static_cast<std::uint32_t>(previewBytes);
        const std::uint32_t arraysAt = subAt + 2 + 3 * 12 + 4;
        const std::uint32_t stripAt = arraysAt + 16;
        u16(5);
        entry(0x10F, 2, static_cast<std::uint32_t>(make.size() + 1), makeAt);
        entry(0x111, 4, 1, previewAt);
        entry(0x117, 4, 1, static_cast<std::uint32_t>(previewBytes));
        entry(0x103, 3, 1, 6);
        entry(0x14A, 4, 1, subAt);
        u32(next);
        out += make;
        pad(previewAt);
        out += "\xFF\xD8\xFF\xDB";
        pad(subAt);
        u16(3);
        entry(0x103, 3, 1, 1);
        entry(0x111, 4, 2, arraysAt);
        entry(0x117, 4, 2, arraysAt + 8);
        u32(0);
        u32(stripAt), u32(stripAt + static_cast<std::uint32_t>(stripBytes));
        u32(static_cast<std::uint32_t>(stripBytes)), u32(static_cast<std::uint32_t>(stripBytes));
        std::mt19937 rnd(static_cast<unsigned>(previewBytes + stripBytes));
        while (out.size() < stripAt + 2 * stripBytes) out += static_cast<char>(rnd() | 1);
        return out;
    }
};

std::uint64_t endOf(const std::string& bytes) {
    return TiffFileEnd(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
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
    EXPECT_EQ(test::ReadFile(cache / ctx.FoundNames[0]), cr2);
    EXPECT_EQ(test::ReadFile(cache / ctx.FoundNames[1]), nef);
    EXPECT_EQ(ctx.found[1].size, nef.size());
}
