#include <gtest/gtest.h>

#include "fixtures/CardFixture.h"
#include "output/ScanCommand.h"
#include "platform/DriveCatalogue.h"
#include "platform/FreeSpace.h"
#include "scan/ScanChecks.h"
#include "scan/ScanState.h"

using namespace hx;
using namespace hx::scan;
namespace fs = std::filesystem;
using shell::Answer;

namespace {

class ScanCommandTest : public test::CardFixture {
protected:
    void makeCard(int fatBits = 32) { CardFixture::makeCard(fatBits == 32 ? 300 : 32, fatBits == 32 ? 8 : 4, fatBits); }
    void putPhoto(int n) { CardFixture::putPhoto(n, 1024, 768); }

    output::ScanRequest request() const {
        output::ScanRequest r;
        r.source = image.string();
        r.cacheFolder = cache;
        r.selection = "|.jpgJPEG File |";
        return r;
    }
};

}  // namespace

TEST_F(ScanCommandTest, RefusedChecksEndBeforeAnythingIsWritten) {
    makeCard();
    test::WriteFile(cache / "keep.jpg", "old find");
    auto r = request();
    r.selection = "|.zzzNothing   |";
    output::ScanCommand none(ui, r);
    EXPECT_FALSE(none.run().has_value());
    EXPECT_TRUE(ui.shownContaining("Please first check some types on the search list to scan for."));

    r = request();
    r.source = (dir / "missing.img").string();
    output::ScanCommand missing(ui, r);
    EXPECT_FALSE(missing.run().has_value());
    EXPECT_TRUE(ui.shownContaining("Cannot read the disk."));

    // A new scan over files in the cache asks first; No keeps them.
    ui.answers = {Answer::No};
    r = request();
    r.smart = false;
    int started = 0;
    r.beforeScan = [&started] { ++started; };
    output::ScanCommand refused(ui, r);
    EXPECT_FALSE(refused.run().has_value());
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(ui.shownContaining("A new scan will delete all unsaved cached files of the previous scan."));
    EXPECT_TRUE(ui.answers.empty());
    EXPECT_EQ(test::ReadFile(cache / "keep.jpg"), "old find");
    EXPECT_FALSE(fs::exists(cache / kScanStateFile));
}

TEST_F(ScanCommandTest, StopResumeAndNewScan) {
    makeCard();
    for (int n = 0; n < 6; ++n) putPhoto(n);
    ASSERT_TRUE(test::FatDelete(image, nameOf(3)));

    auto r = request();
    r.smart = false;
    ui.stopAtYield = 1;
    auto shown = r;
    int started = 0;
    shown.beforeScan = [&started] { ++started; };
    output::ScanCommand first(ui, shown);
    ASSERT_EQ(first.run(), ScanOutcome::Stopped);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(ui.caption("CmdScan"), "Scan");
    const auto firstPart = first.context().FoundNames().size();
    ui.stopAtYield = 0;
    ui.stop = false;

    // The interrupted scan of the same drive is offered; Yes goes on from where it stopped.
    ui.answers = {Answer::Yes};
    output::ScanCommand second(ui, r);
    ASSERT_EQ(second.run(), ScanOutcome::Finished);
    EXPECT_TRUE(ui.shownContaining("was interrupted."));
    EXPECT_TRUE(second.resumed());
    EXPECT_GE(second.context().FoundNames().size(), firstPart);
    EXPECT_EQ(intact(second.context()), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    // Names come from the card's own listing, the deleted one's lost first letter rebuilt from its siblings.
    const auto& names = second.context().FoundNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "IMG_1000.JPG"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "IMG_1003.JPG"), names.end());

    // Finished: nothing to resume; a new scan empties the cache after Yes.
    const std::size_t asked = ui.messages.size();
    test::WriteFile(cache / "stray.jpg", "x");
    ui.answers = {Answer::Yes};
    output::ScanCommand third(ui, r);
    ASSERT_EQ(third.run(), ScanOutcome::Finished);
    EXPECT_EQ(ui.messages.size(), asked + 1);
    EXPECT_FALSE(third.resumed());
    EXPECT_EQ(intact(third.context()).size(), 6u);
    EXPECT_EQ(third.context().FoundNames().size(), 6u);

    // Answers given beforehand (the command line's --resume/--new) ask nothing.
    ui.stopAtYield = 1;
    output::ScanCommand stopped(ui, [&] { auto q = r; q.newScan = true; return q; }());
    ASSERT_EQ(stopped.run(), ScanOutcome::Stopped);
    ui.stopAtYield = 0;
    ui.stop = false;
    auto fresh = r;
    fresh.resume = false;
    fresh.newScan = true;
    const std::size_t before = ui.messages.size();
    output::ScanCommand anew(ui, fresh);
    ASSERT_EQ(anew.run(), ScanOutcome::Finished);
    EXPECT_FALSE(anew.resumed());
    EXPECT_EQ(ui.messages.size(), before);
    EXPECT_EQ(intact(anew.context()).size(), 6u);
}

TEST_F(ScanCommandTest, SmartScanIsOfferedWhenFilesAreListed) {
    makeCard();
    for (int n = 0; n < 4; ++n) putPhoto(n);
    ASSERT_TRUE(test::FatDelete(image, nameOf(1)));

    ui.answers = {Answer::Cancel};
    output::ScanCommand cancelled(ui, request());
    EXPECT_FALSE(cancelled.run().has_value());
    EXPECT_TRUE(ui.shownContaining("Scan for missing files only, skipping listed existing files?"));

    ui.answers = {Answer::Yes};
    output::ScanCommand smart(ui, request());
    ASSERT_EQ(smart.run(), ScanOutcome::Finished);
    EXPECT_TRUE(smart.smartScan());
    EXPECT_EQ(intact(smart.context()), (std::vector<int>{1}));
    EXPECT_EQ(smart.context().FoundNames(), (std::vector<std::string>{"IMG_1001.JPG"}));
}

// The first photo of a FAT16 card starts at the very first unit of the scan.
TEST_F(ScanCommandTest, APhotoAtTheFirstUnitKeepsItsListedName) {
    makeCard(16);
    putPhoto(0);
    putPhoto(1);
    ASSERT_TRUE(test::FatDelete(image, nameOf(0)));
    auto r = request();
    r.smart = false;
    output::ScanCommand command(ui, r);
    ASSERT_EQ(command.run(), ScanOutcome::Finished);
    const auto& ctx = command.context();
    ASSERT_EQ(ctx.found.size(), 2u);
    EXPECT_EQ(ctx.found[0].startUnit, ctx.record.RootCluster);
    EXPECT_EQ(ctx.FoundNames(), (std::vector<std::string>{"IMG_1000.JPG", "IMG_1001.JPG"}));
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1}));
}

// The listing names a find by the cluster it starts at, in the scan's units:
// on exFAT the units are numbered from the root folder's cluster (not 2), and
// a DeepScan reads a unit per sector.
TEST_F(ScanCommandTest, ListedNamesFindTheirFilesOnExfatAndInADeepScan) {
    image = test::MakeExFatImage(image, {24, 4096, ""});
    REQUIRE_IMAGE(image);
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(test::ExFatPutFile(image, nameOf(n), photos[n] = test::MakeTestJpeg(n, 1024, 768)));
    auto r = request();
    r.smart = false;
    output::ScanCommand exfat(ui, r);
    ASSERT_EQ(exfat.run(), ScanOutcome::Finished);
    ASSERT_GT(exfat.context().record.RootCluster, 2u);
    EXPECT_EQ(exfat.context().FoundNames(), (std::vector<std::string>{nameOf(0), nameOf(1), nameOf(2)}));
    EXPECT_EQ(intact(exfat.context()), (std::vector<int>{0, 1, 2}));

    fs::remove_all(cache);
    makeCard(16);
    putPhoto(0);
    putPhoto(1);
    r.options.deepScan = true;
    output::ScanCommand deep(ui, r);
    ASSERT_EQ(deep.run(), ScanOutcome::Finished);
    EXPECT_EQ(deep.context().FoundNames(), (std::vector<std::string>{nameOf(0), nameOf(1)}));
    EXPECT_EQ(intact(deep.context()), (std::vector<int>{0, 1}));
}

// A dd copy of a whole SD card: MBR, partition at sector 8192. The scan reads
// the whole medium in the partition's cluster steps, so photos deleted in the
// partition and a photo left in the space after it both come back whole.
TEST_F(ScanCommandTest, WholeCardImageIsScannedAroundItsPartition) {
    test::PartitionedImageOptions opt;
    opt.sizeMiB = 80;
    opt.partitionMiB = 64;
    if (test::MakePartitionedImage(image, opt).empty()) GTEST_SKIP() << test::MediaSkipReason();
    const fs::path part = test::PartitionPath(image, opt.startSector);
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(test::FatPutFile(part, nameOf(n), photos[n] = test::MakeTestJpeg(n, 1024, 768)));
    ASSERT_TRUE(test::FatDelete(part, nameOf(1)));
    // A photo in the unpartitioned tail, at a sector the partition's clusters also step on.
    photos[7] = test::MakeTestJpeg(7, 800, 600);
    test::PatchFile(image, (opt.startSector * 512ull + 64ull * 1024 * 1024 + 65536) / 65536 * 65536, photos[7]);
    auto r = request();
    r.smart = false;
    output::ScanCommand cmd(ui, r);
    ASSERT_TRUE(cmd.run().has_value());
    EXPECT_EQ(intact(cmd.context()), (std::vector<int>{0, 1, 2, 7}));
}

TEST(CacheSpaceCheck, RoomForWhatTheScanMayRecover) {
    // Room for everything the drive holds free, and 2 GB more: no question.
    auto space = CheckCacheSpace(20000, 16000, 32000, 0, "/cache");
    EXPECT_TRUE(space.ok);
    EXPECT_TRUE(space.message.empty());
    // 12,288 MB against 16,000 MB that may be found: room for 10 GB, 2 GB kept free.
    space = CheckCacheSpace(12288, 16000, 32000, 0, "/media/big");
    EXPECT_TRUE(space.ok);
    EXPECT_NE(space.message.find("There is only room for saving 10 GB."), std::string::npos) << space.message;
    EXPECT_NE(space.message.find("running out of disk space on the target drive /MEDIA/BIG."), std::string::npos);
    EXPECT_DOUBLE_EQ(space.budgetMB, 10288);
    // A swap space below 2000 MB is what is kept free instead.
    EXPECT_DOUBLE_EQ(CheckCacheSpace(12288, 16000, 32000, 1024, "/c").budgetMB, 11264);
    EXPECT_DOUBLE_EQ(CheckCacheSpace(12288, 16000, 32000, 4096, "/c").budgetMB, 10288);
    // Less than 2 GB free: no room at all.
    EXPECT_FALSE(CheckCacheSpace(1500, 16000, 32000, 0, "/c").ok);
    // Unknown free space: taken as the medium and a tenth more.
    space = CheckCacheSpace(0, 16000, 32000, 0, "/c");
    EXPECT_TRUE(space.ok);
    EXPECT_TRUE(space.message.empty());
}

TEST_F(ScanCommandTest, TypesListedOnTheCardThatWereNotChosenAreOffered) {
    makeCard(16);
    putPhoto(0);
    const std::string pdf = "%PDF-1.4\n1 0 obj\n<<>>\nendobj\n" + std::string(3000, 'x') + "\n%%EOF\n";
    ASSERT_TRUE(test::FatPutFile(image, "PAPER.PDF", pdf));
    EXPECT_EQ(UnchosenListedTypes({{"IMG_1000.JPG", 3, 0}, {"PAPER.PDF", 9, 0}, {"B.PDF", 12, 0}}, ".jpg"),
              (std::vector<std::string>{".pdf"}));

    auto r = request();
    r.smart = false;
    r.offerListedTypes = true;
    std::vector<std::string> added;
    r.typesAdded = [&added](const std::vector<std::string>& types) { added = types; };
    ui.answers = {Answer::Yes};
    output::ScanCommand offered(ui, r);
    ASSERT_EQ(offered.run(), ScanOutcome::Finished);
    EXPECT_TRUE(ui.shownContaining("Possibly also present on"));
    EXPECT_EQ(added, (std::vector<std::string>{".pdf"}));
    bool foundPdf = false;
    for (const auto& f : offered.context().found) foundPdf = foundPdf || f.extension == ".pdf";
    EXPECT_TRUE(foundPdf);
}

TEST_F(ScanCommandTest, ACacheOnTheScannedCardIsRefused) {
    makeCard(16);
    putPhoto(0);
    // The card seen mounted at a folder that holds the cache.
    const fs::path mount = dir / "card";
    fs::create_directories(mount / "QXCache");
    ASSERT_TRUE(platform::AttachImage(image.string() + ",removable,mount=" + mount.string()));
    auto r = request();
    r.cacheFolder = mount / "QXCache";
    output::ScanCommand refused(ui, r);
    EXPECT_FALSE(refused.run().has_value());
    platform::DetachAllImages();
    EXPECT_TRUE(ui.shownContaining("Cannot use the same disk for saving."));
    EXPECT_FALSE(fs::exists(mount / "QXCache" / kSearchedFile));
}

TEST_F(ScanCommandTest, ACacheWithoutRoomIsDeclinedAndAnotherChosen) {
    makeCard(16);
    putPhoto(0);
    const fs::path roomy = dir / "Roomy";
    fs::create_directories(roomy);
    // The cache's disk has 1.5 GB free, the chosen folder's plenty.
    platform::SetFreeSpaceHook([&roomy](const std::string& path) {
        return path.rfind(roomy.string(), 0) == 0 ? 1e6 : 1500.0;
    });
    auto r = request();
    r.smart = false;
    ui.answers = {Answer::Cancel};
    ui.inputs = {roomy.string()};
    output::ScanCommand moved(ui, r);
    const auto outcome = moved.run();
    platform::SetFreeSpaceHook({});
    ASSERT_EQ(outcome, ScanOutcome::Finished);
    EXPECT_TRUE(ui.shownContaining("There is only room for saving"));
    EXPECT_EQ(moved.context().cacheFolder, roomy / "QXCache");
    EXPECT_EQ(intact(moved.context().FoundNames()).size(), 0u);  // not in the first cache
    bool found = false;
    for (const auto& name : moved.context().FoundNames())
        found = found || test::ReadFile(roomy / "QXCache" / name) == photos[0];
    EXPECT_TRUE(found);

    // Declined, and no other folder chosen: no scan.
    platform::SetFreeSpaceHook([](const std::string&) { return 1500.0; });
    ui.answers = {Answer::Cancel};
    ui.inputs = {std::nullopt};
    output::ScanCommand declined(ui, r);
    EXPECT_FALSE(declined.run().has_value());
    platform::SetFreeSpaceHook({});
}
