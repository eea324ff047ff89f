// Backup: an image of a card byte for byte, its companion file, and a
// damaged card copied to its end with its unreadable sectors listed.
#include <gtest/gtest.h>

#include "fixtures/CardFixture.h"
#include "output/DiskBackup.h"
#include "undelete/DirEntCache.h"
#include "undelete/QuickUndelete.h"

namespace hx {
namespace fs = std::filesystem;

class DiskBackup : public test::CardFixture {};

TEST_F(DiskBackup, TheImageIsTheCardAndItsCompanionHoldsTheListing) {
    makeCard(32, 4, 16);
    for (int n = 0; n < 4; ++n) putPhoto(n, 640, 480);
    ASSERT_TRUE(test::FatDelete(image, nameOf(1)));
    undelete::QuickUndelete listing(ui);
    undelete::QuickUndeleteOptions options;
    options.drive = image.string();
    ASSERT_TRUE(listing.run(options));
    ASSERT_GE(listing.entries().size(), 4u);

    output::BackupRequest req;
    req.drive = image.string();
    req.folder = dir.path() / "target";
    req.date = "2026-12-08";
    req.entries = listing.entries();
    const auto result = output::BackupDisk(ui, req);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.image.filename().string(), "card_CARD_2026-12-08_0.img") << result.image;
    EXPECT_TRUE(test::ReadFile(result.image) == test::ReadFile(image));
    EXPECT_EQ(result.unreadableSectors, 0u);
    EXPECT_FALSE(fs::exists(result.image.string() + ".unreadable.txt"));

    // Six quoted lines, then the listing in the undelete encoding.
    const std::string companion = test::ReadFile(result.companion);
    std::size_t at = 0;
    std::vector<std::string> lines;
    for (int i = 0; i < 6; ++i) {
        const auto end = companion.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(companion.substr(at, end - at));
        at = end + 2;
    }
    EXPECT_EQ(lines[0], "\"" + result.image.string() + "\"");
    EXPECT_EQ(lines[1], "\" 512\"");
    EXPECT_EQ(lines[2], "\" 4\"");
    EXPECT_EQ(lines[5], "\" " + std::to_string(listing.entries().size() - 1) + "\"");
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(companion.data());
    for (const auto& expected : listing.entries()) {
        undelete::UndeleteEntry e;
        ASSERT_TRUE(undelete::DecodeUndeleteEntry(bytes, companion.size(), at, e));
        EXPECT_EQ(e.FileName, expected.FileName);
        EXPECT_EQ(e.FirstCluster, expected.FirstCluster);
        EXPECT_EQ(e.Size, expected.Size);
    }
    EXPECT_EQ(at, companion.size());

    // The same card again that day: the next counter. A companion without its image goes.
    const auto again = output::BackupDisk(ui, req);
    EXPECT_EQ(again.image.filename().string(), "card_CARD_2026-12-08_1.img");
    fs::remove(again.image);
    output::PruneImageFolder(req.folder / "DiskImages");
    EXPECT_FALSE(fs::exists(again.companion));
    EXPECT_TRUE(fs::exists(result.companion));

    EXPECT_EQ(output::BackupBlockMegabytes(24000), 10);
    EXPECT_EQ(output::BackupBlockMegabytes(45), 4);
    EXPECT_EQ(output::BackupBlockMegabytes(10), 2);
}

TEST_F(DiskBackup, AStoppedCopyIsKeptAndMarkedAsPartial) {
    makeCard(16, 4, 16);
    putPhoto(0, 640, 480);
    output::BackupRequest req;
    req.drive = image.string();
    req.folder = dir.path() / "target";
    ui.stop = true;
    const auto result = output::BackupDisk(ui, req);
    EXPECT_TRUE(result.stopped);
    EXPECT_LT(result.bytes, fs::file_size(image));
    ASSERT_FALSE(result.partialNote.empty());
    const std::string note = test::ReadFile(result.partialNote);
    EXPECT_NE(note.find("is partial"), std::string::npos) << note;
    EXPECT_NE(note.find(std::to_string(fs::file_size(image))), std::string::npos) << note;
    EXPECT_TRUE(fs::exists(result.image));

    // A whole copy carries no such note.
    ui.stop = false;
    const auto whole = output::BackupDisk(ui, req);
    EXPECT_TRUE(whole.partialNote.empty());
    EXPECT_FALSE(fs::exists(whole.image.string() + ".partial.txt"));
}

TEST_F(DiskBackup, ADamagedCardIsCopiedToItsEndWithZerosAndAListForWhatFailed) {
    makeCard(16, 4, 16);
    putPhoto(0, 640, 480);
    const std::string q = "'" + dir.path().string() + "'";
    // Sectors 100 to 103 and 5000 fail to read, as on a dying card.
    const std::string faults = "env HARVESTRIX_FAULTY_SECTORS='" + image.string() + ":100-103,5000' ";
    std::string out;
    const int rc = test::RunCommand(faults + test::CliCommand() + " backup '" + image.string() + "' --to " + q +
                                        " --damaged </dev/null 2>/dev/null",
                                    &out);
    EXPECT_EQ(rc, 0) << out;
    fs::path copy;
    for (const auto& e : fs::directory_iterator(dir.path() / "DiskImages"))
        if (e.path().extension() == ".img") copy = e.path();
    ASSERT_FALSE(copy.empty()) << out;
    const std::string card = test::ReadFile(image), backup = test::ReadFile(copy);
    ASSERT_EQ(backup.size(), card.size());
    for (std::size_t s = 0; s < card.size() / 512; ++s) {
        const bool failed = (s >= 100 && s <= 103) || s == 5000;
        const std::string want = failed ? std::string(512, '\0') : card.substr(s * 512, 512);
        ASSERT_TRUE(backup.compare(s * 512, 512, want) == 0) << "sector " << s;
    }
    const std::string list = test::ReadFile(copy.string() + ".unreadable.txt");
    EXPECT_NE(list.find("\n100\n101\n102\n103\n5000\n"), std::string::npos) << list;
    EXPECT_NE(out.find("5 unreadable sectors"), std::string::npos) << out;
}

}  // namespace hx
