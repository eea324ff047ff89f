// Wipe, format and restore write a card only when it is a removable FAT card
// that is not the system disk, and only what they are meant to.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/MediaImages.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "filesystems/DriveInfo.h"
#include "output/MediumMaintenance.h"
#include "platform/DriveCatalogue.h"

namespace hx {
namespace fs = std::filesystem;

namespace {

media::DriveRecord Catalogued(const fs::path& image) {
    media::DriveRecord rec;
    filesystems::GetDriveInfo(fs::absolute(image).string(), rec);
    return rec;
}

}  // namespace

TEST(MediumMaintenance, AWipeZeroesTheDataAreaOfARemovableCardAndNothingElse) {
    test::TempDir dir;
    const fs::path img = test::MakeFatImage(dir / "card.img", {.fatBits = 32, .label = "HOLIDAY"});
    REQUIRE_IMAGE(img);
    ASSERT_TRUE(test::FatPutFile(img, "DCIM/IMG_0001.JPG", std::string(300000, 'p')));
    const std::string before = test::ReadFile(img);
    test::ScriptedUi ui;

    // A fixed disk (an image not attached as a card): refused, nothing written.
    const media::DriveRecord fixed = Catalogued(img);
    EXPECT_EQ(output::WipeMedium(ui, fixed, false, false), output::WipeOutcome::Refused);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("not a removable medium"), std::string::npos);

    ASSERT_TRUE(platform::AttachImage(img.string() + ",removable"));
    media::DriveRecord card = Catalogued(img);
    ASSERT_EQ(card.DriveType, media::DriveKind::Removable);
    // While another operation runs, or when it is the system disk: refused.
    EXPECT_EQ(output::WipeMedium(ui, card, false, true), output::WipeOutcome::Refused);
    media::DriveRecord system = card;
    system.IsSystem = true;
    EXPECT_EQ(output::WipeMedium(ui, system, false, false), output::WipeOutcome::Refused);
    // Cancel at the question.
    ui.answers = {shell::Answer::Cancel};
    EXPECT_EQ(output::WipeMedium(ui, card, false, false), output::WipeOutcome::Cancelled);
    EXPECT_TRUE(test::ReadFile(img) == before);

    // Stopped after its first block: zeros so far, and no format.
    ui.answers = {shell::Answer::OK};
    int blocks = 0;
    EXPECT_EQ(output::WipeMedium(ui, card, false, false, [&] { return ++blocks < 2; }), output::WipeOutcome::Stopped);
    EXPECT_TRUE(test::ReadFile(img).compare(0, 512, before, 0, 512) == 0);

    ui.answers = {shell::Answer::OK};
    EXPECT_EQ(output::WipeMedium(ui, card, false, false), output::WipeOutcome::Finished);
    EXPECT_NE(ui.messages.back().text.find("filling all sectors with zero's"), std::string::npos);
    const std::string after = test::ReadFile(img);
    ASSERT_EQ(after.size(), before.size());  // never past the end
    // Every byte of the photo is gone, and the card was formatted again:
    // FAT32 under its former label, with nothing on it.
    EXPECT_EQ(after.find(std::string(4096, 'p')), std::string::npos);
    const auto wiped = std::find(ui.statuses.begin(), ui.statuses.end(), "Status wipe: Finished");
    ASSERT_NE(wiped, ui.statuses.end());
    EXPECT_EQ(ui.statuses.back(), "Formatting disk " + card.Drive + " finished");
    const media::DriveRecord again = Catalogued(img);
    EXPECT_EQ(again.FileSystem, media::FileSystemKind::Fat32);
    EXPECT_EQ(again.VolumeLabel.substr(0, 7), "HOLIDAY");
    EXPECT_NE(test::RunCommand("mdir -i '" + img.string() + "' ::/DCIM >/dev/null 2>&1"), 0) << "DCIM is gone";
    platform::DetachAllImages();
}

TEST(MediumMaintenance, AnExfatCardIsFormattedAsExfatUnderItsLabelAndAnNtfsOneNotAtAll) {
    test::TempDir dir;
    const fs::path exfat = test::MakeExFatImage(dir / "sdxc.img", {16, 4096, "TRIP"});
    REQUIRE_IMAGE(exfat);
    const bool filled = test::ExFatPutFile(exfat, "DCIM/P1.JPG", std::string(50000, 'p'));  // needs a mount
    ASSERT_TRUE(platform::AttachImage(exfat.string() + ",removable"));
    test::ScriptedUi ui;
    ui.answers = {shell::Answer::OK};
    const media::DriveRecord before = Catalogued(exfat);
    EXPECT_TRUE(output::FormatMedium(ui, before, false));
    const media::DriveRecord again = Catalogued(exfat);
    EXPECT_EQ(again.FileSystem, media::FileSystemKind::ExFat);
    EXPECT_EQ(again.VolumeLabel, "TRIP");
    // A file or folder entry (0x85) in the root: DCIM before, none after.
    const auto holdsFiles = [](const media::DriveRecord& r) {
        return std::any_of(r.RootDirEntries.begin(), r.RootDirEntries.end(), [](const auto& e) { return e[0] == 0x85; });
    };
    EXPECT_TRUE(!filled || holdsFiles(before));
    EXPECT_FALSE(holdsFiles(again));

    const fs::path ntfs = test::MakeNtfsImage(dir / "ntfs.img");
    if (!ntfs.empty()) {
        ASSERT_TRUE(platform::AttachImage(ntfs.string() + ",removable"));
        const std::string bytes = test::ReadFile(ntfs);
        EXPECT_FALSE(output::FormatMedium(ui, Catalogued(ntfs), false));
        EXPECT_TRUE(test::ReadFile(ntfs) == bytes);
    }
    platform::DetachAllImages();
}

TEST(MediumMaintenance, RestoreWritesAnImageBackOnlyOntoACardOfTheSameGeometry) {
    test::TempDir dir;
    const fs::path card = test::MakeFatImage(dir / "card.img", {.fatBits = 16, .sectorsPerCluster = 4});
    REQUIRE_IMAGE(card);
    ASSERT_TRUE(test::FatPutFile(card, "A.TXT", "before the accident"));
    fs::copy_file(card, dir / "backup.img");
    ASSERT_TRUE(test::FatDelete(card, "A.TXT"));
    const fs::path other = test::MakeFatImage(dir / "other.img", {.fatBits = 16, .sectorsPerCluster = 8});
    ASSERT_TRUE(platform::AttachImage(card.string() + ",removable"));
    ASSERT_TRUE(platform::AttachImage(other.string() + ",removable"));
    test::ScriptedUi ui;

    // Another cluster size: the boot sectors differ in their first 34 bytes.
    const std::string otherBefore = test::ReadFile(other);
    EXPECT_FALSE(output::RestoreImage(ui, (dir / "backup.img").string(), Catalogued(other), false));
    EXPECT_EQ(ui.statuses.back(), "Restoring " + fs::absolute(other).string() + " not possible. Wrong parameters.");
    EXPECT_TRUE(test::ReadFile(other) == otherBefore);

    ui.answers = {shell::Answer::OK};
    EXPECT_TRUE(output::RestoreImage(ui, (dir / "backup.img").string(), Catalogued(card), false));
    EXPECT_TRUE(test::ReadFile(card) == test::ReadFile(dir / "backup.img"));
    platform::DetachAllImages();
}

}  // namespace hx
