// The volume bitmap from our own reading of FAT, exFAT and NTFS allocation,
// checked against what the tools allocated and freed.
#include <gtest/gtest.h>

#include "fixtures/MediaImages.h"
#include "fixtures/TempDir.h"
#include "filesystems/AllocationBitmap.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/ntfs/NtfsStructs.h"

using namespace hx;

namespace {

// The drive record of an image and the bitmap read from it.
filesystems::AllocationBitmap bitmapOf(const std::filesystem::path& img, media::DriveRecord& rec) {
    filesystems::AllocationBitmap bm;
    EXPECT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    EXPECT_TRUE(filesystems::LoadAllocationBitmap(rec, bm));
    return bm;
}

}  // namespace

TEST(AllocationBitmap, FatFilesAreUsedUntilDeleted) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "card.img", {.fatBits = 16, .sectorsPerCluster = 4});  // 2 KiB clusters
    REQUIRE_IMAGE(img);
    ASSERT_TRUE(test::FatPutFile(img, "A.JPG", test::PatternBytes(10 * 2048, 1)));
    ASSERT_TRUE(test::FatPutFile(img, "B.JPG", test::PatternBytes(3 * 2048, 2)));
    ASSERT_TRUE(test::FatPutFile(img, "C.JPG", test::PatternBytes(2048, 3)));

    media::DriveRecord rec;
    const auto bm = bitmapOf(img, rec);
    ASSERT_NE(test::FindRootEntry(rec, "B.JPG"), nullptr);
    const std::uint32_t b = test::EntryCluster(*test::FindRootEntry(rec, "B.JPG"));
    ASSERT_GE(b, 2u);
    EXPECT_EQ(bm.unitCount(), static_cast<std::size_t>(rec.TotalClusters));
    EXPECT_TRUE(bm.isUsed(b - 2));
    EXPECT_TRUE(bm.isUsed(-1));
    EXPECT_TRUE(bm.isUsed(static_cast<std::int64_t>(bm.unitCount())));
    EXPECT_DOUBLE_EQ(bm.freeCount() * rec.clusterBytes() / 1048576.0, rec.FreeMB);

    ASSERT_TRUE(test::FatDelete(img, "B.JPG"));
    media::DriveRecord afterDelete;
    const auto after = bitmapOf(img, afterDelete);
    // B's three clusters are now the first hole: a run of exactly three.
    std::int64_t run = 0, last = 0;
    EXPECT_EQ(after.findFreeRun(0, run, last), b - 2);
    EXPECT_EQ(run, 3);
    EXPECT_EQ(last, b - 2 + 2);
    EXPECT_FALSE(after.isUsed(b - 2));
    EXPECT_TRUE(after.isUsed(b - 2 + 3));  // C follows B

    // From inside C the next run is the big free tail.
    const std::int64_t tail = after.findFreeRun(b - 2 + 3, run, last);
    EXPECT_EQ(tail, b - 2 + 4);
    EXPECT_EQ(last, static_cast<std::int64_t>(rec.TotalClusters) - 1);
    // Past the end: no free cluster, the answer is the cluster count.
    EXPECT_EQ(after.findFreeRun(static_cast<std::int64_t>(rec.TotalClusters), run, last),
              static_cast<std::int64_t>(rec.TotalClusters));
    EXPECT_EQ(run, 0);
}

TEST(AllocationBitmap, ExFatAndNtfsMarkWrittenClusters) {
    test::TempDir dir;
    auto exfat = test::MakeExFatImage(dir / "x.img");
    REQUIRE_IMAGE(exfat);
    media::DriveRecord before;
    const auto empty = bitmapOf(exfat, before);
    // mkfs.exfat uses the bitmap, up-case table and root directory clusters only.
    EXPECT_TRUE(empty.isUsed(before.BitmapCluster - 2));
    EXPECT_TRUE(empty.isUsed(before.RootCluster - 2));
    EXPECT_LE(empty.unitCount() - empty.freeCount(), 8u);

    if (test::ExFatPutFile(exfat, "DCIM/P1.JPG", test::PatternBytes(200000, 9))) {
        media::DriveRecord after;
        const auto bm = bitmapOf(exfat, after);
        const std::uint64_t fileClusters = (200000 + after.clusterBytes() - 1) / after.clusterBytes();
        EXPECT_EQ(empty.freeCount() - bm.freeCount(), fileClusters + 1);  // + the DCIM folder
    }

    auto ntfs = test::MakeNtfsImage(dir / "n.img");
    REQUIRE_IMAGE(ntfs);
    media::DriveRecord rec;
    const auto bm = bitmapOf(ntfs, rec);
    EXPECT_TRUE(bm.isUsed(0));                        // the boot sector's cluster
    ASSERT_NE(filesystems::ntfs::NtfsGeometryOf(rec), nullptr);
    EXPECT_TRUE(bm.isUsed(filesystems::ntfs::NtfsGeometryOf(rec)->mftLcn));  // the MFT
    EXPECT_FALSE(bm.isUsed(static_cast<std::int64_t>(bm.unitCount() / 4)));
}
