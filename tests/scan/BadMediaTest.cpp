// Media whose file system cannot be used: cut short, a boot sector that
// points past the end, an exFAT header gone wrong. The scan still searches
// the whole medium and finds every whole photo in it; the undelete says why
// it cannot list anything; the medium is never written.
#include <gtest/gtest.h>

#include <set>

#include "fixtures/CardFixture.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "fixtures/UndeleteFixtures.h"
#include "output/ScanCommand.h"
#include "formats/SignatureTable.h"
#include "undelete/QuickUndelete.h"

namespace hx::scan {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    std::set<std::string> found;  // contents of the found files
    std::vector<std::string> said;
};

Outcome scanAndList(const fs::path& image, const fs::path& cache) {
    Outcome o;
    const std::string before = test::ReadFile(image);
    test::ScriptedUi ui;
    output::ScanRequest req = test::WholeScanRequest(image, cache);
    output::ScanCommand command(ui, req);
    EXPECT_EQ(command.run(), ScanOutcome::Finished) << image;
    for (const auto& name : command.context().FoundNames()) o.found.insert(test::ReadFile(cache / name));
    undelete::QuickUndelete listing(ui);
    EXPECT_FALSE(listing.run({image.string(), "all", 0, 0, {}}));
    for (const auto& m : ui.messages) o.said.push_back(m.text);
    o.said.insert(o.said.end(), ui.statuses.begin(), ui.statuses.end());
    EXPECT_TRUE(test::ReadFile(image) == before) << image << " was written";
    return o;
}

bool saidContaining(const Outcome& o, const std::string& part) {
    for (const auto& s : o.said)
        if (s.find(part) != std::string::npos) return true;
    return false;
}

TEST(BadMedia, ImagesCutShortAreSearchedToTheirEndAndTheUndeleteSaysWhy) {
    test::TempDir dir("hx-bad-media");
    for (auto [bits, cut] : {std::pair{12, 12'009u}, std::pair{16, 40'000u}}) {
        SCOPED_TRACE(bits);
        const fs::path image = test::MakeFatImage(dir / ("cut" + std::to_string(bits) + ".img"), {.fatBits = bits});
        REQUIRE_IMAGE(image);
        fs::resize_file(image, cut);
        const Outcome o = scanAndList(image, dir / ("cache" + std::to_string(bits)));
        EXPECT_TRUE(saidContaining(o, "The whole medium is searched"));
        EXPECT_TRUE(saidContaining(o, "The file system of " + image.string() + " cannot be read"));
    }
}

TEST(BadMedia, ABootSectorThatPointsPastTheEndLeavesThePhotosToTheScan) {
    test::TempDir dir("hx-bad-boot");
    const fs::path image = test::MakeFatImage(dir / "card.img", {.fatBits = 16, .sizeKiB = 16384, .sectorsPerCluster = 4});
    REQUIRE_IMAGE(image);
    const std::string a = test::MakeTestJpeg(71, 640, 480), b = test::MakeTestJpeg(72, 480, 360);
    ASSERT_TRUE(test::FatPutFile(image, "DCIM/A.JPG", a));
    ASSERT_TRUE(test::FatPutFile(image, "DCIM/B.JPG", b));
    // Reserved sectors 0xFFFF: the tables and the data would begin past the card's end.
    test::PatchFile(image, 14, std::string("\xFF\xFF", 2));
    const Outcome o = scanAndList(image, dir / "cache");
    EXPECT_TRUE(o.found.count(a));
    EXPECT_TRUE(o.found.count(b));
    EXPECT_TRUE(saidContaining(o, "the whole medium is searched") || saidContaining(o, "The whole medium is searched"));
    EXPECT_TRUE(saidContaining(o, "A scan still searches the whole medium"));
}

TEST(BadMedia, AnExfatCardWithADamagedHeapOffsetGivesItsPhotosToTheScan) {
    const std::string why = test::FuseUnavailableReason(true);
    if (!why.empty()) GTEST_SKIP() << why;
    if (!test::HaveTool("mount.exfat-fuse")) GTEST_SKIP() << "exfat-fuse missing";
    test::TempDir dir("hx-bad-exfat");
    const fs::path image = test::MakeExFatImage(dir / "card.img", {24, 4096, ""});
    REQUIRE_IMAGE(image);
    const std::string a = test::MakeTestJpeg(73, 640, 480);
    ASSERT_TRUE(test::ExFatPutFile(image, "DCIM/A.JPG", a));
    test::PatchFile(image, 88, std::string("\xFF\xFF\xFF\x7F", 4));  // the cluster heap's offset
    const Outcome o = scanAndList(image, dir / "cache");
    EXPECT_TRUE(o.found.count(a));
    EXPECT_TRUE(saidContaining(o, "cannot be read"));
}

}  // namespace
}  // namespace hx::scan
