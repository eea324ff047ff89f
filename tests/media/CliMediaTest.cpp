// harvestrix-cli drives / info / speed on real images, and every command that
// reads a device this user may not open.
#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>

#include "fixtures/MediaImages.h"
#include "fixtures/TempDir.h"

using namespace hx;
namespace fs = std::filesystem;

namespace {

// Standard output only: the result, without the progress on standard error.
int cli(const std::string& args, std::string& out) {
    return test::RunCommand("sh -c '" + test::CliCommand() + " " + args + " 2>/dev/null'", &out);
}

}  // namespace

TEST(CliMedia, InfoPrintsTheShortPanel) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "card.img", {.fatBits = 32, .label = "CARD"});
    REQUIRE_IMAGE(img);
    std::string out;
    ASSERT_EQ(cli("info " + img.string(), out), 0) << out;
    std::istringstream in(out);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        EXPECT_LE(line.size(), 36u) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos);
    }
    EXPECT_GE(lines, 8);
    EXPECT_LE(lines, 11);
    EXPECT_NE(out.find("File System: FAT32"), std::string::npos);
    EXPECT_NE(out.find("Volume Label: CARD"), std::string::npos);

    ASSERT_EQ(cli("info " + img.string() + " --json", out), 0);
    EXPECT_NE(out.find("\"fileSystem\":\"FAT32\""), std::string::npos);
    EXPECT_NE(out.find("\"firstDataSector\":"), std::string::npos);
}

TEST(CliMedia, DrivesListsAttachedImagesAndSpeedMeasures) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "stick.img", {16});
    REQUIRE_IMAGE(img);
    std::string out;
    ASSERT_EQ(cli("drives --attach " + img.string() + ",removable,label=STICK --json", out), 0);
    EXPECT_NE(out.find("\"id\":\"" + img.string() + "\",\"type\":\"Removable\",\"label\":\"STICK\""),
              std::string::npos)
        << out;
    ASSERT_EQ(cli("drives --attach " + img.string(), out), 0);
    EXPECT_NE(out.find(img.string() + "\tFixed\t32.0 MB\tFAT16"), std::string::npos) << out;

    ASSERT_EQ(cli("speed " + img.string(), out), 0);
    EXPECT_EQ(out.rfind("Read speed: ", 0), 0u) << out;
    EXPECT_NE(cli("speed " + (dir / "none.img").string(), out), 0);
}

TEST(CliMedia, ADeviceThisUserMayNotOpenIsExplainedWithTheWaysIn) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "card.img", {16});
    REQUIRE_IMAGE(img);
    if (::geteuid() != 0 || !test::HaveTool("setpriv")) GTEST_SKIP() << "needs root and setpriv";
    test::LoopDevice loop(img);
    if (!loop.ok()) GTEST_SKIP() << test::MediaSkipReason();
    // The device node is root's (0600); user nobody is refused as a user without rights would be.
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups " + test::CliCommand();
    std::string out;
    if (test::RunCommand(asNobody + " version", &out) != 0) GTEST_SKIP() << "nobody cannot run the program here";
    EXPECT_NE(test::RunCommand(asNobody + " --lang 9 info " + loop.path(), &out), 0);
    EXPECT_NE(out.find(loop.path() + " may not be opened by this user.\nRun Harvestrix as root or as a member of the group 'disk'"),
              std::string::npos) << out;
    EXPECT_NE(out.find("File System: \n"), std::string::npos);  // the panel without the boot sector
    EXPECT_NE(test::RunCommand(asNobody + " --lang 9 speed " + loop.path(), &out), 0);
    EXPECT_NE(out.find("[Speed test] " + loop.path() + " may not be opened"), std::string::npos) << out;

    // Every command that reads it says the same, with 3, and leaves nothing behind.
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const fs::path open = dir / "open";
    fs::create_directories(open);
    fs::permissions(open, fs::perms::all);
    const std::string cache = " --cache '" + (open / "cache").string() + "' ";
    for (const std::string& command : {"scan " + loop.path() + " --new --yes", "undelete " + loop.path(),
                                       "recover " + loop.path() + " --to '" + (open / "out").string() + "'",
                                       "backup " + loop.path() + " --to '" + (open / "img").string() + "'"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(test::RunCommand(asNobody + " --lang 9" + cache + command + " 2>&1", &out), 3);
        EXPECT_NE(out.find(loop.path() + " may not be opened by this user."), std::string::npos) << out;
        EXPECT_EQ(out.find("No FAT, exFAT or NTFS"), std::string::npos) << out;
        // The program's own empty cache folders are made at every start; no file is.
        for (const auto& e : fs::recursive_directory_iterator(open))
            EXPECT_TRUE(e.is_directory()) << "left behind: " << e.path();
        EXPECT_FALSE(fs::exists(open / "out") || fs::exists(open / "img"));
    }

    // As root the same device reads like its image.
    ASSERT_EQ(test::RunCommand(test::CliCommand() + " --lang 9 info " + loop.path(), &out), 0);
    EXPECT_NE(out.find("File System: FAT16"), std::string::npos);
}
