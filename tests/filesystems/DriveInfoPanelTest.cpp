// The information panel, the speed test and the drive choice, through the
// scripted Ui and on real images.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fixtures/MediaImages.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/DriveInfoPanel.h"
#include "platform/DriveCatalogue.h"

using namespace hx;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
        out.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    out.push_back(text.substr(start));
    return out;
}

// A clock for the speed test that moves by `check` seconds at every loop
// check and by pass(k) seconds during the k-th timed pass. The test reads the
// clock once for t0, then three times per round: check, pass start, pass end.
filesystems::SecondsClock scriptedClock(double check, std::function<double(int)> pass, int* rounds) {
    auto now = std::make_shared<double>(100.0);
    auto calls = std::make_shared<int>(0);
    return [=]() {
        const int call = (*calls)++;
        if (call > 0) {
            const int phase = (call - 1) % 3, round = (call - 1) / 3;
            if (phase == 0) *now += check;
            if (phase == 2) *now += pass(round);
            *rounds = round + 1;
        }
        return *now;
    };
}

}  // namespace

TEST(DriveInfoPanel, WrapsAtSeparatorsAndKeepsElevenLines) {
    EXPECT_EQ(filesystems::FormatInfo("short line"), "short line");
    const std::string path = "File /home/user/DiskImages/very/long/folder/name/card-backup.img";
    auto wrapped = lines(filesystems::FormatInfo(path));
    ASSERT_GE(wrapped.size(), 2u);
    for (const auto& l : wrapped) EXPECT_LE(l.size(), filesystems::kInfoLineWidth);
    EXPECT_EQ(wrapped[0].back(), '/');
    std::string joined;
    for (const auto& l : wrapped) joined += l;
    EXPECT_EQ(joined, path);
    // No separator: cut after the 35th character.
    auto plain = lines(filesystems::FormatInfo(std::string(80, 'x')));
    EXPECT_EQ(plain[0].size(), 35u);

    std::string many;
    for (int i = 0; i < 14; ++i) many += (i ? "\r\n" : "") + std::to_string(i);
    auto kept = lines(filesystems::TruncateInfo(many));
    ASSERT_EQ(kept.size(), 11u);
    EXPECT_EQ(kept.back(), "10");
}

TEST(DriveInfoPanel, ShowsTheCataloguedDriveAndItsSpeedOnlyForIt) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "a-rather-long-name-for-a-card-image.img", {.fatBits = 32, .label = "MYCARD"});
    REQUIRE_IMAGE(img);
    auto other = test::MakeFatImage(dir / "b.img", {12});
    test::ScriptedUi ui;
    filesystems::DriveSession session;

    filesystems::ShowDriveInfo(ui, session, img.string());
    const std::string text = ui.captions["lblSpecs"];
    auto shown = lines(text);
    EXPECT_LE(shown.size(), filesystems::kInfoMaxLines);
    for (const auto& l : shown) EXPECT_LE(l.size(), filesystems::kInfoLineWidth) << l;
    EXPECT_NE(text.find("Volume Label: MYCARD"), std::string::npos);
    EXPECT_NE(text.find("Serial Number: &H1234ABCD"), std::string::npos);
    EXPECT_NE(text.find("File System: FAT32"), std::string::npos);
    // The type starts its own line, however long the path; an image says so.
    EXPECT_NE(text.find("\r\nType: Fixed\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Interface: image file"), std::string::npos) << text;
    EXPECT_EQ(text.find("Read speed:"), std::string::npos);
    EXPECT_EQ(session.record.Drive, img.string());

    session.speed = {img.string(), 12.345};
    EXPECT_NE(filesystems::DriveInfoText(session, img.string()).find("Read speed: 12.35 MB/sec"), std::string::npos);
    // Another drive hides the speed until it is measured itself.
    EXPECT_EQ(filesystems::DriveInfoText(session, other.string()).find("Read speed:"), std::string::npos);

    // A disk image under DiskImages shows its file name, not a drive.
    auto diskImage = filesystems::DriveInfoText(session, "/home/u/DiskImages/card.img");
    EXPECT_EQ(diskImage.rfind("File card.img", 0), 0u);
    EXPECT_EQ(diskImage.find("Serial Number:"), std::string::npos);
}

TEST(SpeedTest, RunsAtLeastFiveAndAtMostFifteenSeconds) {
    test::TempDir dir;
    // Sparse: reads are fast and the file is long enough for every pass.
    test::WriteFile(dir / "disk.img", "");
    std::filesystem::resize_file(dir / "disk.img", 2ull << 30);
    const std::string drive = (dir / "disk.img").string();

    // Steady medium, 3 MiB per 0.01 s: the average settles within half a
    // second, yet the test goes on to 5 s.
    int rounds = 0;
    double speed = 0;
    ASSERT_TRUE(filesystems::MeasureReadSpeed(drive, speed, nullptr, nullptr,
                                        scriptedClock(0.01, [](int) { return 0.01; }, &rounds)));
    EXPECT_NEAR(speed, 300.0, 1e-6);
    EXPECT_NEAR(rounds * 0.02, 5.0, 0.05);

    // Ever faster: the average never catches up; cut off after 15 s.
    ASSERT_TRUE(filesystems::MeasureReadSpeed(drive, speed, nullptr, nullptr,
                                        scriptedClock(1.0, [](int k) { return 1.0 / (k + 1); }, &rounds)));
    EXPECT_GE(rounds, 12);
    EXPECT_LE(rounds, 17);
    EXPECT_GT(speed, 30.0);

    // A medium that ends stops the test at the next check.
    test::WriteFile(dir / "small.img", std::string(5 << 20, 'x'));
    ASSERT_TRUE(filesystems::MeasureReadSpeed((dir / "small.img").string(), speed, nullptr, nullptr,
                                        scriptedClock(0.2, [](int) { return 0.1; }, &rounds)));
    EXPECT_LE(rounds, 3);  // warm-up 1 MiB, a full pass, then the end
}

TEST(SpeedTest, CommandReportsUnreadableDrivesAndIgnoresSecondStart) {
    test::TempDir dir;
    test::ScriptedUi ui;
    filesystems::DriveSession session;
    filesystems::CmdMaxSpeed_Click(ui, session, (dir / "gone.img").string());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.rfind("Drive not readable or damaged. (", 0), 0u) << ui.messages[0].text;
    EXPECT_EQ(ui.messages[0].title, "Speed test");
    EXPECT_EQ(ui.captions["CmdMaxSpeed"], "Test Speed");
    EXPECT_TRUE(session.speed.drive.empty());

    test::WriteFile(dir / "locked.img", std::string(4096, 'x'));
    ::chmod((dir / "locked.img").c_str(), 0);
    if (::geteuid() != 0) {  // root opens anything
        filesystems::CmdMaxSpeed_Click(ui, session, (dir / "locked.img").string());
        ASSERT_EQ(ui.messages.size(), 2u);
        EXPECT_NE(ui.messages[1].text.find("may not be opened by this user"), std::string::npos);
    }

    ui.captions["CmdMaxSpeed"] = "Busy..";
    filesystems::CmdMaxSpeed_Click(ui, session, (dir / "gone.img").string());
    filesystems::CmdMaxSpeed_Click(ui, session, (dir / "gone.img").string(), true);
    EXPECT_LE(ui.messages.size(), 2u);
    EXPECT_EQ(ui.captions["CmdMaxSpeed"], "Busy..");
}

TEST(DriveChoice, RefusesADriveThatIsNotReadyAndCataloguesAReadyOne) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "card.img", {16});
    REQUIRE_IMAGE(img);
    test::ScriptedUi ui;
    filesystems::DriveSession session;

    const std::string missing = (dir / "gone.img").string();
    EXPECT_EQ(filesystems::Drive1_Change(ui, session, missing, img.string(), true, 0), img.string());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Drive " + missing + " not ready.");
    EXPECT_EQ(ui.messages[0].title, "Select drive");
    EXPECT_EQ(ui.captions["Drive1"], img.string());

    // A removable drive that went away also asks for a medium.
    ASSERT_TRUE(platform::AttachImage(img.string() + ",removable"));
    const std::string attached = std::filesystem::absolute(img).string();
    std::filesystem::rename(img, dir / "away.img");
    filesystems::Drive1_Change(ui, session, attached, "", true, 0);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_NE(ui.messages[1].text.find("\nPlease insert disk or suitable medium."), std::string::npos);
    std::filesystem::rename(dir / "away.img", img);

    EXPECT_EQ(filesystems::Drive1_Change(ui, session, attached, "", false, 0), attached);
    EXPECT_EQ(ui.captions["CmdBackup"], "Backup " + attached);
    EXPECT_TRUE(ui.enabled["CmdBackup"]);
    EXPECT_TRUE(ui.enabled["CmdScan"]);
    EXPECT_TRUE(ui.enabled["CmdQuickUndelete"]);
    EXPECT_EQ(ui.captions["CmdShowThumbs"], "Thumbs Scan");
    EXPECT_EQ(session.record.DriveType, media::DriveKind::Removable);
    EXPECT_NE(ui.captions["lblSpecs"].find("File System: FAT16"), std::string::npos);
    platform::DetachAllImages();
}
