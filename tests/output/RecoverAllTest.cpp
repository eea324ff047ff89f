// Recover everything in one step, on a FAT32 card whose deleted photos lie in
// pieces between files that are still there.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "fixtures/MediaImages.h"
#include "fixtures/UndeleteFixtures.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "output/RecoverAll.h"
#include "viewing/Exif.h"
#include "viewing/PictureCheck.h"
#include "viewing/SamplePhoto.h"
#include "scan/ScanCommand.h"
#include "scan/ScanState.h"

namespace hx::output {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

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
fs::path fragmentedCard(const test::TempDir& dir, std::map<std::string, std::string>& originals) {
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
    std::map<std::string, std::string> originals;
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
    std::set<std::string> contents;
    for (const auto& f : report->files) {
        const std::string bytes = ReadFile(req.target / f.path);
        bool original = false;
        for (const auto& [name, o] : originals) original = original || o == bytes;
        EXPECT_TRUE(original) << f.path << " (" << f.origin << ") holds no original's bytes";
        EXPECT_TRUE(contents.insert(bytes).second) << f.path << " is there twice";
        EXPECT_TRUE(fs::exists(req.target / f.path));
    }
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
    EXPECT_NE(json.find("\"original\":\"\\\\Sunset big.jpg\",\"foundAt\":\"cluster "), std::string::npos) << json;
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
    EXPECT_TRUE(viewing::CheckJpegBuffer(reinterpret_cast<const std::uint8_t*>(small.data()), small.size()).complete);

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
    std::map<std::string, std::string> originals;
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
    std::string medium(4096, '\0');
    for (const std::string* p : {&a, &b}) {
        medium += *p;
        medium.resize((medium.size() + 4095) / 4096 * 4096 + 8192, '\0');
    }
    const fs::path image = dir / "card.img";
    test::WriteFile(image, medium);
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
    std::map<std::string, std::string> originals;
    const fs::path image = fragmentedCard(dir, originals);
    REQUIRE_IMAGE(image);
    test::ScriptedUi ui;
    scan::ScanRequest req;
    req.source = image.string();
    req.cacheFolder = dir / "QXCache";
    req.selection = scan::SelectionForTypes({"JPG"});
    req.smart = false;
    // The cache folder is made by the scan command itself.
    scan::ScanCommand command(ui, req);
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

TEST(RecoverAll, NtfsCardWithADeletedFolderTree) {
    const std::string why = test::FuseUnavailableReason(false);
    if (!why.empty() || !test::HaveTool("mkntfs") || !test::HaveTool("ntfs-3g")) GTEST_SKIP() << why;
    test::TempDir dir("hx-recover-ntfs");
    const fs::path image = test::MakeNtfsImage(dir / "card.img", {16, 4096});
    REQUIRE_IMAGE(image);
    const std::map<std::string, std::string> deleted = {
        {"Trip/Day 1/beach.jpg", test::MakeTestJpeg(21, 320, 240)},
        {"Trip/notes.txt", test::PatternBytes(5000, 22)},
        {"sunset.jpg", test::MakeTestJpeg(23, 400, 300)},
    };
    {
        test::FuseMount mount(test::FuseMount::Kind::Ntfs, image, dir / "mnt");
        if (!mount.ok()) GTEST_SKIP() << mount.error();
        for (const auto& [path, bytes] : deleted) {
            fs::create_directories((mount.dir() / path).parent_path());
            test::WriteFile(mount.dir() / path, bytes);
        }
        test::WriteFile(mount.dir() / "kept.jpg", test::MakeTestJpeg(24, 200, 150));
        fs::remove_all(mount.dir() / "Trip");
        fs::remove(mount.dir() / "sunset.jpg");
        mount.unmount();
    }
    test::ScriptedUi ui;
    RecoverRequest req;
    req.layout = RecoverRequest::Layout::Found;  // the card's own folders, checked below
    req.source = image.string();
    req.target = dir / "Recovered";
    const auto report = RecoverCommand(ui, req).run();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->fileSystem, "NTFS");
    // Each deleted file under its folder, with its name (NTFS lists names in lower case).
    EXPECT_TRUE(ReadFile(req.target / "trip" / "day 1" / "beach.jpg") == deleted.at("Trip/Day 1/beach.jpg") ||
                ReadFile(req.target / "Trip" / "Day 1" / "beach.jpg") == deleted.at("Trip/Day 1/beach.jpg"));
    std::set<std::string> contents;
    for (const auto& f : report->files) {
        const std::string bytes = ReadFile(req.target / f.path);
        EXPECT_TRUE(contents.insert(bytes).second) << f.path << " is there twice";
        if (f.origin == "undeleted") {
            bool original = false;
            for (const auto& [path, o] : deleted) original = original || o == bytes;
            EXPECT_TRUE(original) << f.path;
        }
    }
    int undeleted = 0;
    for (const auto& f : report->files) undeleted += f.origin == "undeleted";
    EXPECT_EQ(undeleted, 3);
}

}  // namespace
}  // namespace hx::output
