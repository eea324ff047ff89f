// NTFS: the files of a folder deleted two levels deep come back with their
// paths, and a deleted file's alternate data streams are listed and restored
// as "name:stream" files of their own.
#include <gtest/gtest.h>

#include <sys/xattr.h>

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
        const UndeleteEntry* e = test::FindListed(q.entries(), listName);
        if (!e) return std::nullopt;
        return q.restoreInto(static_cast<std::size_t>(e - q.entries().data()), out.path());
    };
    for (const auto& [path, bytes] : files) {
        const fs::path p(path);
        const UndeleteEntry* e = test::FindListed(q.entries(), p.filename().string());
        ASSERT_NE(e, nullptr) << path;
        std::string folder = "\\" + p.parent_path().string();
        std::replace(folder.begin(), folder.end(), '/', '\\');
        EXPECT_EQ(e->FolderPath, folder == "\\" ? "\\" : folder) << path;
        const auto restored = restore(p.filename().string());
        ASSERT_TRUE(restored) << path;
        EXPECT_TRUE(ReadFile(*restored) == bytes) << path;
    }
    for (const auto& [listed, bytes] : streams) {
        const UndeleteEntry* e = test::FindListed(q.entries(), listed);
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

}  // namespace
}  // namespace hx::undelete
