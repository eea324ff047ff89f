#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string_view>
#include <vector>

#include "scan/ScanState.h"
#include "scan/SignatureMatcher.h"
#include "formats/SignatureTable.h"
#include "formats/TypePresets.h"
#include "formats/Formats.h"

using namespace hx;
using namespace hx::scan;

TEST(SignatureTable, HexReadingKeepsALoneLastDigitAsOneByte) {
    EXPECT_EQ(formats::HexToBytes("000001B"), std::string("\x00\x00\x01\x0B", 4));
    EXPECT_EQ(formats::HexToBytes("C384250"), std::string("\xC3\x84\x25\x00", 4));
    EXPECT_EQ(formats::HexToBytes("ffd8"), std::string("\xFF\xD8"));
    EXPECT_EQ(formats::HexToBytes(""), "");
}

TEST(SignatureTable, AllGivesEightyFourRowsAndTheDocumentsLongSecondSignature) {
    const auto table = formats::BuildSignatureTable("all");
    ASSERT_EQ(table.size(), 84u);
    for (const auto& r : table) {
        EXPECT_EQ(r.DisplayName.size(), 10u) << r.Extension;
        EXPECT_FALSE(r.Signature1.empty());
    }
    const auto doc = formats::BuiltInRow(52);
    ASSERT_EQ(doc.Signature2.size(), 294u);
    EXPECT_EQ(doc.Signature2.substr(0, 292), std::string(292, '\xFF'));
    EXPECT_EQ(doc.Signature2.substr(292), std::string(2, '\0'));
    EXPECT_EQ(doc.Signature4, "MSWordDoc");
    for (int n : {0, 53, 56, 61, 85, 89, 90}) EXPECT_TRUE(formats::BuiltInRow(n).Extension.empty()) << n;
}

TEST(SignatureTable, SelectionByKey) {
    EXPECT_TRUE(formats::BuildSignatureTable("").empty());
    const auto jpeg = formats::BuildSignatureTable("|.jpgJPEG File |");
    EXPECT_EQ(jpeg.size(), 12u);  // rows 1-11 and 79, not the JFIF row
    for (const auto& r : jpeg) EXPECT_EQ(r.key(), ".jpgJPEG File ");
    EXPECT_EQ(formats::BuildSignatureTable(".dngOlympus Rw").size(), 1u);
    // Case matters, and a key must be whole.
    EXPECT_TRUE(formats::BuildSignatureTable(".JPGJPEG File ").empty());
    EXPECT_EQ(formats::BuildSignatureTable(".gifGIF  File ").size(), 2u);
}

TEST(SignatureTable, PlacementComparesOnlyTheLastNeighbour) {
    // Row 1 (weight 4*8) loses against every heavier newcomer and sinks one
    // slot at a time to the end; the others keep their order.
    const auto t = formats::BuildSignatureTable(".jpgJPEG File ");
    ASSERT_EQ(t.size(), 12u);
    EXPECT_EQ(t[0].Signature1, formats::HexToBytes("FFD8FFC0"));
    EXPECT_EQ(t[1].Signature1, formats::HexToBytes("FFD8DDE0"));
    EXPECT_EQ(t[11].Signature1, formats::HexToBytes("FFD8FFDB00C50010"));
    EXPECT_EQ(t[10].Signature1, formats::HexToBytes("FFD8FFE2"));
    // A lighter newcomer stays behind: row 27 (4D4D002A) after row 26.
    const auto tiffs = formats::BuildSignatureTable(".tifTIFF File ");
    ASSERT_EQ(tiffs.size(), 2u);
    EXPECT_EQ(tiffs[0].Signature1, formats::HexToBytes("4D4D002A"));  // 16 < 32: swapped
}

TEST(SignatureTable, ScanOrderPutsSpecificVariantsFirst) {
    formats::SignatureTable t = formats::BuildSignatureTable(".tifTIFF File .dngDNG gnrc1 .dngDNG gnrc2 .dngOlympus Rw.pefPentax Raw");
    formats::OrderForScan(t);
    auto pos = [&t](const std::string& name, const std::string& sig1) {
        for (std::size_t i = 0; i < t.size(); ++i)
            if (t[i].DisplayName == formats::FixedName(name) && t[i].Signature1 == formats::HexToBytes(sig1)) return static_cast<int>(i);
        return -1;
    };
    const int gnrc1 = pos("DNG gnrc1", "4D4D002A01"), mmTiff = pos("TIFF File", "4D4D002A");
    const int gnrc2 = pos("DNG gnrc2", "4D4D002A0000000800"), olympus = pos("Olympus Rw", "4D4D002A0000000800");
    ASSERT_TRUE(gnrc1 >= 0 && mmTiff >= 0 && gnrc2 >= 0 && olympus >= 0);
    EXPECT_LT(gnrc1, mmTiff);
    EXPECT_LT(olympus, gnrc2);
    EXPECT_LT(pos("Pentax Raw", "4D4D002A0000000800"), gnrc2);
    // Every row with a first signature that extends another comes before it.
    for (std::size_t j = 0; j < t.size(); ++j)
        for (std::size_t i = 0; i < j; ++i)
            EXPECT_FALSE(t[j].Signature1.size() > t[i].Signature1.size() &&
                         t[j].Signature1.compare(0, t[i].Signature1.size(), t[i].Signature1) == 0)
                << j << " after " << i;
}

TEST(SignatureTable, SelectionsFromTypeNamesAndPresets) {
    EXPECT_EQ(formats::BuildSignatureTable(SelectionForTypes({"JPG"})).size(), 13u);  // both JPEG and JFIF keys
    EXPECT_EQ(formats::BuildSignatureTable(SelectionForTypes({".cr2", "nef"})).size(), 4u);
    EXPECT_TRUE(formats::BuildSignatureTable(SelectionForTypes({"xyz"})).empty());
    // The extensions of the type-list rows a preset ticks.
    auto rows = [](const std::string& preset) {
        std::set<std::string> out;
        for (const auto& row : formats::BuildSignatureTable(SelectionForTypes(formats::PresetTypes(preset)))) out.insert(row.Extension);
        return out;
    };
    auto ticks = [&](const std::string& preset, std::initializer_list<const char*> wanted, bool all = true) {
        const auto got = rows(preset);
        for (const char* e : wanted)
            EXPECT_EQ(got.count(e) > 0, all) << preset << " " << e;
    };
    // Every row of a family is in its preset: a format added to the registry is too.
    for (const auto& f : hx::formats::Formats())
        for (const auto& sig : f.signatures) {
            const std::string e(sig.extension);
            if (f.family == hx::formats::Family::Photo || f.family == hx::formats::Family::Raw) {
                EXPECT_TRUE(rows("All picture types").count(e)) << e;
            }
            if (f.family == hx::formats::Family::Movie) {
                EXPECT_TRUE(rows("All movie types").count(e)) << e;
            }
            for (std::string_view maker : f.makers) EXPECT_TRUE(rows(std::string(maker)).count(e)) << maker << " " << e;
        }
    ticks("All picture types", {".heic", ".heif", ".avif", ".webp", ".jxl", ".cr3", ".arw", ".jpg", ".thm"});
    ticks("All picture types", {".mp4", ".zip"}, false);
    ticks("All movie types", {".mp4", ".m4v", ".3gp", ".mov", ".avi"});
    ticks("All raw types", {".cr2", ".nef", ".tif", ".dng"});
    ticks("All raw types", {".jpg", ".mp4"}, false);
    ticks("Phone", {".jpg", ".heic", ".dng", ".mp4", ".mov"});
    ticks("Phone", {".cr2", ".nef", ".zip"}, false);
    ticks("Canon", {".cr2", ".crw", ".cr3", ".jpg", ".thm", ".mov", ".mp4"});
    ticks("canon", {".nef", ".arw"}, false);
    ticks("Sony", {".arw", ".srf", ".sr2", ".jpg", ".mp4"});
    ticks("Unlisted camera", {".jpg", ".tif", ".mov"});
    ticks("All camera's", {".cr3", ".nef", ".rdc", ".jpg"});
    for (const std::string& maker : formats::CameraMakers()) EXPECT_FALSE(rows(maker).empty()) << maker;
    EXPECT_TRUE(formats::PresetTypes("Polaroid").empty());
}

// The matcher's lists by byte must give the row a walk of every row from the
// top would. Each window holds the signatures of two rows where they fit
// together, so that rows of one first byte, and box types beside plain ones,
// compete; with and without their second signatures, over noise or zeros.
TEST(SignatureTable, MatcherFindsTheFirstMatchingRowInTableOrder) {
    auto table = formats::BuildSignatureTable(formats::EveryTypeSelection());
    formats::OrderForScan(table);
    ASSERT_TRUE(std::any_of(table.begin(), table.end(), [](const formats::SignatureRow& r) { return r.SignatureOffset > 0; }));
    SignatureMatcher matcher;
    matcher.build(table);
    auto walk = [&table](const std::vector<std::uint8_t>& w) {
        const std::string_view window(reinterpret_cast<const char*>(w.data()), kSignatureWindow);
        for (std::size_t i = 0; i < table.size(); ++i) {
            const formats::SignatureRow& row = table[i];
            if (row.Signature1.empty() || row.SignatureOffset + row.Signature1.size() > kSignatureWindow) continue;
            if (window.substr(row.SignatureOffset, row.Signature1.size()) != row.Signature1) continue;
            const std::size_t from = row.Signature1.size() / 2 >= 1 ? row.Signature1.size() / 2 - 1 : 0;
            if (row.Signature2.empty() || window.find(row.Signature2, from) != std::string_view::npos)
                return static_cast<int>(i);
        }
        return -1;
    };
    // Puts `bytes` at `at` unless they clash with what `placed` says is there already.
    auto put = [](std::vector<std::uint8_t>& w, std::vector<bool>& placed, const std::string& bytes, std::size_t at) {
        for (std::size_t k = 0; k < bytes.size(); ++k)
            if (placed[at + k] && w[at + k] != static_cast<std::uint8_t>(bytes[k])) return false;
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            w[at + k] = static_cast<std::uint8_t>(bytes[k]);
            placed[at + k] = true;
        }
        return true;
    };
    std::mt19937 random(7);
    int competing = 0;
    for (const formats::SignatureRow& a : table)
        for (const formats::SignatureRow& b : table)
            for (int variant = 0; variant < 4; ++variant) {
                std::vector<std::uint8_t> w(kSignatureWindow);
                for (auto& byte : w) byte = static_cast<std::uint8_t>(variant < 2 ? random() : 0);
                std::vector<bool> placed(kSignatureWindow);
                if (!put(w, placed, a.Signature1, a.SignatureOffset) || !put(w, placed, b.Signature1, b.SignatureOffset))
                    continue;
                if (variant % 2 == 0) {
                    put(w, placed, a.Signature2, 300);
                    put(w, placed, b.Signature2, 600);
                }
                const int expected = walk(w);
                EXPECT_EQ(matcher.match(w.data()), expected) << a.Extension << " beside " << b.Extension;
                if (&a != &b && expected >= 0) ++competing;
            }
    EXPECT_GT(competing, 100);
    const std::vector<std::uint8_t> blank(kSignatureWindow);
    EXPECT_EQ(matcher.match(blank.data()), walk(blank));
}
