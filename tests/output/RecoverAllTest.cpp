// Recover everything in one step: a FAT32 card whose deleted photos lie in
// pieces between files that are still there, exFAT and NTFS cards with live
// files too, and the report as a browser shows it.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "fixtures/MediaImages.h"
#include "fixtures/UndeleteFixtures.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "output/RecoverAll.h"
#include "viewing/Exif.h"
#include "formats/PictureCheck.h"
#include "viewing/SamplePhoto.h"
#include "output/ScanCommand.h"
#include "scan/ScanState.h"

namespace hx::output {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

using Files = std::map<std::string, std::string>;

// Every file of the report is one of `originals` (but those found by their
// contents), and none is there twice.
void expectEachOnceAndOwn(const RecoverReport& report, const fs::path& target, const Files& originals) {
    std::set<std::string> contents;
    for (const auto& f : report.files) {
        const std::string bytes = ReadFile(target / f.path);
        EXPECT_TRUE(contents.insert(bytes).second) << f.path << " is there twice";
        bool known = false;
        for (const auto& [path, o] : originals) known = known || o == bytes;
        if (f.origin != "carved") {
            EXPECT_TRUE(known) << f.path << " (" << f.origin << ") holds bytes of no original";
        }
    }
}

int countOrigin(const RecoverReport& report, const std::string& origin) {
    int n = 0;
    for (const auto& f : report.files) n += f.origin == origin;
    return n;
}

// mtools allocates after its free-cluster hint on FAT32; without one it takes
// the first free cluster, as a camera filling holes does.
void forgetFreeHint(const fs::path& image) {
    const std::string boot = ReadFile(image).substr(0, 512);
    const unsigned fsInfo = static_cast<unsigned char>(boot[48]) | static_cast<unsigned char>(boot[49]) << 8;
    test::PatchFile(image, fsInfo * 512ull + 0x1EC, std::string(4, '\xFF'));
}

// A FAT32 card whose deleted "Sunset big.jpg" lies in pieces around a live
// file, over the clusters of two files deleted before it; "Harbour.jpg",
// deleted too, lies in one run.
fs::path fragmentedCard(const test::TempDir& dir, Files& originals) {
    const fs::path image =
        test::MakeFatImage(dir / "card.img", {.fatBits = 32, .sizeKiB = 65536, .sectorsPerCluster = 1, .label = ""});
    if (image.empty()) return {};
    auto put = [&](const std::string& name, const std::string& bytes) {
        originals[name] = bytes;
        return test::FatPutFile(image, name, bytes);
    };
    bool ok = put("Beach day 1.jpg", test::MakeTestJpeg(1, 160, 120)) && put("keep one.txt", test::PatternBytes(2000, 2)) &&
              put("scratch.bin", test::PatternBytes(6000, 3)) && put("keep two.txt", test::PatternBytes(3000, 4)) &&
              test::FatDelete(image, "Beach day 1.jpg") && test::FatDelete(image, "scratch.bin");
    forgetFreeHint(image);
    // Fills both holes, around the live file between them, and goes on after the second.
    ok = ok && put("Sunset big.jpg", test::MakeTestJpeg(5, 480, 360)) && put("Harbour.jpg", test::MakeTestJpeg(6, 200, 150)) &&
         test::FatDelete(image, "Sunset big.jpg") && test::FatDelete(image, "Harbour.jpg");
    return ok ? image : fs::path();
}

TEST(RecoverAll, FragmentedDeletedPhotosComeBackWithTheirNamesAndNothingElse) {
    test::TempDir dir("hx-recover");
    Files originals;
    const fs::path image = fragmentedCard(dir, originals);
    REQUIRE_IMAGE(image);
    ASSERT_GT(originals["Sunset big.jpg"].size(), originals["Beach day 1.jpg"].size() + 6000 + 2048);

    test::ScriptedUi ui;
    RecoverRequest req;
    req.layout = RecoverRequest::Layout::Found;  // the card's own folders, checked below
    req.source = image.string();
    req.target = dir / "Recovered";
    RecoverCommand command(ui, req);
    const auto report = command.run();
    ASSERT_TRUE(report);
    ASSERT_TRUE(WriteRecoverReport(*report, req.target));

    // The deleted photos, byte-identical under their own names.
    EXPECT_TRUE(ReadFile(req.target / "Sunset big.jpg") == originals["Sunset big.jpg"]);
    EXPECT_TRUE(ReadFile(req.target / "Harbour.jpg") == originals["Harbour.jpg"]);
    // Every file written is one of the originals, each once.
    EXPECT_EQ(countOrigin(*report, "carved"), 0);
    expectEachOnceAndOwn(*report, req.target, originals);
    EXPECT_GE(report->duplicates, 2);
    // What the big one took (its entries, where their slots were not reused) is said, not written.
    for (const auto& n : report->notRecovered) {
        EXPECT_FALSE(fs::exists(req.target / n.name)) << n.name;
        EXPECT_FALSE(n.reason.empty());
    }
    EXPECT_FALSE(fs::exists(req.target / "Beach day 1.jpg"));
    EXPECT_FALSE(fs::exists(req.target / "Found" / "QXCache"));

    const std::string json = ReadFile(req.target / "report.json");
    EXPECT_NE(json.find("{\"path\":\"Sunset big.jpg\",\"origin\":\"undeleted\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"fileSystem\":\"FAT\""), std::string::npos);
    // Its camera by maker and model, and its date as people write it.
    std::string date = viewing::SamplePhotoDate(5);
    date[4] = date[7] = '-';
    const std::string camera = viewing::CameraName(viewing::SamplePhotoMake(5), viewing::SamplePhotoModel(5));
    EXPECT_NE(json.find("\"date\":\"" + date + "\",\"camera\":\"" + camera + "\""), std::string::npos) << json;
    // Where it was on the card and under which name, and how many files each day holds.
    EXPECT_NE(json.find("\"original\":\"/Sunset big.jpg\",\"foundAt\":\"cluster "), std::string::npos) << json;
    EXPECT_NE(json.find("{\"day\":\"" + date.substr(0, 10) + "\",\"files\":"), std::string::npos) << json;
    // Its pictures are small copies in one folder, each a JPEG that decodes.
    const std::string html = ReadFile(req.target / "report.html");
    EXPECT_NE(html.find("<th colspan=\"10\" class=\"day\">" + date.substr(0, 10) + " ("), std::string::npos) << html;
    const auto img = html.find("<img src=\"report-files/thumb");
    ASSERT_NE(img, std::string::npos) << html;
    const std::string thumb = html.substr(img + 10, html.find('"', img + 10) - img - 10);
    const std::string small = ReadFile(req.target / thumb);
    ASSERT_GT(small.size(), 100u);
    EXPECT_LT(small.size(), originals["Sunset big.jpg"].size());
    EXPECT_TRUE(formats::CheckJpegBuffer(reinterpret_cast<const std::uint8_t*>(small.data()), small.size()).complete);

    // The live files too, when asked; the card itself is refused as a target.
    RecoverRequest all = req;
    all.target = dir / "Everything";
    all.includePresent = true;
    const auto everything = RecoverCommand(ui, all).run();
    ASSERT_TRUE(everything);
    EXPECT_TRUE(ReadFile(all.target / "keep one.txt") == originals["keep one.txt"]);
    EXPECT_TRUE(ReadFile(all.target / "keep two.txt") == originals["keep two.txt"]);
}

TEST(RecoverAll, ByDefaultEachFileGoesToTheDayItWasTaken) {
    test::TempDir dir("hx-recover-dates");
    Files originals;
    const fs::path image = fragmentedCard(dir, originals);
    REQUIRE_IMAGE(image);
    test::ScriptedUi ui;
    RecoverRequest req;
    req.source = image.string();
    req.target = dir / "Recovered";
    req.includePresent = true;
    const auto report = RecoverCommand(ui, req).run();
    ASSERT_TRUE(report);
    const auto day = [](int photo) {
        std::string d = viewing::SamplePhotoDate(photo).substr(0, 10);
        d[4] = d[7] = '-';
        return fs::path(d.substr(0, 4)) / d;
    };
    EXPECT_TRUE(ReadFile(req.target / day(5) / "Sunset big.jpg") == originals["Sunset big.jpg"]);
    EXPECT_TRUE(ReadFile(req.target / day(6) / "Harbour.jpg") == originals["Harbour.jpg"]);
    EXPECT_TRUE(ReadFile(req.target / "Undated" / "txt" / "keep one.txt") == originals["keep one.txt"]);
    // The report says where each went; no folder was left empty.
    for (const auto& f : report->files) EXPECT_TRUE(fs::is_regular_file(req.target / f.path)) << f.path;
    for (const auto& e : fs::recursive_directory_iterator(req.target))
        if (e.is_directory()) {
            EXPECT_FALSE(fs::is_empty(e.path())) << e.path();
        }
}

TEST(RecoverAll, CarvedPhotosAreNamedByTheirCameraAndMoment) {
    // No file system: two photos found by their contents only.
    test::TempDir dir("hx-recover-carved");
    const std::string a = test::MakeTestJpeg(31, 320, 240), b = test::MakeTestJpeg(32, 320, 240);
    const fs::path image = dir / "card.img";
    test::WriteFile(image, test::BareMedium({a, b}));
    test::ScriptedUi ui;
    RecoverRequest req{image.string(), dir / "Recovered"};
    const auto report = RecoverCommand(ui, req).run();
    ASSERT_TRUE(report);
    for (const auto& [n, bytes] : {std::pair<int, std::string>{31, a}, {32, b}}) {
        std::string when = viewing::SamplePhotoDate(n);  // "YYYY:MM:DD HH:MM:SS"
        const std::string day = when.substr(0, 4) + "-" + when.substr(5, 2) + "-" + when.substr(8, 2);
        std::string camera = viewing::CameraName(viewing::SamplePhotoMake(n), viewing::SamplePhotoModel(n));
        std::replace(camera.begin(), camera.end(), ' ', '_');
        const std::string name = camera + "_" + when.substr(0, 4) + when.substr(5, 2) + when.substr(8, 2) + "_" +
                                 when.substr(11, 2) + when.substr(14, 2) + when.substr(17, 2) + ".jpg";
        EXPECT_TRUE(ReadFile(req.target / day.substr(0, 4) / day / name) == bytes) << name;
    }
    // Found by their contents: the report says at which sector.
    for (const auto& f : report->files) EXPECT_EQ(f.foundAt.rfind("sector ", 0), 0u) << f.path;
}

TEST(RecoverAll, AScanNamesOnlyWhatLiesInOneRunByTheListing) {
    test::TempDir dir("hx-recover-names");
    Files originals;
    const fs::path image = fragmentedCard(dir, originals);
    REQUIRE_IMAGE(image);
    test::ScriptedUi ui;
    output::ScanRequest req;
    req.source = image.string();
    req.cacheFolder = dir / "QXCache";
    req.selection = scan::SelectionForTypes({"JPG"});
    req.smart = false;
    // The cache folder is made by the scan command itself.
    output::ScanCommand command(ui, req);
    ASSERT_EQ(command.run(), scan::ScanOutcome::Finished);
    std::set<std::string> names;
    for (const auto& f : command.context().found) {
        names.insert(f.name);
        // Whatever a found file is called, a listed name is only on its own bytes.
        if (originals.count(f.name)) {
            EXPECT_TRUE(ReadFile(req.cacheFolder / f.name) == originals[f.name]) << f.name;
        }
    }
    EXPECT_TRUE(names.count("Harbour.jpg"));
    EXPECT_FALSE(names.count("Sunset big.jpg"));
}

TEST(RecoverAll, ExfatCardWithDeletedFolderAndLiveFiles) {
    const std::string why = test::FuseUnavailableReason(true);
    if (!why.empty()) GTEST_SKIP() << why;
    if (!test::HaveTool("mount.exfat-fuse")) GTEST_SKIP() << "exfat-fuse missing";
    test::TempDir dir("hx-recover-exfat");
    const fs::path image = test::MakeExFatImage(dir / "card.img", {24, 4096, ""});
    REQUIRE_IMAGE(image);
    const Files deleted = {{"DCIM/100CANON/IMG_0001.JPG", test::MakeTestJpeg(31, 320, 240)},
                           {"DCIM/100CANON/IMG_0002.JPG", test::MakeTestJpeg(32, 400, 300)},
                           {"Old/trip.jpg", test::MakeTestJpeg(33, 300, 200)}};
    const Files live = {{"DCIM/100CANON/IMG_0003.JPG", test::MakeTestJpeg(34, 320, 240)},
                        {"notes.txt", test::PatternBytes(7000, 35)}};
    {
        test::FuseMount mount(test::FuseMount::Kind::Exfat, image, dir / "mnt");
        if (!mount.ok()) GTEST_SKIP() << mount.error();
        for (const Files* set : {&deleted, &live})
            for (const auto& [path, bytes] : *set) test::WriteFile(mount.dir() / path, bytes);
        fs::remove(mount.dir() / "DCIM/100CANON/IMG_0001.JPG");
        fs::remove(mount.dir() / "DCIM/100CANON/IMG_0002.JPG");
        fs::remove_all(mount.dir() / "Old");
        mount.unmount();
    }
    test::ScriptedUi ui;
    RecoverRequest req{image.string(), dir / "Recovered", "all", true, RecoverRequest::Layout::Found};
    const auto report = RecoverCommand(ui, req).run();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->fileSystem, "exFAT");
    for (const auto& [path, bytes] : deleted) EXPECT_TRUE(ReadFile(req.target / path) == bytes) << path;
    for (const auto& [path, bytes] : live) EXPECT_TRUE(ReadFile(req.target / path) == bytes) << path;
    EXPECT_EQ(countOrigin(*report, "undeleted"), 3);
    EXPECT_EQ(countOrigin(*report, "copied"), 2);
    Files all = deleted;
    all.insert(live.begin(), live.end());
    expectEachOnceAndOwn(*report, req.target, all);
}

// A deleted folder tree comes back under its folders (NTFS lists names in
// lower case). Temporary and backup folders are left out of the list of
// deleted files only: every file in use is copied, whatever its folder is called.
TEST(RecoverAll, NtfsCardGivesItsDeletedTreeAndLiveFilesButNotTheVolumesOwn) {
    const std::string why = test::FuseUnavailableReason(false);
    if (!why.empty() || !test::HaveTool("mkntfs") || !test::HaveTool("ntfs-3g")) GTEST_SKIP() << why;
    test::TempDir dir("hx-recover-ntfs");
    const fs::path image = test::MakeNtfsImage(dir / "card.img", {16, 4096});
    REQUIRE_IMAGE(image);
    const Files files = {{"gone.jpg", test::MakeTestJpeg(41, 320, 240)},
                         {"Trip/Day 1/beach.jpg", test::MakeTestJpeg(21, 320, 240)},
                         {"Trip/notes.txt", test::PatternBytes(5000, 22)},
                         {"Album/kept.jpg", test::MakeTestJpeg(42, 300, 200)},
                         {"small.txt", "resident bytes"},
                         {"Temp/a.jpg", test::PatternBytes(5000, 1)},
                         {"Templates/letter.txt", test::PatternBytes(900, 2)},
                         {"Photos Backup/b.jpg", test::PatternBytes(7000, 3)},
                         {"Temp/gone.tmp.jpg", test::PatternBytes(4000, 6)}};
    {
        test::FuseMount mount(test::FuseMount::Kind::Ntfs, image, dir / "mnt");
        if (!mount.ok()) GTEST_SKIP() << mount.error();
        for (const auto& [path, bytes] : files) test::WriteFile(mount.dir() / path, bytes);
        fs::remove(mount.dir() / "gone.jpg");
        fs::remove_all(mount.dir() / "Trip");
        fs::remove(mount.dir() / "Temp/gone.tmp.jpg");
        mount.unmount();
    }
    test::ScriptedUi ui;
    RecoverRequest req{image.string(), dir / "Recovered", "all", true, RecoverRequest::Layout::Found};
    const auto report = RecoverCommand(ui, req).run();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->fileSystem, "NTFS");
    EXPECT_EQ(countOrigin(*report, "undeleted"), 3);
    EXPECT_EQ(countOrigin(*report, "copied"), 5);
    auto either = [&](const fs::path& lower, const std::string& listed) {
        return ReadFile(req.target / lower) == files.at(listed) || ReadFile(req.target / listed) == files.at(listed);
    };
    EXPECT_TRUE(either("gone.jpg", "gone.jpg"));
    EXPECT_TRUE(either("trip/day 1/beach.jpg", "Trip/Day 1/beach.jpg"));
    EXPECT_TRUE(either("trip/notes.txt", "Trip/notes.txt"));
    for (const char* path : {"Temp/a.jpg", "Templates/letter.txt", "Photos Backup/b.jpg"})
        EXPECT_TRUE(ReadFile(req.target / path) == files.at(path)) << path;
    EXPECT_FALSE(fs::exists(req.target / "Temp/gone.tmp.jpg")) << "the deleted list keeps its rule";
    EXPECT_TRUE(either("album/kept.jpg", "Album/kept.jpg"));
    for (const auto& f : report->files) EXPECT_EQ(f.path.string().find('$'), std::string::npos) << f.path;
    expectEachOnceAndOwn(*report, req.target, files);
}

TEST(RecoverAll, TheReportShowsItsThumbnailsInABrowser) {
    std::string browser;
    for (const char* b : {"chromium", "chromium-browser"})
        if (test::HaveTool(b)) browser = b;
    if (browser.empty()) GTEST_SKIP() << "no chromium (scripts/install-deps.sh installs it)";
    test::TempDir dir("hx-recover-report");
    const fs::path image = test::MakeFatImage(dir / "card.img", {.fatBits = 16, .sizeKiB = 16384, .sectorsPerCluster = 4, .label = "CARD"});
    REQUIRE_IMAGE(image);
    for (int n = 0; n < 3; ++n)
        ASSERT_TRUE(test::FatPutFile(image, "PHOTO" + std::to_string(n) + ".JPG", test::MakeTestJpeg(50 + n, 320, 240)));
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(test::FatDelete(image, "PHOTO" + std::to_string(n) + ".JPG"));
    test::ScriptedUi ui;
    RecoverRequest req{image.string(), dir / "Recovered", "all", false, RecoverRequest::Layout::Found};
    const auto report = RecoverCommand(ui, req).run();
    ASSERT_TRUE(report);
    ASSERT_EQ(report->files.size(), 3u);
    ASSERT_TRUE(WriteRecoverReport(*report, req.target));
    const fs::path html = req.target / "report.html";
    const std::string flags = " --headless --no-sandbox --disable-gpu --allow-file-access-from-files ";
    std::string dom;
    ASSERT_EQ(test::RunCommand("{ " + browser + flags + "--dump-dom 'file://" + html.string() + "' 2>/dev/null; }", &dom), 0);
    // Each thumbnail was decoded and drawn by the browser.
    const std::regex shown("<img [^>]*data-shown=\"1\"");
    EXPECT_EQ(std::distance(std::sregex_iterator(dom.begin(), dom.end(), shown), std::sregex_iterator()), 3) << dom;
    for (int n = 0; n < 3; ++n) EXPECT_NE(dom.find("HOTO" + std::to_string(n) + ".JPG</a>"), std::string::npos) << dom;
    const fs::path shot = dir / "report.png";
    test::RunCommand(browser + flags + "--window-size=1280,800 --screenshot='" + shot.string() + "' 'file://" +
                     html.string() + "' >/dev/null 2>&1");
    ASSERT_TRUE(fs::exists(shot));
    EXPECT_GT(fs::file_size(shot), 10000u);
}

}  // namespace
}  // namespace hx::output
