// Compound documents (Word, Excel, PowerPoint): found by their header, ended
// where their sector table says.
#include <gtest/gtest.h>

#include "fixtures/CardFixture.h"
#include "formats/Ole2End.h"
#include "scan/ScanState.h"

namespace hx::scan {
namespace {

void put32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// A compound file of `dataSectors` 512-byte sectors after its FAT and
// directory sectors, as a word processor writes a small document: one FAT
// sector, named in the header's DIFAT.
std::string compoundFile(std::uint32_t dataSectors, std::uint32_t key) {
    std::string h(512, '\0');
    const std::uint8_t magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(magic, magic + 8, h.begin());
    h[0x18] = 0x3E, h[0x1A] = 0x03;            // version 3
    h[0x1C] = '\xFE', h[0x1D] = '\xFF';        // byte order
    h[0x1E] = 9, h[0x20] = 6;                  // 512-byte sectors, 64-byte mini sectors
    put32(h, 0x2C, 1);                         // one FAT sector
    put32(h, 0x30, 1);                         // the directory in sector 1
    put32(h, 0x38, 4096);
    put32(h, 0x3C, 0xFFFFFFFE), put32(h, 0x44, 0xFFFFFFFE);
    put32(h, 0x4C, 0);                         // DIFAT[0]: the FAT in sector 0
    for (int i = 1; i < 109; ++i) put32(h, 0x4C + 4 * i, 0xFFFFFFFF);
    std::string fat(512, '\xFF');
    put32(fat, 0, 0xFFFFFFFD);                 // the FAT itself
    put32(fat, 4, 0xFFFFFFFE);                 // the directory: one sector
    for (std::uint32_t s = 2; s < dataSectors + 2; ++s) put32(fat, 4 * s, s + 1 < dataSectors + 2 ? s + 1 : 0xFFFFFFFE);
    std::string dir = std::string("R\0o\0o\0t\0 \0E\0n\0t\0r\0y\0", 20) + std::string(492, '\0');
    return h + fat + dir + test::PatternBytes(512 * dataSectors, key).replace(100, 9, "MSWordDoc");
}

TEST(Ole2, HeaderAndEndByTheSectorTable) {
    const std::string doc = compoundFile(21, 1);
    const auto* d = reinterpret_cast<const std::uint8_t*>(doc.data());
    EXPECT_TRUE(formats::IsOle2Header(d, doc.size()));
    std::string bad = doc;
    bad[0x1C] = 0;
    EXPECT_FALSE(formats::IsOle2Header(reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size()));
    // Fed unit by unit with junk behind it, it ends exactly at its last sector.
    const std::string stream = doc + test::PatternBytes(5000, 2);
    formats::Ole2EndFinder end(d);
    std::size_t kept = 0;
    bool ends = false;
    for (std::size_t at = 0; at < stream.size() && !ends; at += 4096)
        kept += end.feed(reinterpret_cast<const std::uint8_t*>(stream.data()) + at, std::min<std::size_t>(4096, stream.size() - at), ends);
    EXPECT_TRUE(ends);
    EXPECT_EQ(kept, doc.size());
}

using Ole2Card = test::CardFixture;

TEST_F(Ole2Card, SmallDocumentsAreFoundWhole) {
    makeCard();
    const std::string small = compoundFile(7, 3), larger = compoundFile(60, 4);
    ASSERT_TRUE(test::FatPutFile(image, "letter.doc", small));
    ASSERT_TRUE(test::FatPutFile(image, "junk.bin", test::PatternBytes(20000, 5)));
    ASSERT_TRUE(test::FatPutFile(image, "report.doc", larger));
    ASSERT_TRUE(test::QuickFormatCard(image));
    auto ctx = context(SelectionForTypes({"DOC"}));
    ASSERT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    std::vector<std::string> docs;
    for (const auto& f : ctx.found) docs.push_back(test::ReadFile(cache / f.name));
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_TRUE(docs[0] == small);
    EXPECT_TRUE(docs[1] == larger);
}

}  // namespace
}  // namespace hx::scan
