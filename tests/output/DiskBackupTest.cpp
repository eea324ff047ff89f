// Backup: an image of a card byte for byte, its companion file, a damaged
// card copied to its end with its unreadable sectors listed, and the
// recovery in stages after a read that the system ended.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "fixtures/CardFixture.h"
#include "fixtures/FaultyCard.h"
#include "output/DiskBackup.h"
#include "filesystems/DirEntCache.h"
#include "undelete/QuickUndelete.h"

namespace hx {
namespace fs = std::filesystem;

class DiskBackup : public test::CardFixture {};

TEST_F(DiskBackup, TheImageIsTheCardAndItsCompanionHoldsTheListing) {
    makeCard(32, 4, 16);
    for (int n = 0; n < 4; ++n) putPhoto(n, 640, 480);
    ASSERT_TRUE(test::FatDelete(image, nameOf(1)));
    undelete::QuickUndelete listing(ui);
    filesystems::QuickUndeleteOptions options;
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
        filesystems::UndeleteEntry e;
        ASSERT_TRUE(filesystems::DecodeUndeleteEntry(bytes, companion.size(), at, e));
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
    test::FaultyCard faulty(image, dir.path());
    if (!faulty.ok()) GTEST_SKIP() << faulty.error();
    faulty.setRules("bad 100-103\nbad 5000\n");
    std::string out;
    const int rc = test::RunCommand(test::CliCommand() + " backup '" + faulty.device() + "' --to " + q +
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

TEST_F(DiskBackup, WhatFollowsASlowReadIsCopiedLastAndTheImageIsWhole) {
    makeCard(16, 4, 16);
    putPhoto(0, 640, 480);
    test::PatchFile(image, 10 << 20, test::PatternBytes(1 << 20, 9));  // what the skip passes over is not zeros
    // The first block's read waits on a slow area near its end: the start of
    // the next is skipped, and copied once the rest is.
    test::FaultyCard faulty(image, dir.path());
    if (!faulty.ok()) GTEST_SKIP() << faulty.error();
    faulty.setRules("slow 20000-20007 1200\n");
    output::BackupRequest req;
    req.drive = faulty.device();
    req.image = dir.path() / "copy.img";
    const auto result = output::BackupDisk(ui, req);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.unreadableSectors, 0u);
    EXPECT_GT(result.readLast, 0u) << "the area after the slow read was not passed over";
    EXPECT_TRUE(test::ReadFile(result.image) == test::ReadFile(image));
}

// The command line's recovery from a damaged card, for real: a sector whose
// read ends the process (as the system may end a program on a dying card),
// and the stages that follow at each start.
TEST_F(DiskBackup, AReadEndedByADamagedSectorIsFollowedByTheStagesAtEachStart) {
    makeCard(16, 4, 16);
    for (int n = 0; n < 3; ++n) putPhoto(n, 640, 480);
    // A sector half-way, past the photos, ends whatever reads it.
    const std::uint64_t sectors = fs::file_size(image) / 512;
    // Two deleted photos lie past it, in whole clusters, in free space: no
    // read from the start reaches them before that sector ends it.
    {
        const auto geometry = test::FatGeometry(image);
        const std::uint64_t spc = geometry.SectorsPerCluster;
        std::uint64_t at = geometry.FirstDataSector + (sectors * 3 / 4 - geometry.FirstDataSector) / spc * spc;
        std::fstream card(image, std::ios::in | std::ios::out | std::ios::binary);
        for (int n = 10; n < 12; ++n) {
            photos[n] = test::MakeTestJpeg(n, 320, 240);
            card.seekp(static_cast<std::streamoff>(at * 512));
            card.write(photos[n].data(), static_cast<std::streamsize>(photos[n].size()));
            at += (photos[n].size() / 512 / spc + 2) * spc;
        }
    }
    // The card's file itself is read, so that the file system knows who reads.
    test::FaultyCard faulty(image, dir.path());
    if (!faulty.ok()) GTEST_SKIP() << faulty.error();
    faulty.setRules("kill " + std::to_string(sectors / 2) + "\n");
    const fs::path cache = dir.path() / "cache";
    std::string out;
    auto run = [&](const std::string& command) {
        return test::RunCommand(test::CliCommand() + " " + command + " --cache '" + cache.string() + "' </dev/null 2>&1",
                                &out);
    };
    EXPECT_NE(run("scan '" + faulty.file().string() + "'"), 0) << out;

    // Each start: the next stage, which the sector ends again.
    EXPECT_NE(run("damaged --yes"), 0) << out;
    EXPECT_NE(out.find("Do you want to continue with automated recovery?"), std::string::npos) << out;
    EXPECT_NE(out.find("Stage 1:"), std::string::npos) << out;
    EXPECT_NE(run("damaged --yes"), 0) << out;
    EXPECT_NE(out.find("Stage 2:"), std::string::npos) << out;
    EXPECT_EQ(out.find("Stage 1:"), std::string::npos) << out;

    // The last: the sectors saved from the end back to the damaged one are
    // scanned; the first stage's finds stay, and every photo is back.
    ASSERT_EQ(run("damaged --yes"), 0) << out;
    EXPECT_NE(out.find("Final stage:"), std::string::npos) << out;
    EXPECT_NE(out.find("Finished."), std::string::npos) << out;
    std::set<int> back;
    for (const auto& e : fs::directory_iterator(cache / "QXCache"))
        for (const auto& [n, bytes] : photos)
            if (e.is_regular_file() && test::ReadFile(e.path()) == bytes) back.insert(n);
    EXPECT_EQ(back, (std::set<int>{0, 1, 2, 10, 11}));

    // Nothing is left to do after.
    EXPECT_EQ(run("damaged --yes"), 1) << out;
    EXPECT_NE(out.find("nothing to recover"), std::string::npos) << out;
}

}  // namespace hx
