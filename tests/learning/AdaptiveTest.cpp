// QX Adaptive: the learned-type record on disk, the learning helpers, and a
// type learned from samples that a scan then finds.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "fixtures/CardFixture.h"
#include "fixtures/SampleFiles.h"
#include "learning/AdaptiveLearning.h"
#include "learning/AdaptiveRecord.h"
#include "learning/AdaptiveTypes.h"
#include "scan/ScanDisk.h"
#include "scan/ScanState.h"

namespace hx {
namespace fs = std::filesystem;


TEST(AdaptiveRecord, WrittenAndReadBackByteForByteAndTheLogWraps) {
    test::TempDir dir;
    // Missing: an empty record.
    const learning::AdaptiveTypeRecord empty = learning::LoadAdaptiveRecord(dir.path(), "QX_none.dat");
    EXPECT_TRUE(empty.Extension.empty());
    EXPECT_TRUE(empty.HeadPattern[0].empty());
    EXPECT_EQ(empty.Hits[5], 0);

    learning::AdaptiveTypeRecord r;
    r.Extension = ".abc";
    r.DisplayName = learning::AdaptiveDisplayName(".abcdefghij");
    EXPECT_EQ(r.DisplayName, "ABCDEFGH  ");
    r.HeadPattern[0] = std::string("\x00\xff\x80\x7f", 4);
    r.BodyPattern[5] = std::string(1000, '\0') + "\xfe";
    r.TailBody[2] = "\x01\x02";
    r.SizeOffset[1] = 8;
    r.SizeKind[1] = 2;
    r.Hits = {1, -2, 3, 70000, 5, 6};
    r.Samples[3] = 123456;
    r.CurrentSlot = 4;
    r.TailStart = {1, 1, 2, 3, 1, 16};
    ASSERT_TRUE(learning::SaveAdaptiveRecord(dir.path(), "QX_abc.dat", r));
    EXPECT_EQ(learning::LoadAdaptiveRecord(dir.path(), "QX_abc.dat"), r);
    const std::string bytes = test::ReadFile(dir / "QX_abc.dat");
    EXPECT_EQ(bytes.substr(0, 6), std::string("\x04\x00.abc", 6));  // 16-bit length, then the bytes
    EXPECT_EQ(bytes.substr(6, 10), "ABCDEFGH  ");
    // A record cut short reads what is there, and 0 or empty after.
    const auto cut = learning::DecodeAdaptiveRecord(bytes.substr(0, 20));
    EXPECT_EQ(cut.Extension, ".abc");
    EXPECT_EQ(cut.Hits[0], 0);

    for (int i = 0; i < 101; ++i) ASSERT_TRUE(learning::LogSample(dir.path(), "abc", "head" + std::to_string(i), "block"));
    const auto log = learning::DecodeSampleLog(test::ReadFile(dir / "QXAnalyze_abc.dat"));
    EXPECT_EQ(log.NextIndex, 1);  // entry 99, then 0, then 1
    EXPECT_EQ(log.SampleHead[0], "head100");
    EXPECT_EQ(log.SampleHead[99], "head99");
    EXPECT_EQ(log.Extension, ".abc ");
}

TEST(AdaptiveLearning, HelpersFindWhatSamplesShare) {
    EXPECT_EQ(learning::CommonPrefix("ABCDEF", "ABC"), "ABC");
    EXPECT_EQ(learning::CommonPrefix("ABXDEF", "ABCD"), "AB");
    EXPECT_EQ(learning::CommonPrefix("XBC", "ABC"), "");
    int start = 0;
    EXPECT_EQ(learning::LongestCommonSubstring("xxHELLOyyWORLD", "WORLD..HELLO", start), "HELLO");
    EXPECT_EQ(start, 3);
    EXPECT_EQ(learning::LongestCommonSubstring("", "abc", start), "");
    start = 1;
    EXPECT_EQ(learning::AlignedCommonRun("abXdef", "abYdef", start), "def");  // first of the longest? both 2 and 3
    EXPECT_EQ(start, 4);
    start = 5;
    EXPECT_EQ(learning::AlignedCommonRun("abc", "xyz", start), "");
    EXPECT_EQ(start, 6);
    // A BMP-like header: its length at offset 2, 32-bit little-endian.
    std::string bmp(1024, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[2] = 0x36;
    bmp[3] = 0x10;
    EXPECT_EQ(learning::FindSizeField(bmp, 0x1036), std::make_pair(2, 2));
    // The halves swapped, at offset 6.
    std::string swapped(1024, '\x11');
    swapped[6] = 0x01;
    swapped[7] = 0x00;
    swapped[8] = 0x34;
    swapped[9] = 0x12;
    EXPECT_EQ(learning::FindSizeField(swapped, 0x11234), std::make_pair(6, 1));
    EXPECT_EQ(learning::FindSizeField(std::string(1024, '\x11'), 99), std::make_pair(0, 0));
}

class AdaptiveScan : public test::CardFixture {};

TEST_F(AdaptiveScan, ATypeLearnedFromSamplesIsListedAndFoundFirstByAScan) {
    // 36 samples in a folder, of lengths from 2 KB to 60 KB; two files too short to count.
    test::TempDir samples;
    for (unsigned i = 0; i < 36; ++i) test::WriteFile(samples / ("s" + std::to_string(i) + ".hxq"), test::MakeLearnableSample(i, 2000 + i * 1700));
    test::WriteFile(samples / "short.hxq", test::MakeLearnableSample(99, 1023));
    test::TempDir learned;
    std::vector<std::string> statuses;
    learning::LearnOptions options;
    options.progress = [&](std::size_t, std::size_t, const std::string& status) {
        statuses.push_back(status);
        return true;
    };
    const auto result = learning::LearnFromFiles(learned.path(), learning::GatherFolder(samples.path()), options);
    EXPECT_EQ(result.types, std::vector<std::string>{"hxq"});
    EXPECT_EQ(result.samples, 36u);
    ASSERT_TRUE(fs::exists(learned / "QX_hxq.dat"));
    EXPECT_TRUE(fs::exists(learned / "QXAnalyze_hxq.dat"));
    // ".hxq#5 Analized: 31 reliability: 96.77%": the slot counted last, shown as it goes.
    EXPECT_NE(statuses.back().find(" Analized: "), std::string::npos) << statuses.back();
    EXPECT_EQ(statuses.back().rfind(".hxq#", 0), 0u) << statuses.back();

    const auto variants = learning::ListLearnedVariants(learned.path());
    ASSERT_EQ(variants.size(), 1u);
    EXPECT_EQ(variants[0].type, "hxq");
    EXPECT_EQ(variants[0].head, 8u);  // the magic; the length differs from file to file
    // The first samples each open a slot of their own; those slots are dropped
    // at the end for want of hits, and the rest count in one.
    EXPECT_GE(variants[0].samples, 30);
    EXPECT_GT(variants[0].reliability, 90.0);
    const auto record = learning::LoadAdaptiveRecord(learned.path(), "QX_hxq.dat");
    EXPECT_EQ(record.SizeOffset[static_cast<std::size_t>(variants[0].slot)], 8);
    EXPECT_EQ(record.SizeKind[static_cast<std::size_t>(variants[0].slot)], 2);

    // Learned again during a scan (automatic: nothing shown) from more samples: the same type, more samples.
    test::TempDir more;
    for (unsigned i = 0; i < 40; ++i)
        test::WriteFile(more / ("m" + std::to_string(i) + ".hxq"), test::MakeLearnableSample(200 + i, 2500 + i * 777));
    learning::LearnOptions automatic;
    automatic.automatic = true;
    EXPECT_EQ(learning::LearnFromFiles(learned.path(), learning::GatherTypes({more.path()}, {"hxq"}), automatic).samples, 40u);
    const auto again = learning::ListLearnedVariants(learned.path());
    ASSERT_EQ(again.size(), 1u);
    EXPECT_GT(again[0].samples, variants[0].samples);

    // A card with such files and a photo; the learned rows come before the built-in ones.
    makeCard(64, 4, 16);
    std::vector<std::string> files;
    for (unsigned i = 0; i < 5; ++i) {
        files.push_back(test::MakeLearnableSample(100 + i, 3000 + i * 5000));
        ASSERT_TRUE(test::FatPutFile(image, "DATA" + std::to_string(i) + ".HXQ", files.back()));
    }
    putPhoto(1, 320, 240);
    auto ctx = context("");
    ctx.table = learning::TableWithLearned(learned.path(), variants, scan::SelectionForTypes({"jpg"}));
    ASSERT_GE(ctx.table.size(), 2u);
    EXPECT_EQ(ctx.table[0].Extension, ".hxq");
    EXPECT_EQ(ctx.table[0].Aux1, 8);
    scan::ScanDisk(ctx);
    std::multiset<std::string> found;
    for (const auto& name : ctx.FoundNames())
        if (fs::path(name).extension() == ".hxq") found.insert(test::ReadFile(cache / name));
    EXPECT_EQ(found, std::multiset<std::string>(files.begin(), files.end()));
    EXPECT_EQ(intact(ctx), std::vector<int>{1});
}

}  // namespace hx
