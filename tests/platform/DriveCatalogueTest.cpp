// The drive catalogue on this machine: attached images, loop devices, the
// system drive and mounted file systems, checked against util-linux tools.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "fixtures/MediaImages.h"
#include "fixtures/TempDir.h"
#include "platform/DriveCatalogue.h"

using namespace hx;

namespace {

const platform::DriveEntry* findIn(const std::vector<platform::DriveEntry>& all, const std::string& id) {
    for (const auto& d : all)
        if (d.id == id) return &d;
    return nullptr;
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    return s;
}

}  // namespace

TEST(DriveCatalogue, AttachedImagesFollowTheDevices) {
    test::TempDir dir;
    test::WriteFile(dir / "a.img", std::string(8192, '\0'));
    test::WriteFile(dir / "b.img", std::string(4096, '\0'));
    platform::DetachAllImages();
    EXPECT_FALSE(platform::AttachImage((dir / "none.img").string()));
    ASSERT_TRUE(platform::AttachImage((dir / "a.img").string() + ",removable,label=HOLIDAY"));
    ASSERT_TRUE(platform::AttachImage((dir / "b.img").string()));

    const auto all = platform::EnumerateMedia();
    ASSERT_GE(all.size(), 2u);
    const auto& a = all[all.size() - 2];
    const auto& b = all.back();
    EXPECT_EQ(a.id, (dir / "a.img").string());
    EXPECT_TRUE(a.isImage && a.removable && a.ready);
    EXPECT_EQ(a.typeName, "Removable");
    EXPECT_EQ(a.label, "HOLIDAY");
    EXPECT_EQ(a.sizeBytes, 8192u);
    EXPECT_EQ(b.typeName, "Fixed");
    EXPECT_EQ(platform::DriveDisplayName(a), a.id + " [HOLIDAY]");
    EXPECT_TRUE(platform::IsAttachedImage(a.id));

    // An attached image that went away is listed as not ready.
    std::filesystem::remove(dir / "b.img");
    platform::DriveEntry found;
    ASSERT_TRUE(platform::FindMedium(b.id, found));
    EXPECT_FALSE(found.ready);
    platform::DetachAllImages();
    EXPECT_FALSE(platform::FindMedium(b.id, found));
}

TEST(DriveCatalogue, SystemDriveIsTheDeviceHoldingRoot) {
    std::string majMin;
    if (test::RunCommand("findmnt -n -o MAJ:MIN /", &majMin) != 0) GTEST_SKIP() << "no findmnt";
    const std::string sys = platform::SystemDrive();
    if (sys.empty()) GTEST_SKIP() << "root is not on a block device here";
    struct stat st {};
    ASSERT_EQ(::stat(sys.c_str(), &st), 0);
    EXPECT_EQ(std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)), trimmed(majMin));
    const auto all = platform::EnumerateMedia();
    const auto* entry = findIn(all, sys);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->isSystem);
    EXPECT_EQ(entry->mountPoint, "/");
    EXPECT_TRUE(entry->ready);
    for (const auto& d : all) {
        if (d.isImage) {
            EXPECT_FALSE(d.isSystem);
        }
    }
}

TEST(DriveCatalogue, LoopDeviceIsADriveWithItsMount) {
    test::TempDir dir;
    auto img = test::MakeExFatImage(dir / "x.img", {24});
    if (img.empty()) GTEST_SKIP() << test::MediaSkipReason();
    test::LoopDevice loop(img, false);
    if (!loop.ok()) GTEST_SKIP() << test::MediaSkipReason();
    EXPECT_TRUE(platform::IsBlockDevice(loop.path()));
    EXPECT_FALSE(platform::IsBlockDevice(img.string()));

    auto all = platform::EnumerateMedia();
    const auto* entry = findIn(all, loop.path());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->sizeBytes, 24u << 20);
    EXPECT_EQ(entry->typeName, "Fixed");
    EXPECT_TRUE(entry->ready);
    EXPECT_FALSE(entry->isImage || entry->isSystem);
    EXPECT_TRUE(entry->mountPoint.empty());

    if (!test::HaveTool("mount.exfat-fuse")) GTEST_SKIP() << "no exfat-fuse";
    test::TempDir mnt("hx-mnt");
    const std::string m = mnt.path().string();
    if (test::RunCommand("mount.exfat-fuse " + loop.path() + " " + m) != 0) GTEST_SKIP() << "FUSE mount refused";
    all = platform::EnumerateMedia();
    entry = findIn(all, loop.path());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->mountPoint, m);
    EXPECT_EQ(entry->fileSystem, "fuseblk");
    platform::SpaceInfo space;
    EXPECT_TRUE(platform::QueryFreeSpace(m, space));
    std::string df;
    test::RunCommand("df -B1 --output=avail " + m + " | tail -1", &df);
    EXPECT_EQ(space.freeBytes, std::stoull(trimmed(df)));
    test::RunCommand("fusermount -u " + m);
}
