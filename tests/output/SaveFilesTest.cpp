// Saving found files: the chooser's rules, same names, and saves that fail
// half-way on a real second file system (an NTFS image mounted by ntfs-3g).
#include <gtest/gtest.h>

#include <cerrno>

#include "fixtures/MediaImages.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "filesystems/DriveInfo.h"
#include "output/SaveFiles.h"
#include "platform/DriveCatalogue.h"
#include "platform/FileMove.h"
#include "scan/ScanState.h"
#include "fixtures/UndeleteFixtures.h"

namespace hx::output {
namespace {

namespace fs = std::filesystem;
using shell::Answer;
using test::PatternBytes;
using test::ReadFile;
using test::WriteFile;

class SaveFiles : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(cache); }
    void TearDown() override { platform::SetCopyFailureHook({}); }
    // Found files in the cache, row for row.
    void found(const std::vector<std::pair<std::string, std::string>>& files) {
        for (const auto& [name, bytes] : files) {
            if (!bytes.empty() || name.find("empty") != std::string::npos) WriteFile(cache / name, bytes);
            req.names.push_back(name);
            contents[name] = bytes;
        }
    }
    SaveCommand command() {
        req.cacheFolder = cache;
        return SaveCommand(ui, req);
    }
    bool inCache(const std::string& name) const { return fs::exists(cache / name); }

    test::TempDir dir{"hx-save"};
    fs::path cache = dir / "QXCache";
    SaveRequest req;
    std::map<std::string, std::string> contents;
    test::ScriptedUi ui;
};

TEST(SaveAsName, TheFoundFilesExtensionWins) {
    EXPECT_EQ(SaveAsName("/x/holiday.png", ".jpg"), "/x/holiday.jpg");
    EXPECT_EQ(SaveAsName("/x/holiday", ".jpg"), "/x/holiday.jpg");
    EXPECT_EQ(SaveAsName("/x/holiday.JPG", ".jpg"), "/x/holiday.JPG");
    EXPECT_EQ(SaveAsName("/x/my.trip.png", ".cr2"), "/x/my.trip.cr2");
}

TEST_F(SaveFiles, SaveAllAsksAboutSameNamesAndNeverReplacesSilently) {
    found({{"img_0001.jpg", PatternBytes(5000, 1)}, {"R#0001.jpg", PatternBytes(7000, 2)}, {"R#0002.jpg", PatternBytes(900, 3)},
           {"empty.dat", ""}});
    const fs::path target = dir / "Photos";
    WriteFile(target / "IMG_0001.JPG", "the user's own photo");
    WriteFile(target / "R#0001.jpg", "an earlier save");
    WriteFile(target / "R#0002.jpg", "another earlier save");
    ui.inputs = {target.string()};
    // The same-name question; then R#0001.jpg: keep both; R#0002.jpg: skip.
    ui.answers = {Answer::Yes, Answer::No, Answer::Cancel};
    auto save = command();
    const SaveOutcome out = save.SaveAll();
    EXPECT_TRUE(ui.shownContaining("allready has files with the same name"));
    EXPECT_TRUE(ui.answers.empty());
    EXPECT_EQ(out.moved, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(out.skipped, 1);
    EXPECT_EQ(ReadFile(target / "IMG_0001.JPG"), "the user's own photo");
    EXPECT_EQ(ReadFile(target / "R#0001.jpg"), "an earlier save");
    EXPECT_TRUE(ReadFile(target / "R#0001_0.jpg") == contents["R#0001.jpg"]);
    EXPECT_EQ(ReadFile(target / "R#0002.jpg"), "another earlier save");
    EXPECT_TRUE(inCache("R#0002.jpg"));
    // A found file of no length stays in the cache.
    EXPECT_TRUE(inCache("empty.dat"));
    EXPECT_FALSE(inCache("img_0001.jpg"));

    // No to the same-name question goes back to the chooser; Cancel there ends it.
    ui.inputs = {target.string(), std::nullopt};
    ui.answers = {Answer::No};
    EXPECT_TRUE(command().SaveAll().cancelled);
    EXPECT_TRUE(inCache("R#0002.jpg"));
}

TEST_F(SaveFiles, SaveAsOfOneFileAndOfSeveral) {
    found({{"R#0000.jpg", PatternBytes(3000, 4)}, {"R#0001.cr2", PatternBytes(4000, 5)}, {"R#0002.jpg", PatternBytes(100, 6)}});
    ui.inputs = {(dir / "out" / "holiday.png").string()};
    SaveOutcome one = command().SaveAs({0});
    ASSERT_EQ(one.targets.size(), 1u);
    EXPECT_EQ(one.targets[0], dir / "out" / "holiday.jpg");
    EXPECT_TRUE(ReadFile(dir / "out" / "holiday.jpg") == contents["R#0000.jpg"]);

    ui.inputs = {(dir / "many").string()};
    SaveOutcome many = command().SaveAs({1, 2});
    EXPECT_EQ(many.moved, (std::vector<std::size_t>{2, 1}));  // from the last row up
    EXPECT_TRUE(ReadFile(dir / "many" / "R#0001.cr2") == contents["R#0001.cr2"]);

    EXPECT_TRUE(command().SaveAs({}).cancelled);
    EXPECT_TRUE(ui.shownContaining("Please select a file and try again."));
}

TEST_F(SaveFiles, ACacheFileThatVanishedIsNamedAndTheRestIsSaved) {
    found({{"R#0000.jpg", PatternBytes(3000, 7)}, {"R#0001.jpg", PatternBytes(3000, 8)}});
    fs::remove(cache / "R#0000.jpg");
    ui.inputs = {(dir / "out").string()};
    const SaveOutcome out = command().SaveAll();
    EXPECT_EQ(out.moved, (std::vector<std::size_t>{1}));
    EXPECT_TRUE(ui.shownContaining("R#0000.jpg is no longer in the cache folder " + cache.string()));
}

TEST_F(SaveFiles, MovesAcrossFileSystemsAreWholeOrNotAtAll) {
    const std::string why = test::FuseUnavailableReason(false);
    if (!why.empty() || !test::HaveTool("mkntfs") || !test::HaveTool("ntfs-3g")) GTEST_SKIP() << why;
    const fs::path image = test::MakeNtfsImage(dir / "card.img", {16, 4096});
    REQUIRE_IMAGE(image);
    test::FuseMount mount(test::FuseMount::Kind::Ntfs, image, dir / "mnt");
    if (!mount.ok()) GTEST_SKIP() << mount.error();
    ASSERT_FALSE(platform::SameFileSystem(cache, mount.dir()));
    found({{"R#0000.jpg", PatternBytes(3 << 20, 9)}, {"R#0001.jpg", PatternBytes(3 << 20, 10)},
           {"R#0002.jpg", PatternBytes(4000, 11)}});

    // The card that was scanned is refused as a target, and the chooser comes again.
    req.scanned = {image.string(), 0};
    ui.inputs = {(mount.dir() / "Saved").string(), (dir / "elsewhere").string(), std::nullopt};
    SaveCommand refusing = command();
    EXPECT_TRUE(refusing.ChooseSaveFolder("Save All"));
    EXPECT_TRUE(ui.shownContaining("You are trying to save to the disk recovered from."));
    EXPECT_EQ(refusing.saveFolder(), dir / "elsewhere/");
    EXPECT_TRUE(OnScannedMedium(mount.dir() / "deep" / "er", req.scanned));
    EXPECT_FALSE(OnScannedMedium(dir.path(), req.scanned));
    // The card by its volume serial (as Searched.dat records it), whatever its drive id now.
    const std::uint32_t serial = VolumeSerial(mount.dir());
    EXPECT_NE(serial, 0u);
    EXPECT_EQ(serial, filesystems::ParseBootSectorBytes(reinterpret_cast<const std::uint8_t*>(ReadFile(image).data()), 512).SerialNumber);
    EXPECT_TRUE(OnScannedMedium(mount.dir() / "x", {"/dev/sdq1", serial}));
    EXPECT_EQ(VolumeSerial(dir.path()), 0u);
    // The system's own disk is no scanned medium to keep off.
    EXPECT_FALSE(OnScannedMedium(dir.path(), {platform::SystemDrive(), 0}));

    // Another card: the disk fills up in the middle of the second file.
    req.scanned = {};
    platform::SetCopyFailureHook([](const fs::path& target, std::uint64_t written) {
        return target.filename() == "R#0001.jpg" && written >= (1u << 20) ? ENOSPC : 0;
    });
    ui.inputs = {mount.dir().string()};
    const SaveOutcome out = command().SaveAll();
    EXPECT_TRUE(out.stopped);
    EXPECT_EQ(out.moved, (std::vector<std::size_t>{0}));
    EXPECT_EQ(out.targets[0], mount.dir() / "Recovered" / "R#0000.jpg");  // a mount root gets Recovered/
    EXPECT_TRUE(ReadFile(out.targets[0]) == contents["R#0000.jpg"]);
    EXPECT_FALSE(inCache("R#0000.jpg"));
    // Nothing half-written, nothing lost.
    EXPECT_FALSE(fs::exists(mount.dir() / "Recovered" / "R#0001.jpg"));
    EXPECT_TRUE(ReadFile(cache / "R#0001.jpg") == contents["R#0001.jpg"]);
    EXPECT_TRUE(inCache("R#0002.jpg"));
    EXPECT_TRUE(ui.shownContaining("is full: R#0001.jpg did not fit"));

    // A read-only target says so and keeps the file.
    platform::SetCopyFailureHook([](const fs::path&, std::uint64_t) { return EROFS; });
    const platform::MoveResult ro = platform::MoveFile(cache / "R#0002.jpg", mount.dir() / "R#0002.jpg");
    EXPECT_EQ(ro.error, platform::MoveError::ReadOnly);
    EXPECT_TRUE(inCache("R#0002.jpg"));
    EXPECT_FALSE(fs::exists(mount.dir() / "R#0002.jpg"));
}

TEST_F(SaveFiles, SearchedFileRecordsTheScannedDrive) {
    ASSERT_TRUE(scan::WriteSearchedFile(cache, "/dev/sdz1", 0xA1B2C3D4u));
    std::string drive;
    std::uint32_t serial = 0;
    ASSERT_TRUE(scan::ReadSearchedFile(cache, 9, drive, serial));
    EXPECT_EQ(drive, "/dev/sdz1");
    EXPECT_EQ(serial, 0xA1B2C3D4u);
    EXPECT_EQ(ReadFile(cache / "Searched.dat"), std::string("/dev/sdz1\xD4\xC3\xB2\xA1", 13));
    EXPECT_FALSE(scan::ReadSearchedFile(cache, 12, drive, serial));
}

}  // namespace
}  // namespace hx::output
