// NTFS: the files of a folder deleted two levels deep come back with their
// paths, a deleted file's alternate data streams are listed and restored as
// "name:stream" files of their own, and a file whose runs and name spill
// into extension records comes back from all of them.
#include <gtest/gtest.h>

#include <sys/xattr.h>

#include <fstream>

#include "fixtures/UndeleteFixtures.h"
#include "fixtures/ScriptedUi.h"
#include "undelete/QuickUndelete.h"
#include "filesystems/ntfs/UndeleteNtfs.h"

namespace hx::undelete {
namespace {

bool setStream(const fs::path& file, const std::string& name, const std::string& bytes) {
    // ntfs-3g keeps "user." attributes as named data streams.
    return setxattr(file.c_str(), ("user." + name).c_str(), bytes.data(), bytes.size(), 0) == 0;
}

TEST(NtfsDeletedTrees, FoldersAndStreamsComeBack) {
    const std::string why = test::FuseUnavailableReason(false);
    if (!why.empty() || !test::HaveTool("mkntfs") || !test::HaveTool("ntfs-3g")) GTEST_SKIP() << why;
    test::TempDir dir("hx-ntfs-streams");
    const fs::path image = test::MakeNtfsImage(dir / "ntfs.img", {16, 4096});
    REQUIRE_IMAGE(image);
    const std::map<std::string, std::string> files = {
        {"Trip/Day1/beach.jpg", PatternBytes(20000, 1)},
        {"Trip/Day1/notes.txt", PatternBytes(3000, 2)},
        {"Trip/top.txt", PatternBytes(700, 3)},
        {"card.jpg", PatternBytes(9000, 4)},
        {"long.txt", PatternBytes(1200, 6)},
    };
    const std::string longName(250, 'x');
    // Streams of card.jpg, and of long.txt one with the longest name a
    // stream gets here (a record with all three would overflow into an
    // extension record, whose name ntfs-3g drops on deletion).
    const std::map<std::string, std::string> streams = {
        {"card.jpg:thumb", PatternBytes(6000, 5)},  // out of the record: in clusters of its own
        {"card.jpg:tag", "five!"},                   // inside the record
        {"long.txt:" + longName, "the longest name a stream can get here"},
    };
    {
        test::FuseMount mount(test::FuseMount::Kind::Ntfs, image, dir / "mnt");
        if (!mount.ok()) GTEST_SKIP() << mount.error();
        for (const auto& [path, bytes] : files) {
            fs::create_directories((mount.dir() / path).parent_path());
            WriteFile(mount.dir() / path, bytes);
        }
        for (const auto& [listed, bytes] : streams) {
            const auto colon = listed.find(':');
            ASSERT_TRUE(setStream(mount.dir() / listed.substr(0, colon), listed.substr(colon + 1), bytes)) << listed;
        }
        fs::remove_all(mount.dir() / "Trip");
        fs::remove(mount.dir() / "card.jpg");
        fs::remove(mount.dir() / "long.txt");
        mount.unmount();
    }

    test::ScriptedUi ui;
    QuickUndelete q(ui);
    ASSERT_TRUE(q.run({image.string(), "all", 0, 0, {}}));
    test::TempDir out("hx-ntfs-streams-out");
    auto restore = [&](const std::string& listName) -> std::optional<fs::path> {
        const filesystems::UndeleteEntry* e = test::FindListed(q.entries(), listName);
        if (!e) return std::nullopt;
        return q.restoreInto(static_cast<std::size_t>(e - q.entries().data()), out.path());
    };
    for (const auto& [path, bytes] : files) {
        const fs::path p(path);
        const filesystems::UndeleteEntry* e = test::FindListed(q.entries(), p.filename().string());
        ASSERT_NE(e, nullptr) << path;
        std::string folder = "\\" + p.parent_path().string();
        std::replace(folder.begin(), folder.end(), '/', '\\');
        EXPECT_EQ(e->FolderPath, folder == "\\" ? "\\" : folder) << path;
        const auto restored = restore(p.filename().string());
        ASSERT_TRUE(restored) << path;
        EXPECT_TRUE(ReadFile(*restored) == bytes) << path;
    }
    for (const auto& [listed, bytes] : streams) {
        const filesystems::UndeleteEntry* e = test::FindListed(q.entries(), listed);
        ASSERT_NE(e, nullptr) << listed;
        EXPECT_EQ(e->Size, bytes.size());
        const auto restored = restore(listed);
        ASSERT_TRUE(restored) << listed;
        EXPECT_TRUE(ReadFile(*restored) == bytes) << listed;
        // Named as listed, cut where a file name cannot hold more.
        const std::string got = restored->filename().string();
        EXPECT_LE(got.size(), 255u);
        EXPECT_EQ(got, listed.substr(0, 255));
    }
}

TEST(NtfsExtensionRecords, AFileInManyPiecesComesBackFromAllItsRecords) {
    const std::string why = test::FuseUnavailableReason(false);
    if (!why.empty() || !test::HaveTool("mkntfs") || !test::HaveTool("ntfs-3g")) GTEST_SKIP() << why;
    test::TempDir dir("hx-ntfs-extension");
    const fs::path image = test::MakeNtfsImage(dir / "ntfs.img", {32, 4096});
    REQUIRE_IMAGE(image);
    // A full volume with every other cluster freed: a big file written now
    // lies in hundreds of pieces, more runs than its record holds, so its
    // runs and its name go on in extension records.
    const std::string big = PatternBytes(9000000, 7);
    {
        test::FuseMount mount(test::FuseMount::Kind::Ntfs, image, dir / "mnt");
        if (!mount.ok()) GTEST_SKIP() << mount.error();
        fs::create_directories(mount.dir() / "fill");
        const std::string cluster = PatternBytes(4096, 8);
        int n = 0;
        for (; n < 20000; ++n) {
            std::ofstream f(mount.dir() / "fill" / std::to_string(n), std::ios::binary);
            if (!f.write(cluster.data(), static_cast<std::streamsize>(cluster.size())) || !f.flush()) break;
        }
        for (int k = 0; k < n; k += 2) fs::remove(mount.dir() / "fill" / std::to_string(k));
        WriteFile(mount.dir() / "Big photo set.tar", big);
        ASSERT_EQ(fs::file_size(mount.dir() / "Big photo set.tar"), big.size());
        mount.unmount();
    }
    test::TempDir out("hx-ntfs-extension-out");
    {
        // In use: listed under its name, read from all its records.
        test::ScriptedUi ui;
        QuickUndelete live(ui);
        filesystems::QuickUndeleteOptions options{image.string(), "all", 0, 0, {}};
        options.liveToo = true;
        ASSERT_TRUE(live.run(options));
        const filesystems::UndeleteEntry* e = test::FindListed(live.entries(), "big photo set.tar");  // listed in lower case
        ASSERT_NE(e, nullptr);
        const auto copied = live.restoreInto(static_cast<std::size_t>(e - live.entries().data()), out / "live");
        ASSERT_TRUE(copied);
        EXPECT_TRUE(ReadFile(*copied) == big);
    }
    {
        test::FuseMount mount(test::FuseMount::Kind::Ntfs, image, dir / "mnt");
        ASSERT_TRUE(mount.ok()) << mount.error();
        fs::remove(mount.dir() / "Big photo set.tar");
        mount.unmount();
    }
    // Deleted: ntfs-3g emptied the extension record that held its name and
    // cut its attribute list short; its runs are still all there.
    test::ScriptedUi ui;
    QuickUndelete q(ui);
    ASSERT_TRUE(q.run({image.string(), "all", 0, 0, {}}));
    std::vector<fs::path> restored;
    for (std::size_t i = 0; i < q.entries().size(); ++i)
        if (q.entries()[i].Size == big.size())
            if (auto path = q.restoreInto(i, out / "deleted")) restored.push_back(*path);
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_TRUE(ReadFile(restored[0]) == big);
    const std::string name = restored[0].filename().string();
    EXPECT_TRUE(name == "big photo set.tar" || name.find("(name lost)") != std::string::npos) << name;
}

}  // namespace
}  // namespace hx::undelete
