#include <gtest/gtest.h>

#include "fixtures/TempDir.h"
#include "media/SectorIo.h"
#include "platform/RawFile.h"

using namespace hx;

TEST(SectorIo, ReadsWholeSectorsFromAnImage) {
    test::TempDir dir;
    std::string bytes(4096, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i / 512 + 1);
    test::WriteFile(dir / "card.img", bytes);
    const std::string img = (dir / "card.img").string();

    std::uint32_t got = 99;
    EXPECT_TRUE(media::ReadSectors(img, 0, 0, 0, got, 512).empty());
    EXPECT_EQ(got, 0u);

    // An offset of 100 and 512 bytes spans two sectors, starting at the LBA.
    auto two = media::ReadSectors(img, 2, 100, 512, got, 512);
    ASSERT_EQ(two.size(), 1024u);
    EXPECT_EQ(got, 1024u);
    EXPECT_EQ(two[0], 3);
    EXPECT_EQ(two[1023], 4);

    // Past the end: a short read is reported, not an error.
    auto tail = media::ReadSectors(img, 7, 0, 1024, got, 512);
    EXPECT_EQ(got, 512u);

    EXPECT_TRUE(media::ReadSectors((dir / "missing.img").string(), 0, 0, 512, got, 512).empty());
    EXPECT_EQ(got, 0u);
}

TEST(SectorIo, TruncateOnlyShortens) {
    test::TempDir dir;
    test::WriteFile(dir / "f", std::string(1000, 'x'));
    media::TruncateFile((dir / "f").string(), 5000);
    EXPECT_EQ(std::filesystem::file_size(dir / "f"), 1000u);
    media::TruncateFile((dir / "f").string(), 10);
    EXPECT_EQ(std::filesystem::file_size(dir / "f"), 10u);
}
