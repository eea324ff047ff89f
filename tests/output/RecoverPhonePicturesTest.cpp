// Recover of phone pictures of more than one picture: deleted from a folder,
// the undelete gives each back whole by its entry and nothing is carved
// twice; found by its contents alone, a motion photo is named as the phone
// named it and the report tells its clip; saved, its clip may be written
// beside it.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/MediaImages.h"
#include "fixtures/PhonePictures.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "output/RecoverAll.h"
#include "output/SaveFiles.h"
#include "viewing/SamplePhoto.h"

namespace hx::output {
namespace {

namespace fs = std::filesystem;

class RecoverPhonePictures : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"ffmpeg", "exiftool", "mkfs.fat", "mcopy"})
            if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " missing (scripts/install-deps.sh installs it)";
        clip = test::MakeClip(1.5, 5);
        if (clip.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    }
    std::string clip;
};

TEST_F(RecoverPhonePictures, DeletedFromAFolderEachComesBackWholeOnce) {
    test::TempDir dir("hx-recover-phone");
    const fs::path image =
        test::MakeFatImage(dir / "card.img", {.fatBits = 32, .sizeKiB = 65536, .sectorsPerCluster = 1, .label = ""});
    ASSERT_FALSE(image.empty());
    const std::map<std::string, std::string> files = {
        {"DCIM/Camera/PXL_0001.MP.jpg", test::ContainerMotionPhoto(test::MakeTestJpeg(41, 800, 600), clip)},
        {"DCIM/Camera/SAM_0002.jpg", test::SamsungMotionPhoto(test::MakeTestJpeg(42, 800, 600), clip)},
        {"DCIM/Camera/HDR_0003.jpg",
         test::MpfPhoto(test::MakeTestJpeg(43, 800, 600), test::MakeTestJpeg(44, 400, 300, 80), false, true)}};
    for (const auto& [name, bytes] : files) ASSERT_TRUE(test::FatPutFile(image, name, bytes));
    ASSERT_TRUE(test::FatDelete(image, "DCIM/Camera"));
    test::ScriptedUi ui;
    RecoverRequest req{image.string(), dir / "Recovered"};
    const auto report = RecoverCommand(ui, req).run();
    ASSERT_TRUE(report);
    std::map<std::string, int> copies;
    for (const auto& f : report->files) ++copies[test::ReadFile(req.target / f.path)];
    for (const auto& [name, bytes] : files) EXPECT_EQ(copies[bytes], 1) << name;
    EXPECT_EQ(report->files.size(), files.size()) << "a part was also recovered on its own";
}

TEST_F(RecoverPhonePictures, FoundByItsContentsAMotionPhotoIsNamedAsThePhoneNamedIt) {
    test::TempDir dir("hx-recover-motion");
    const std::string motion = test::MicroVideoPhoto(test::MakeTestJpeg(45, 800, 600), clip);
    const std::string hdr = test::MpfPhoto(test::MakeTestJpeg(46, 800, 600), test::MakeTestJpeg(47, 400, 300, 80), true, true);
    const fs::path image = dir / "card.img";
    test::WriteFile(image, test::BareMedium({motion, hdr}));
    test::ScriptedUi ui;
    RecoverRequest req{image.string(), dir / "Recovered"};
    const auto report = RecoverCommand(ui, req).run();
    ASSERT_TRUE(report);
    ASSERT_EQ(report->files.size(), 2u);
    const std::string when = viewing::SamplePhotoDate(45);  // "YYYY:MM:DD HH:MM:SS"
    const std::string name = "PXL_" + when.substr(0, 4) + when.substr(5, 2) + when.substr(8, 2) + "_" +
                             when.substr(11, 2) + when.substr(14, 2) + when.substr(17, 2) + "000.MP.jpg";
    bool named = false, gainMap = false;
    for (const auto& f : report->files) {
        const std::string bytes = test::ReadFile(req.target / f.path);
        if (bytes == motion) {
            named = f.path.filename() == name;
            EXPECT_EQ(f.note, "motion photo, 1.5 s clip");
            EXPECT_TRUE(f.whole);
        }
        if (bytes == hdr) gainMap = f.note == "with gain map";
    }
    EXPECT_TRUE(named) << "not back whole as " << name;
    EXPECT_TRUE(gainMap);
}

TEST_F(RecoverPhonePictures, SavedWithItsClipBesideTheClipIsTheOneInside) {
    test::TempDir dir("hx-save-motion");
    const fs::path cache = dir / "cache", target = dir / "Saved";
    const std::string samsung = test::SamsungMotionPhoto(test::MakeTestJpeg(48, 640, 480), clip);
    const std::string plain = test::MakeTestJpeg(49, 640, 480);
    test::WriteFile(cache / "R#0000.jpg", samsung);
    test::WriteFile(cache / "R#0001.jpg", plain);
    test::ScriptedUi ui;
    SaveRequest req;
    req.cacheFolder = cache;
    req.names = {"R#0000.jpg", "R#0001.jpg"};
    req.presetFolder = req.saveFolder = target;
    req.sameName = SaveRequest::SameName::KeepBoth;
    req.clipsBeside = true;
    ui.answers = {shell::Answer::Yes};
    const SaveOutcome out = SaveCommand(ui, req).SaveAll();
    ASSERT_EQ(out.targets.size(), 2u);
    EXPECT_EQ(test::ReadFile(target / "R#0000.jpg"), samsung);
    EXPECT_EQ(test::ReadFile(target / "R#0000.mp4"), clip);
    EXPECT_FALSE(fs::exists(target / "R#0001.mp4")) << "a photo without a clip gets none";
    std::string probed;
    test::RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + (target / "R#0000.mp4").string() + "'",
                     &probed);
    EXPECT_GT(std::atof(probed.c_str()), 1.0);
}

}  // namespace
}  // namespace hx::output
