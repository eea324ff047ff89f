#include <gtest/gtest.h>

#include "fixtures/MediaImages.h"
#include "fixtures/SampleFiles.h"
#include "fixtures/TestJpeg.h"
#include "fixtures/TestRaw.h"
#include "formats/FileStructure.h"

using namespace hx;
using namespace hx::formats;

namespace {

formats::FileStructure of(const std::string& bytes) {
    return formats::ReadFileStructure(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

struct Sample {
    const char* name;
    std::string bytes;
    formats::Proof proof;
};

std::vector<Sample> samples() {
    return {
        {"jpeg", test::MakeTestJpeg(3, 160, 120), formats::Proof::Content},
        {"png", test::MakePng(40, 30, 1), formats::Proof::Content},
        {"zip", test::MakeZip({{"a.txt", test::PatternBytes(5000, 2)}, {"b.bin", test::PatternBytes(3000, 3), false},
                               {"c.txt", std::string(20000, 'c')}}),
         formats::Proof::Content},
        {"heic", test::MakeHeic(9000, 4), formats::Proof::Layout},
        {"cr3", test::MakeCr3(9000, 5), formats::Proof::Layout},
        {"mp4", test::MakeMp4(9000, 6), formats::Proof::Layout},
        {"webp", test::MakeRiff("WEBP", "VP8 ", 7001, 7), formats::Proof::Layout},
        {"gif", test::MakeGif(60, 40, 8), formats::Proof::Layout},
        {"bmp", test::MakeBmp(30, 20, 9), formats::Proof::Layout},
        {"pdf", test::MakePdf(3000, 10), formats::Proof::Layout},
        {"tiff", test::RawBuilder().build(false, "NIKON", 3000, 4000), formats::Proof::Layout},
    };
}

}  // namespace

TEST(FileStructure, EachFormatEndsWhereItsStructureSaysEvenWithJunkAfterIt) {
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        EXPECT_TRUE(formats::HasFileStructure(reinterpret_cast<const std::uint8_t*>(s.bytes.data()), s.bytes.size()));
        const formats::FileStructure whole = of(s.bytes);
        EXPECT_EQ(whole.proof, s.proof);
        EXPECT_EQ(whole.end, s.bytes.size());
        // What follows a found file on a card: zeros, then another file's bytes.
        const formats::FileStructure followed = of(s.bytes + std::string(700, '\0') + test::PatternBytes(3000, 99));
        EXPECT_EQ(followed.proof, s.proof);
        EXPECT_EQ(followed.end, s.bytes.size());
    }
}

TEST(FileStructure, AFileCutShortHasNoStructure) {
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(of(s.bytes.substr(0, s.bytes.size() * 2 / 3)).proof, formats::Proof::None);
        EXPECT_EQ(of(s.bytes.substr(0, 9)).proof, formats::Proof::None);
    }
}

TEST(FileStructure, ChecksumsCatchAWrongPieceInTheMiddle) {
    // A cluster of another file where the middle should be: the layout may
    // still look right, but the content proof fails.
    for (const Sample& s : samples()) {
        if (s.proof != formats::Proof::Content) continue;
        SCOPED_TRACE(s.name);
        std::string bytes = s.bytes;
        const std::size_t at = bytes.size() / 2 - 256;
        bytes.replace(at, 512, test::PatternBytes(512, 1234));
        EXPECT_NE(of(bytes).proof, formats::Proof::Content);
    }
}

TEST(FileStructure, ZipEntriesThatCannotBeCheckedVouchOnlyForTheLayout) {
    std::string zip = test::MakeZip({{"secret.txt", test::PatternBytes(900, 5), false}});
    zip[6] = 1;                                          // local header: encrypted
    zip[zip.find("PK\x01\x02") + 8] = 1;                 // and in the directory
    const formats::FileStructure s = of(zip);
    EXPECT_EQ(s.proof, formats::Proof::Layout);
    EXPECT_EQ(s.end, zip.size());
    // A ZIP stored inside another: the outer one's directory decides its end.
    const std::string inner = test::MakeZip({{"in.txt", test::PatternBytes(400, 6)}});
    const std::string outer = test::MakeZip({{"inner.zip", inner, false}, {"x.txt", "hello"}});
    EXPECT_EQ(of(outer).end, outer.size());
    EXPECT_EQ(of(outer).proof, formats::Proof::Content);
}

TEST(FileStructure, BoxesWithSixtyFourBitSizesAndOldQuickTimeOpenings) {
    const std::string wide = test::MakeIsoFile("qt  ", {{"moov", std::string(300, 'm')}, {"mdat", std::string(5000, 'd')}},
                                               true);
    EXPECT_EQ(of(wide).end, wide.size());
    EXPECT_EQ(of(wide).proof, formats::Proof::Layout);
    // A QuickTime movie of old starts with "wide" or "mdat", not "ftyp".
    std::string old = wide.substr(wide.find("moov") - 4);
    old = std::string("\0\0\0\x08wide", 8) + old;
    EXPECT_EQ(of(old).end, old.size());
    // A box past the bytes there are: the file was cut.
    std::string cut = wide;
    cut[cut.size() - 5000 - 1] = 0x7F;  // the 64-bit size's low byte grows
    EXPECT_EQ(of(cut).proof, formats::Proof::None);
    // An "ftyp" alone is no file.
    EXPECT_EQ(of(test::MakeIsoFile("heic", {})).proof, formats::Proof::None);
}
