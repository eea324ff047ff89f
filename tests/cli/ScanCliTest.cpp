#include <gtest/gtest.h>

#include <regex>

#include "fixtures/CardFixture.h"
#include "fixtures/PhonePictures.h"
#include "fixtures/SampleFiles.h"
#include "viewing/SamplePhoto.h"

using namespace hx;
namespace fs = std::filesystem;

namespace {
std::string cli(const std::string& args, int* rc = nullptr) {
    std::string out;
    const int status = test::RunCommand(test::CliCommand() + " " + args + " </dev/null 2>/dev/null", &out);
    if (rc) *rc = status;
    return out;
}
}  // namespace

using ScanCli = test::CardFixture;

TEST_F(ScanCli, RecoversAFormattedCardAndListsEveryFile) {
    makeCard();
    for (int n = 0; n < 4; ++n) putPhoto(n, 1600, 1200);
    ASSERT_TRUE(test::FatDelete(image, nameOf(1)));
    ASSERT_TRUE(test::QuickFormatCard(image));

    const std::string q = "'" + dir.path().string() + "'";
    int rc = -1;
    const std::string json = cli("--cache " + q + " scan '" + image.string() + "' --types jpg,tif --json", &rc);
    EXPECT_EQ(rc, 0) << json;
    const std::regex entry(R"re(\{"name":"(R#\d+\.jpg)","type":"jpg","description":"[^"]*","size":(\d+),"startUnit":(\d+),"unreadableSectors":0\})re");
    std::vector<std::string> listed;
    for (std::sregex_iterator it(json.begin(), json.end(), entry), end; it != end; ++it) {
        listed.push_back((*it)[1].str());
        EXPECT_EQ(std::to_string(fs::file_size(cache / listed.back())), (*it)[2].str());
    }
    EXPECT_EQ(intact(listed), (std::vector<int>{0, 1, 2, 3})) << json;

    // A new scan over the old results asks first; without a terminal the answer is No.
    const std::string refused = cli("--cache " + q + " scan '" + image.string() + "' --types jpg", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(fs::exists(cache / "R#0000.jpg"));
    const std::string text = cli("--cache " + q + " scan '" + image.string() + "' --types jpg --yes", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(text.find("jpg: 4 files"), std::string::npos) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(Finished: +\d+ seconds\. Average: \d+\.\d MB/sec\n$)"))) << text;

    const std::string exif = cli("exif '" + (cache / "R#0000.jpg").string() + "'", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(exif.find("Width: 1600"), std::string::npos) << exif;
}

TEST_F(ScanCli, SavesChosenRowsThenTheRest) {
    makeCard();
    for (int n = 0; n < 3; ++n) putPhoto(n, 800, 600);
    const std::string q = "'" + dir.path().string() + "'";
    int rc = -1;
    cli("--cache " + q + " scan '" + image.string() + "' --types jpg", &rc);
    ASSERT_EQ(rc, 0);
    const std::vector<std::string> names = {"IMG_1000.JPG", "IMG_1001.JPG", "IMG_1002.JPG"};

    // One chosen row as it was found, then the rest by the day each was taken.
    const fs::path out = dir / "Saved";
    std::string text = cli("--cache " + q + " save --to '" + out.string() + "' --select 2 --layout found --json", &rc);
    EXPECT_EQ(rc, 0) << text;
    EXPECT_NE(text.find("\"saved\":[\"" + (out / names[1]).string() + "\"]"), std::string::npos) << text;
    text = cli("--cache " + q + " save --to '" + out.string() + "'", &rc);
    EXPECT_EQ(rc, 0) << text;
    EXPECT_NE(text.find("2 files saved in " + out.string() + "/"), std::string::npos) << text;
    const auto dayOf = [](int n) {
        std::string day = viewing::SamplePhotoDate(n).substr(0, 10);  // "YYYY:MM:DD"
        day[4] = day[7] = '-';
        return "../Saved/" + day.substr(0, 4) + "/" + day + "/";
    };
    EXPECT_EQ(intact(std::vector<std::string>{dayOf(0) + names[0], "../Saved/" + names[1], dayOf(2) + names[2]}),
              (std::vector<int>{0, 1, 2}));
    EXPECT_NE(cli("--cache " + q + " save --to '" + out.string() + "' --layout flat", &rc).find("--layout"), std::string::npos);
    EXPECT_EQ(rc, 2);
    EXPECT_FALSE(fs::exists(cache / names[0]));

    EXPECT_NE(cli("--cache " + q + " save", &rc).find("save --to DIR"), std::string::npos);
    EXPECT_EQ(rc, 2);
}

TEST_F(ScanCli, SaveYesKeepsAFileOfTheSameNameAndOnlyReplaceReplacesIt) {
    makeCard();
    putPhoto(0, 800, 600);
    const std::string q = "'" + dir.path().string() + "'";
    const fs::path out = dir / "Saved";
    fs::create_directories(out);
    const std::string mine = "the user's own file";
    test::WriteFile(out / "IMG_1000.JPG", mine);
    int rc = -1;
    for (const char* how : {"--yes", "--replace"}) {
        cli("--cache " + q + " scan '" + image.string() + "' --types jpg --yes", &rc);
        ASSERT_EQ(rc, 0);
        const std::string text = cli("--cache " + q + " save --to '" + out.string() + "' --layout found " + how + " 2>&1", &rc);
        EXPECT_EQ(rc, 0) << text;
    }
    // --yes saved beside it under a number; --replace then took its place.
    std::vector<std::string> saved;
    for (const auto& e : fs::directory_iterator(out)) saved.push_back(e.path().filename().string());
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_TRUE(test::ReadFile(out / "IMG_1000.JPG") == photos[0]) << "replaced only when asked";
    const std::string numbered = saved[0] == "IMG_1000.JPG" ? saved[1] : saved[0];
    EXPECT_TRUE(test::ReadFile(out / numbered) == photos[0]) << numbered;
}

TEST_F(ScanCli, LearnsATypeFromAFolderListsItAndScansForIt) {
    test::TempDir samples;
    for (unsigned i = 0; i < 32; ++i)
        test::WriteFile(samples / ("s" + std::to_string(i) + ".hxq"), test::MakeLearnableSample(i, 2048 + i * 999));
    int rc = -1;
    const std::string learned = cli("learn --folder '" + samples.path().string() + "'", &rc);
    EXPECT_EQ(rc, 0) << learned;
    EXPECT_TRUE(std::regex_search(learned, std::regex(R"(hxq#\d  \d+ samples  reliability 9\d\.\d\d%  head 8 bytes)")))
        << learned;
    const std::string types = cli("types --json", &rc);
    EXPECT_EQ(types.rfind("[{\"type\":\"HXQ#", 0), 0u) << types.substr(0, 200);  // learned ones first
    EXPECT_NE(types.find("\"origin\":\"Adaptive\""), std::string::npos);

    makeCard(64, 4, 16);
    const std::string file = test::MakeLearnableSample(77, 20000);
    ASSERT_TRUE(test::FatPutFile(image, "DATA.HXQ", file));
    const std::string q = "'" + dir.path().string() + "'";
    const std::string json = cli("--cache " + q + " scan '" + image.string() + "' --types hxq --json --yes", &rc);
    EXPECT_EQ(rc, 0) << json;
    EXPECT_NE(json.find("\"type\":\"hxq\""), std::string::npos) << json.substr(0, 300);
    int same = 0;
    for (const auto& e : fs::directory_iterator(cache))
        same += e.is_regular_file() && test::ReadFile(e.path()) == file;
    EXPECT_EQ(same, 1);

    cli("learn --folder /nonexistent/folder", &rc);
    EXPECT_EQ(rc, 2);
}

// A motion photo's JSON row lists its parts and says what it is; save --clips
// writes its clip beside it.
TEST_F(ScanCli, AMotionPhotoListsItsPartsAndItsClipIsSavedBesideIt) {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing (scripts/install-deps.sh installs it)";
    const std::string clip = test::MakeClip(1.5, 8);
    if (clip.empty()) GTEST_SKIP() << "ffmpeg has no H.264";
    const std::string photo = test::MakeTestJpeg(60, 640, 480);
    const std::string motion = test::SamsungMotionPhoto(photo, clip);
    test::WriteFile(image, test::BareMedium({motion}, 8192));
    const std::string q = "'" + dir.path().string() + "'";
    int rc = -1;
    const std::string json = cli("--cache " + q + " scan '" + image.string() + "' --types jpg --json", &rc);
    ASSERT_EQ(rc, 0) << json;
    const std::size_t record = 8 + 16;  // the record's header and name before the clip
    const std::string parts = "\"parts\":[{\"kind\":\"picture\",\"offset\":0,\"length\":" + std::to_string(photo.size()) +
                              "},{\"kind\":\"clip\",\"offset\":" + std::to_string(photo.size() + record) +
                              ",\"length\":" + std::to_string(clip.size()) + "},{\"kind\":\"trailer\",\"offset\":" +
                              std::to_string(photo.size() + record + clip.size()) + ",\"length\":" +
                              std::to_string(motion.size() - photo.size() - record - clip.size()) +
                              "}],\"partsNote\":\"motion photo, 1.5 s clip\"";
    EXPECT_NE(json.find(parts), std::string::npos) << json;
    EXPECT_NE(json.find("\"size\":" + std::to_string(motion.size())), std::string::npos) << json;

    const fs::path out = dir / "Saved";
    const std::string text = cli("--cache " + q + " save --to '" + out.string() + "' --layout found --clips", &rc);
    EXPECT_EQ(rc, 0) << text;
    EXPECT_TRUE(test::ReadFile(out / "R#0000.jpg") == motion);
    EXPECT_TRUE(test::ReadFile(out / "R#0000.mp4") == clip);
}

TEST(SearchCli, FindsFilesOnTheNamedFolders) {
    test::TempDir d("hx-search-cli");
    test::WriteFile(d / "a" / "IMG_1.JPG", "x");
    test::WriteFile(d / "a" / "b" / "img_2.jpg", "y");
    test::WriteFile(d / "a" / "c.txt", "z");
    int rc = -1;
    const std::string out = cli("search '*.jpg' --drives '" + (d / "a").string() + "'", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find((d / "a" / "IMG_1.JPG").string() + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find((d / "a" / "b" / "img_2.jpg").string() + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("2 files found matching \"*.jpg\""), std::string::npos) << out;
}
