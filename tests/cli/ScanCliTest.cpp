#include <gtest/gtest.h>

#include <regex>

#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"

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

TEST(ScanCli, RecoversAFormattedCardAndListsEveryFile) {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
    test::TempDir dir("hx-cli-scan");
    const fs::path image = dir / "card.img";
    ASSERT_TRUE(test::MakeFatCard(image, 300, 8));
    std::vector<std::string> photos;
    for (int n = 0; n < 4; ++n) {
        photos.push_back(test::MakeTestJpeg(n, 1600, 1200));
        test::WriteFile(dir / "p.jpg", photos.back());
        ASSERT_TRUE(test::CopyToCard(image, dir / "p.jpg", "P" + std::to_string(n) + ".JPG"));
    }
    ASSERT_TRUE(test::DeleteFromCard(image, "P1.JPG"));
    ASSERT_TRUE(test::QuickFormatCard(image));

    const std::string q = "'" + dir.path().string() + "'";
    int rc = -1;
    const std::string json = cli("--cache " + q + " scan '" + image.string() + "' --types jpg,tif --json", &rc);
    EXPECT_EQ(rc, 0) << json;
    const std::regex entry(R"re(\{"name":"(R#\d+\.jpg)","type":"jpg","description":"[^"]*","size":(\d+),"startUnit":(\d+)\})re");
    std::size_t listed = 0;
    for (std::sregex_iterator it(json.begin(), json.end(), entry), end; it != end; ++it, ++listed) {
        const std::string bytes = test::ReadFile(dir / "QXCache" / (*it)[1].str());
        EXPECT_EQ(std::to_string(bytes.size()), (*it)[2].str());
        EXPECT_NE(std::find(photos.begin(), photos.end(), bytes), photos.end()) << (*it)[1].str();
    }
    EXPECT_EQ(listed, 4u) << json;

    // A new scan over the old results asks first; without a terminal the answer is No.
    const std::string refused = cli("--cache " + q + " scan '" + image.string() + "' --types jpg", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(fs::exists(dir / "QXCache" / "R#0000.jpg"));
    const std::string text = cli("--cache " + q + " scan '" + image.string() + "' --types jpg --yes", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(text.find("jpg: 4 files"), std::string::npos) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(Finished: +\d+ seconds\. Average: \d+\.\d MB/sec\n$)"))) << text;

    const std::string exif = cli("exif '" + (dir / "QXCache" / "R#0000.jpg").string() + "'", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(exif.find("Width: 1600"), std::string::npos) << exif;
}
