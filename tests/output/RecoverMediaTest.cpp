// Recover everything on exFAT and NTFS cards with live files too, and the
// report as a browser shows it.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "fixtures/MediaImages.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "fixtures/UndeleteFixtures.h"
#include "output/RecoverAll.h"

namespace hx::output {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

using Files = std::map<std::string, std::string>;

// Every file of the report is one of `originals`, and none is there twice.
void expectEachOnceAndOwn(const RecoverReport& report, const fs::path& target, const Files& originals) {
    std::set<std::string> contents;
    for (const auto& f : report.files) {
        const std::string bytes = ReadFile(target / f.path);
        EXPECT_TRUE(contents.insert(bytes).second) << f.path << " is there twice";
        bool known = false;
        for (const auto& [path, o] : originals) known = known || o == bytes;
        if (f.origin != "carved") {
            EXPECT_TRUE(known) << f.path << " holds bytes of no original";
        }
    }
}

int countOrigin(const RecoverReport& report, const std::string& origin) {
    int n = 0;
    for (const auto& f : report.files) n += f.origin == origin;
    return n;
}

TEST(RecoverMedia, ExfatCardWithDeletedFolderAndLiveFiles) {
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

TEST(RecoverMedia, NtfsCardGivesItsLiveFilesTooButNotTheVolumesOwn) {
    const std::string why = test::FuseUnavailableReason(false);
    if (!why.empty() || !test::HaveTool("mkntfs") || !test::HaveTool("ntfs-3g")) GTEST_SKIP() << why;
    test::TempDir dir("hx-recover-ntfs-live");
    const fs::path image = test::MakeNtfsImage(dir / "card.img", {16, 4096});
    REQUIRE_IMAGE(image);
    // Temporary and backup folders are left out of the list of deleted files
    // only: every file in use is copied, whatever its folder is called.
    const Files files = {{"gone.jpg", test::MakeTestJpeg(41, 320, 240)},
                         {"Album/kept.jpg", test::MakeTestJpeg(42, 300, 200)},
                         {"small.txt", "resident bytes"},
                         {"Temp/a.jpg", test::PatternBytes(5000, 1)},
                         {"Templates/letter.txt", test::PatternBytes(900, 2)},
                         {"Photos Backup/b.jpg", test::PatternBytes(7000, 3)},
                         {"Temp/gone.tmp.jpg", test::PatternBytes(4000, 6)}};
    {
        test::FuseMount mount(test::FuseMount::Kind::Ntfs, image, dir / "mnt");
        if (!mount.ok()) GTEST_SKIP() << mount.error();
        for (const auto& [path, bytes] : files) {
            fs::create_directories((mount.dir() / path).parent_path());
            test::WriteFile(mount.dir() / path, bytes);
        }
        fs::remove(mount.dir() / "gone.jpg");
        fs::remove(mount.dir() / "Temp/gone.tmp.jpg");
        mount.unmount();
    }
    test::ScriptedUi ui;
    RecoverRequest req{image.string(), dir / "Recovered", "all", true, RecoverRequest::Layout::Found};
    const auto report = RecoverCommand(ui, req).run();
    ASSERT_TRUE(report);
    EXPECT_EQ(countOrigin(*report, "undeleted"), 1);
    EXPECT_EQ(countOrigin(*report, "copied"), 5);
    EXPECT_TRUE(ReadFile(req.target / "gone.jpg") == files.at("gone.jpg"));
    for (const char* path : {"Temp/a.jpg", "Templates/letter.txt", "Photos Backup/b.jpg"})
        EXPECT_TRUE(ReadFile(req.target / path) == files.at(path)) << path;
    EXPECT_FALSE(fs::exists(req.target / "Temp/gone.tmp.jpg")) << "the deleted list keeps its rule";
    EXPECT_TRUE(ReadFile(req.target / "album" / "kept.jpg") == files.at("Album/kept.jpg") ||
                ReadFile(req.target / "Album" / "kept.jpg") == files.at("Album/kept.jpg"));
    for (const auto& f : report->files) EXPECT_EQ(f.path.string().find('$'), std::string::npos) << f.path;
    expectEachOnceAndOwn(*report, req.target, files);
}

TEST(RecoverMedia, TheReportShowsItsThumbnailsInABrowser) {
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
