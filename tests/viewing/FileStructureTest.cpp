#include <gtest/gtest.h>

#include "fixtures/MediaImages.h"
#include "fixtures/SampleFiles.h"
#include "fixtures/TestJpeg.h"
#include "fixtures/TestRaw.h"
#include "viewing/FileStructure.h"

using namespace hx;
using namespace hx::viewing;

namespace {

FileStructure of(const std::string& bytes) {
    return ReadFileStructure(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

struct Sample {
    const char* name;
    std::string bytes;
    Proof proof;
};

std::vector<Sample> samples() {
    return {
        {"jpeg", test::MakeTestJpeg(3, 160, 120), Proof::Content},
        {"png", test::MakePng(40, 30, 1), Proof::Content},
        {"zip", test::MakeZip({{"a.txt", test::PatternBytes(5000, 2)}, {"b.bin", test::PatternBytes(3000, 3), false},
                               {"c.txt", std::string(20000, 'c')}}),
         Proof::Content},
        {"heic", test::MakeHeic(9000, 4), Proof::Layout},
        {"cr3", test::MakeCr3(9000, 5), Proof::Layout},
        {"mp4", test::MakeMp4(9000, 6), Proof::Layout},
        {"webp", test::MakeRiff("WEBP", "VP8 ", 7001, 7), Proof::Layout},
        {"gif", test::MakeGif(60, 40, 8), Proof::Layout},
        {"bmp", test::MakeBmp(30, 20, 9), Proof::Layout},
        {"pdf", test::MakePdf(3000, 10), Proof::Layout},
        {"tiff", test::RawBuilder().build(false, "NIKON", 3000, 4000), Proof::Layout},
    };
}

}  // namespace

TEST(FileStructure, EachFormatEndsWhereItsStructureSaysEvenWithJunkAfterIt) {
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        EXPECT_TRUE(HasFileStructure(reinterpret_cast<const std::uint8_t*>(s.bytes.data()), s.bytes.size()));
        const FileStructure whole = of(s.bytes);
        EXPECT_EQ(whole.proof, s.proof);
        EXPECT_EQ(whole.end, s.bytes.size());
        // What follows a found file on a card: zeros, then another file's bytes.
        const FileStructure followed = of(s.bytes + std::string(700, '\0') + test::PatternBytes(3000, 99));
        EXPECT_EQ(followed.proof, s.proof);
        EXPECT_EQ(followed.end, s.bytes.size());
    }
}

TEST(FileStructure, AFileCutShortHasNoStructure) {
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(of(s.bytes.substr(0, s.bytes.size() * 2 / 3)).proof, Proof::None);
        EXPECT_EQ(of(s.bytes.substr(0, 9)).proof, Proof::None);
    }
}

TEST(FileStructure, ChecksumsCatchAWrongPieceInTheMiddle) {
    // A cluster of another file where the middle should be: the layout may
    // still look right, but the content proof fails.
    for (const Sample& s : samples()) {
        if (s.proof != Proof::Content) continue;
        SCOPED_TRACE(s.name);
        std::string bytes = s.bytes;
        const std::size_t at = bytes.size() / 2 - 256;
        bytes.replace(at, 512, test::PatternBytes(512, 1234));
        EXPECT_NE(of(bytes).proof, Proof::Content);
    }
}

TEST(FileStructure, ZipEntriesThatCannotBeCheckedVouchOnlyForTheLayout) {
    std::string zip = test::MakeZip({{"secret.txt", test::PatternBytes(900, 5), false}});
    zip[6] = 1;                                          // local header: encrypted
    zip[zip.find("PK\x01\x02") + 8] = 1;                 // and in the directory
    const FileStructure s = of(zip);
    EXPECT_EQ(s.proof, Proof::Layout);
    EXPECT_EQ(s.end, zip.size());
    // A ZIP stored inside another: the outer one's directory decides its end.
    const std::string inner = test::MakeZip({{"in.txt", test::PatternBytes(400, 6)}});
    const std::string outer = test::MakeZip({{"inner.zip", inner, false}, {"x.txt", "hello"}});
    EXPECT_EQ(of(outer).end, outer.size());
    EXPECT_EQ(of(outer).proof, Proof::Content);
}

TEST(FileStructure, BoxesWithSixtyFourBitSizesAndOldQuickTimeOpenings) {
    const std::string wide = test::MakeIsoFile("qt  ", {{"moov", std::string(300, 'm')}, {"mdat", std::string(5000, 'd')}},
                                               true);
    EXPECT_EQ(of(wide).end, wide.size());
    EXPECT_EQ(of(wide).proof, Proof::Layout);
    // A QuickTime movie of old starts with "wide" or "mdat", not "ftyp".
    std::string old = wide.substr(wide.find("moov") - 4);
    old = std::string("\0\0\0\x08wide", 8) + old;
    EXPECT_EQ(of(old).end, old.size());
    // A box past the bytes there are: the file was cut.
    std::string cut = wide;
    cut[cut.size() - 5000 - 1] = 0x7F;  // the 64-bit size's low byte grows
    EXPECT_EQ(of(cut).proof, Proof::None);
    // An "ftyp" alone is no file.
    EXPECT_EQ(of(test::MakeIsoFile("heic", {})).proof, Proof::None);
}
