#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "fixtures/CardFixture.h"
#include "fixtures/SmallDisk.h"
#include "platform/FreeSpace.h"
#include "scan/ContentPrint.h"
#include "scan/ScanState.h"

using namespace hx;
using namespace hx::scan;
namespace fs = std::filesystem;

namespace {

const std::string kPictures = "|.jpgJPEG File .tifTIFF File .docDOC  File |";

class CardTest : public test::CardFixture {
protected:
    scan::ScanContext context(const std::string& selection = kPictures, shell::Ui* to = nullptr) {
        return CardFixture::context(selection, to);
    }
};

}  // namespace

TEST_F(CardTest, DeletedAndFormattedPhotosComeBackByteIdentical) {
    makeCard();
    for (int n = 0; n < 6; ++n) putPhoto(n, n % 2 ? 2560 : 2048, n % 2 ? 1920 : 1536);
    ASSERT_TRUE(test::FatDelete(image, nameOf(1)));
    ASSERT_TRUE(test::FatDelete(image, nameOf(4)));

    auto ctx = context();
    EXPECT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    ASSERT_EQ(ctx.FoundNames().size(), 6u);
    EXPECT_EQ(ctx.FoundNames()[0], "R#0000.jpg");
    EXPECT_EQ(ctx.found[1].size, photos[1].size());
    EXPECT_EQ(ctx.found[0].description, "Canon EOS 400D");  // the model without "DIGITAL"
    EXPECT_EQ(ctx.List3.size(), 6u);
    EXPECT_EQ(ctx.resumeUnit, 0u);
    EXPECT_EQ(ctx.LastCluster, "0");
    // The file's time is the moment of exposure.
    const auto t = fs::last_write_time(cache / ctx.FoundNames()[2]);
    const auto sys = std::chrono::file_clock::to_sys(t);
    const std::time_t tt = std::chrono::system_clock::to_time_t(sys);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y:%m:%d %H:%M:%S", std::localtime(&tt));
    EXPECT_EQ(buf, viewing::SamplePhotoDate(2));
    bool finished = false;
    for (auto& s : ui.statuses) finished |= s.rfind("Finished: ", 0) == 0;
    EXPECT_TRUE(finished);

    // The same card quick-formatted again.
    ASSERT_TRUE(test::QuickFormatCard(image));
    emptyCache();
    auto again = context();
    EXPECT_EQ(ScanDisk(again), ScanOutcome::Finished);
    EXPECT_EQ(intact(again), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(again.FoundNames().size(), 6u);
}

TEST_F(CardTest, ConsecutiveClustersMakeTwoFilesAndDocEndsAtItsMark) {
    makeCard();
    const std::uint64_t cluster = clusterBytes();
    photos[7] = test::MakeTestJpeg(7, 640, 480);
    photos[8] = test::MakeTestJpeg(8, 640, 480);
    const std::uint64_t c7 = 100, c8 = c7 + (photos[7].size() + cluster - 1) / cluster;
    writeAtCluster(c7, photos[7]);
    writeAtCluster(c8, photos[8]);
    // A document: header, the FF run of its second signature, filler, and the end mark three units on.
    std::string doc = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + std::string(8, '\0') + std::string(100, 'h') +
                      std::string(292, '\xFF') + std::string(2, '\0');
    doc.resize(3 * cluster, 'd');
    doc += std::string(200, 'e') + "MSWordDoc";
    doc.resize(4 * cluster, 'e');
    const std::uint64_t cDoc = 300;
    writeAtCluster(cDoc, doc);
    writeAtCluster(cDoc + 4, std::string(3 * cluster, 'z'));  // more data after the end

    auto ctx = context();
    ASSERT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    ASSERT_EQ(ctx.found.size(), 3u);
    EXPECT_EQ(intact(ctx), (std::vector<int>{7, 8}));
    EXPECT_EQ(ctx.found[0].startUnit, c7);
    EXPECT_EQ(ctx.found[1].startUnit, c8);
    EXPECT_EQ(ctx.found[2].name, "R#0002.doc");
    EXPECT_EQ(test::ReadFile(cache / "R#0002.doc"), doc);
}

// A photo that starts inside a cluster is found by the deep scan only; a
// thumbnail that sits on a sector boundary inside a photo stays part of it.
TEST_F(CardTest, DeepScanFindsPhotosInsideClustersButNotTheirThumbnails) {
    makeCard();
    photos[3] = test::MakeTestJpeg(3, 1024, 768);
    writeAtCluster(200, photos[3], 3 * 512);
    // A photo whose EXIF block carries a complete JPEG thumbnail at offset 512.
    const std::string body = viewing::MakeSamplePhoto(9, {1024, 768, 95, 20, false});
    const std::string thumb = viewing::MakeSamplePhoto(10, {160, 120, 80, 4, false});
    std::string payload = std::string("Exif\0\0", 6) + std::string(512 - 12, 'x') + thumb + std::string(300, 'y');
    std::string photo = "\xFF\xD8\xFF\xE1";
    photo.push_back(static_cast<char>((payload.size() + 2) >> 8));
    photo.push_back(static_cast<char>((payload.size() + 2) & 0xFF));
    photo += payload + body.substr(2);
    ASSERT_EQ(photo.compare(512, 4, "\xFF\xD8\xFF\xE0"), 0);
    photos[9] = photo;
    writeAtCluster(600, photo);

    auto plain = context();
    ScanDisk(plain);
    EXPECT_EQ(intact(plain), (std::vector<int>{9}));
    EXPECT_EQ(plain.FoundNames().size(), 1u);

    emptyCache();
    auto deep = context();
    deep.options.deepScan = true;
    ScanDisk(deep);
    EXPECT_EQ(intact(deep), (std::vector<int>{3, 9}));
    EXPECT_EQ(deep.FoundNames().size(), 2u);
    EXPECT_EQ(deep.unitSize, 512u);
}

TEST_F(CardTest, TooSmallPhotoIsDeletedAndTheCounterStays) {
    makeCard();
    photos[1] = test::MakeTestJpeg(1, 640, 480);  // about 300 kB
    ASSERT_LT(photos[1].size(), 1u << 20);
    photos[2] = test::MakeTestJpeg(2, 2048, 1536);
    writeAtCluster(50, photos[1]);
    writeAtCluster(400, photos[2]);
    auto ctx = context();
    ctx.options.minMB = 1;
    ScanDisk(ctx);
    ASSERT_EQ(ctx.FoundNames().size(), 1u);
    EXPECT_EQ(ctx.FoundNames()[0], "R#0000.jpg");
    EXPECT_EQ(intact(ctx), (std::vector<int>{2}));
    EXPECT_FALSE(fs::exists(cache / "R#0001.jpg"));
}

TEST_F(CardTest, JunkAfterAJpegHeaderIsNotAPicture) {
    makeCard();
    std::string junk = test::MakeTestJpeg(5, 640, 480).substr(0, 40);
    for (int i = 0; i < 200000; ++i) junk.push_back(static_cast<char>((i * 2654435761u) >> 13));
    writeAtCluster(80, junk);
    photos[6] = test::MakeTestJpeg(6, 800, 600);
    writeAtCluster(300, photos[6]);
    auto ctx = context();
    ScanDisk(ctx);
    EXPECT_EQ(intact(ctx), (std::vector<int>{6}));
    EXPECT_EQ(ctx.FoundNames().size(), 1u);
}

TEST_F(CardTest, AnEmptyMediumIsReportedWiped) {
    makeCard();
    auto r = test::FatGeometry(image);
    // Zero the whole image, boot sector included; the geometry stays as recorded.
    std::ofstream(image, std::ios::binary | std::ios::trunc).close();
    fs::resize_file(image, 300ull << 20);
    auto ctx = context();
    ctx.record = r;
    EXPECT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    EXPECT_TRUE(ctx.FoundNames().empty());
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_NE(ui.messages.back().text.find("Not any data retrievable."), std::string::npos);
    EXPECT_NE(ui.messages.back().text.find("is wiped and entirely empty!"), std::string::npos);
    EXPECT_EQ(ui.messages.back().title, "Scan " + image.string());
}

TEST_F(CardTest, CacheDiskFillingUpStopsAfterTheCurrentFile) {
    makeCard();
    for (int n = 0; n < 4; ++n) putPhoto(n, 1600, 1200);
    int calls = 0;
    platform::SetFreeSpaceHook([&calls](const std::string&) { return ++calls == 1 ? 2500.5 : 2400.0; });
    auto ctx = context();
    const auto outcome = ScanDisk(ctx);
    platform::SetFreeSpaceHook({});
    EXPECT_EQ(outcome, ScanOutcome::OutOfSpace);
    EXPECT_TRUE(ui.shownContaining("Ran out of free disk space while scanning. Execution aborted."));
    ASSERT_EQ(ctx.FoundNames().size(), 1u);
    EXPECT_EQ(intact(ctx).size(), 1u);
    EXPECT_GT(ctx.resumeUnit, 0u);
}

TEST_F(CardTest, ACacheDiskThatIsFullUndoesThePartFileAndTheScanResumesThere) {
    test::SmallDisk disk(cache, 1200);
    if (!disk.ok()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    makeCard();
    for (int n = 0; n < 5; ++n) putPhoto(n, 800, 600);
    // The disk itself runs full here, not the reserve the scan keeps.
    platform::SetFreeSpaceHook([](const std::string&) { return 1e6; });
    auto ctx = context();
    const auto outcome = ScanDisk(ctx);
    EXPECT_EQ(outcome, ScanOutcome::OutOfSpace);
    EXPECT_TRUE(ui.shownContaining("Please resume scanning after freeing space on the target disk"));
    const std::size_t kept = ctx.FoundNames().size();
    ASSERT_GT(kept, 0u);
    ASSERT_LT(kept, 5u);
    EXPECT_EQ(intact(ctx).size(), kept);
    // Only whole files are left behind.
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(cache)) files += e.path().extension() == ".jpg";
    EXPECT_EQ(files, kept);
    EXPECT_GT(ctx.resumeUnit, 0u);

    // Room made: the scan goes on from the file it could not hold.
    ASSERT_TRUE(disk.grow(16384));
    EXPECT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    platform::SetFreeSpaceHook({});
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(ctx.FoundNames().size(), 5u);
}

TEST_F(CardTest, SmartScanSkipsListedFilesAndListedNamesAreKept) {
    makeCard();
    for (int n = 0; n < 4; ++n) putPhoto(n, 1024, 768);
    // Where the photos start, from mtools' own view of the card.
    std::string listing;
    test::RunCommand("mshowfat -i '" + image.string() + "' ::" + nameOf(2), &listing);
    const auto lt = listing.find('<');
    ASSERT_NE(lt, std::string::npos) << listing;
    const std::uint64_t start2 = std::stoull(listing.substr(lt + 1));
    ASSERT_TRUE(test::FatDelete(image, nameOf(2)));
    const auto used = test::FatClustersInUse(image);

    auto ctx = context();
    ctx.options.smartScan = true;
    ctx.clusterInUse = [&used](std::uint64_t c) { return c < used.size() && used[c]; };
    ctx.listed.push_back({"x:holiday_photo.jpg", start2 + 1, 5000});  // no file starts there
    ctx.listed.push_back({"?MG_1002.JPG", start2, photos[2].size()});  // a deleted entry
    ScanDisk(ctx);
    ASSERT_EQ(ctx.FoundNames().size(), 1u);
    EXPECT_EQ(ctx.FoundNames()[0], "_MG_1002.JPG");
    EXPECT_EQ(ctx.found[0].listedSize, photos[2].size());
    EXPECT_EQ(intact(ctx), (std::vector<int>{2}));
}

TEST_F(CardTest, BrokenSourcesEndCleanly) {
    makeCard();
    for (int n = 0; n < 3; ++n) putPhoto(n, 1600, 1200);
    const auto record = test::FatGeometry(image);
    // Truncated: the geometry says more than the file holds.
    fs::resize_file(image, fs::file_size(image) / 2);
    auto ctx = context();
    ctx.record = record;
    EXPECT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    EXPECT_EQ(intact(ctx).size(), 3u);

    // No geometry, and a companion file full of nonsense: every sector is scanned.
    emptyCache();
    test::WriteFile(dir / "card.dat", "\"x\"\n\"7\"\n\"-3\"\n\"1e300\"\n\"99999999999\"\n\"0\"\n");
    auto noGeo = context();
    noGeo.record = media::DriveRecord{};
    noGeo.record.IsImage = true;
    EXPECT_EQ(ScanDisk(noGeo), ScanOutcome::Finished);
    EXPECT_EQ(intact(noGeo).size(), 3u);
    EXPECT_EQ(noGeo.unitSize, 512u);

    // A source that is not there.
    auto missing = context();
    missing.drive = (dir / "nothing.img").string();
    EXPECT_EQ(ScanDisk(missing), ScanOutcome::Unreadable);
    EXPECT_TRUE(ui.shownContaining("Cannot read the disk."));
}

TEST_F(CardTest, RawEndRulesAndTheNothingRecoverableMessage) {
    makeCard();
    const std::size_t cluster = clusterBytes();
    // A Sigma raw: its directory mark says two entries, so the file ends 12*2+15 bytes after it.
    std::string x3f = "FOVb" + std::string(cluster * 2 - 4, 'r');
    const std::size_t mark = x3f.size() + 100;
    x3f += std::string(100, 's') + "SECd" + std::string(4, '\0') + std::string("\x02\0\0\0", 4);
    x3f.resize(cluster * 3, 't');
    writeAtCluster(500, x3f);
    writeAtCluster(503, std::string(cluster, 'u'));

    auto ctx = context(".x3fFOVb  Raw ");
    ctx.options.damaged = true;  // block by block through the per-call reader
    ScanDisk(ctx);
    ASSERT_EQ(ctx.FoundNames().size(), 1u);
    EXPECT_EQ(ctx.FoundNames()[0], "R#0000.x3f");
    EXPECT_EQ(test::ReadFile(cache / "R#0000.x3f"), x3f.substr(0, mark + 12 * 2 + 15 + 1));
    EXPECT_EQ(ctx.resumeUnit, 0u);

    // Data on the card but nothing of the chosen types.
    // Every unit different from the one before on an eighth of the card: not a wiped medium.
    const auto units = static_cast<std::size_t>(test::FatGeometry(image).TotalClusters / 8);
    std::string data(units * cluster, 'v');
    for (std::size_t u = 0; u < units; ++u) data.replace(u * cluster, 8, std::to_string(10000000 + u));
    writeAtCluster(1000, data);
    auto none = context(".pdfPDF  File ");
    ScanDisk(none);
    EXPECT_TRUE(none.FoundNames().empty());
    EXPECT_TRUE(ui.shownContaining("Data found but no recoverable files.\nAdjust the file types and/or use DeepScan."));
}

TEST_F(CardTest, SizeCapAndRepeatedDataEndFilesWithoutAnEndMark) {
    makeCard();
    const std::size_t cluster = clusterBytes();
    std::string pdf = "%PDF-1.4\n";
    for (std::size_t i = 0; pdf.size() < 3 * cluster * 256; ++i) pdf += std::to_string(i * 7919) + " 0 obj\n";
    writeAtCluster(700, pdf);  // 3 MB, then the card's zeros

    auto capped = context(".pdfPDF  File ");
    capped.options.maxMB = 1;
    ScanDisk(capped);
    ASSERT_EQ(capped.found.size(), 1u);
    EXPECT_EQ(capped.found[0].size, 1u << 20);

    // On a fixed disk, a run of one repeated piece ends the file after 10 MB of it.
    emptyCache();
    auto fixed = context(".pdfPDF  File ");
    fixed.record.DriveType = media::DriveKind::Fixed;
    ScanDisk(fixed);
    ASSERT_EQ(fixed.found.size(), 1u);
    const double mb = static_cast<double>(fixed.found[0].size) / 1048576.0;
    EXPECT_GT(mb, 3 + 9.9);
    EXPECT_LT(mb, 3 + 10.2);
    EXPECT_EQ(test::ReadFile(cache / fixed.FoundNames()[0]).substr(0, pdf.size()), pdf);
}

TEST_F(CardTest, CanonRawTakesItsOwnNameAndEndsAtItsTrailer) {
    makeCard();
    const std::size_t cluster = clusterBytes();
    std::string crw = std::string("II\x1A\0\0\0", 6) + "HEAPCCDR";
    crw.resize(cluster, 'a');
    std::string named(cluster, 'b');
    named.replace(100, 12, "CRW_0001.CRW");
    crw += named + std::string(cluster, 'c');
    std::string last(cluster, 'd');
    const std::size_t end = 2 * 512 + 200;  // in the third sector of the last unit
    last.replace(end, 3, std::string("\0\n0", 3));
    last[end + 14] = '\0';
    crw += last;
    writeAtCluster(900, crw);
    writeAtCluster(910, crw);  // the same camera name again
    auto ctx = context(".crwCanon Raw ");
    ScanDisk(ctx);
    ASSERT_EQ(ctx.FoundNames().size(), 2u);
    EXPECT_EQ(ctx.FoundNames()[0], "CRW_0001.CRW");
    EXPECT_EQ(ctx.FoundNames()[1], "1-CRW_0001.CRW");
    const std::string expected = crw.substr(0, 3 * cluster + end + 15);
    EXPECT_EQ(test::ReadFile(cache / "CRW_0001.CRW"), expected);
    EXPECT_EQ(test::ReadFile(cache / "1-CRW_0001.CRW"), expected);
}

TEST_F(CardTest, ProgressShowsMegabytesSpeedAndTimeToGoFromTheFirstSecond) {
    makeCard();
    struct SlowUi : test::ScriptedUi {
        std::vector<double> fractions;
        void progress(double f, const std::string& text) override {
            fractions.push_back(f);
            ScriptedUi::progress(f, text);
        }
        void yield() override {
            ScriptedUi::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(60));  // 75 blocks: over 4 s
        }
    } slow;
    auto ctx = context(kPictures, &slow);
    ScanDisk(ctx);
    // What is scanned at once, then where the scan is after its first second.
    ASSERT_GE(slow.fractions.size(), 2u);
    EXPECT_EQ(slow.fractions[0], 0.0);
    ASSERT_FALSE(slow.statuses.empty());
    EXPECT_EQ(slow.statuses[0].rfind("Scanning ", 0), 0u) << slow.statuses[0];
    EXPECT_GT(slow.fractions[1], 0.0);
    EXPECT_LT(slow.fractions[1], 1.0);
    const std::regex line(R"(Elapsed: \d+ & to go: \d+ seconds \d+\.\d MB/s  \d+ of \d+ MB)");
    bool shown = false;
    for (const auto& s : slow.statuses) shown |= std::regex_match(s, line);
    EXPECT_TRUE(shown);
}

TEST_F(CardTest, KeepingEachContentOnceWritesNoCopyOfAKeptFile) {
    makeCard(64, 4, 16);
    for (int n = 0; n < 3; ++n) putPhoto(n);
    ASSERT_TRUE(test::FatPutFile(image, "COPY.JPG", photos[0]));
    // Begins as photo 1 does, differs near its end: written whole, at its end.
    photos[3] = photos[1];
    photos[3][photos[3].size() - 100] ^= 0x01;
    ASSERT_TRUE(test::FatPutFile(image, "ALTERED.JPG", photos[3]));
    auto ctx = context();
    ctx.options.fingerprints = true;
    ctx.options.keepEachContentOnce = true;
    // Photo 2 came back before the scan (as an undeleted file).
    scan::ContentPrint two, twoBegins;
    two.add(reinterpret_cast<const std::uint8_t*>(photos[2].data()), photos[2].size());
    twoBegins.add(reinterpret_cast<const std::uint8_t*>(photos[2].data()), scan::kBeginningBytes);
    ctx.keptContents.add({photos[2].size(), two.value(), twoBegins.value()});
    ASSERT_EQ(ScanDisk(ctx), ScanOutcome::Finished);
    EXPECT_EQ(intact(ctx), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(ctx.duplicatesDropped, 2u);
    EXPECT_EQ(ctx.List3.size(), 3u);
    // No file of the dropped ones is left, and the names stay in sequence.
    std::set<std::string> files;
    for (const auto& e : fs::directory_iterator(cache))
        if (e.path().extension() == ".jpg" || e.path().extension() == ".JPG") files.insert(e.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"R#0000.jpg", "R#0001.jpg", "R#0002.jpg"}));
    EXPECT_EQ(ctx.keptContents.size(), 4u);
}
