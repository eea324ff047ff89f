// Cataloguing real images made by mkfs.fat/mtools, mkntfs and mkfs.exfat; the
// expected figures come from the file systems' own tools (fsck.fat, minfo,
// ntfsinfo, dump.exfat), not from our reading.
#include <gtest/gtest.h>

#include "fixtures/MediaImages.h"
#include "fixtures/TempDir.h"
#include "filesystems/AllocationBitmap.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/ntfs/NtfsStructs.h"
#include "filesystems/fat/FatTables.h"
#include "platform/DriveCatalogue.h"

using namespace hx;
namespace fs = std::filesystem;

using test::EntryCluster;
using test::FindRootEntry;
using test::PatchFile;
using test::ToolNumber;

// FAT type and sector size.
class FatGeometry : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(FatGeometry, MatchesFsckAndFindsFiles) {
    const auto [bits, sectorBytes] = GetParam();
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "card.img", {.fatBits = bits,
                                                     .sectorsPerCluster = sectorBytes > 512 ? 1 : 0,
                                                     .bytesPerSector = sectorBytes});
    REQUIRE_IMAGE(img);
    ASSERT_TRUE(test::FatPutFile(img, "PHOTO1.JPG", test::PatternBytes(20000, 1)));
    ASSERT_TRUE(test::FatPutFile(img, "DCIM/IMG_0002.JPG", test::PatternBytes(3000, 2)));

    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    const std::string fsck = "fsck.fat -v -n " + img.string();
    EXPECT_EQ(rec.fileSystemName(), "FAT" + std::to_string(bits));
    EXPECT_EQ(rec.BytesPerSector, ToolNumber(fsck, R"((\d+) bytes per logical sector)"));
    EXPECT_EQ(rec.clusterBytes(), static_cast<std::uint64_t>(ToolNumber(fsck, R"((\d+) bytes per cluster)")));
    EXPECT_EQ(rec.ReservedSectors, ToolNumber(fsck, R"((\d+) reserved sector)"));
    EXPECT_EQ(rec.NumberOfFATs, ToolNumber(fsck, R"((\d+) FATs)"));
    EXPECT_EQ(rec.SectorsPerFAT, ToolNumber(fsck, R"(= (\d+) sectors\))"));
    EXPECT_EQ(rec.FirstDataSector, ToolNumber(fsck, R"(Data area starts at byte \d+ \(sector (\d+)\))"));
    EXPECT_EQ(rec.TotalClusters, ToolNumber(fsck, R"((\d+) data clusters)"));
    EXPECT_EQ(rec.FATEntryBytes, bits == 12 ? 1.5f : bits / 8.0f);
    if (bits == 32) {
        EXPECT_EQ(rec.RootDirStart, rec.FirstDataSector);
        EXPECT_EQ(rec.RootCluster, ToolNumber("minfo -i " + img.string(), R"(rootCluster=(\d+))"));
    } else {
        EXPECT_EQ(rec.RootDirStart, ToolNumber(fsck, R"(Root directory starts at byte \d+ \(sector (\d+)\))"));
        EXPECT_EQ(rec.RootCluster, 2u);
        const auto rootEntries = ToolNumber(fsck, R"((\d+) root directory entries)");
        EXPECT_EQ(rec.RootDirSectorsMinusOne, rootEntries * 32 / sectorBytes - 1);
    }
    // The table is read as far as the clusters need, not as far as the boot sector claims.
    const auto* table = filesystems::TableOf(rec);
    ASSERT_NE(table, nullptr);
    EXPECT_GE(table->entries.size(), rec.TotalClusters + 2);
    EXPECT_LT(table->entries.size(), rec.TotalClusters + 2 + sectorBytes * 8 / bits + 2);
    EXPECT_EQ(rec.VolumeLabel, "HXTEST");
    EXPECT_EQ(rec.SerialNumber, 0x1234ABCDu);
    EXPECT_EQ(rec.TotalSectors, rec.TotalClusters * rec.SectorsPerCluster);
    EXPECT_TRUE(FindRootEntry(rec, "DCIM"));
    // A file's cluster chain holds its bytes.
    const auto* photo = FindRootEntry(rec, "PHOTO1.JPG");
    ASSERT_NE(photo, nullptr);
    const auto data = filesystems::ReadClusterChain(rec, EntryCluster(*photo), 20000);
    EXPECT_EQ(std::string(data.begin(), data.end()), test::PatternBytes(20000, 1));
    EXPECT_EQ(rec.ShortReads, 0u);

    // Free space from our FAT reading agrees with fsck's used-cluster count.
    const double freeClusters = static_cast<double>(ToolNumber(fsck, R"(\d+/(\d+) clusters)") -
                                                    ToolNumber(fsck, R"((\d+)/\d+ clusters)"));
    EXPECT_DOUBLE_EQ(rec.FreeMB, freeClusters * rec.clusterBytes() / 1048576.0);
    EXPECT_DOUBLE_EQ(rec.TotalMB, rec.TotalClusters * rec.clusterBytes() / 1048576.0);
}

INSTANTIATE_TEST_SUITE_P(AllFatTypes, FatGeometry,
                         ::testing::Values(std::pair{12, 512}, std::pair{16, 512}, std::pair{32, 512},
                                           std::pair{16, 4096}));

TEST(DriveInfo, Fat32RootChainIsReadWholeAndLoopsAndCutsEndIt) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "fat32.img", {.fatBits = 32, .sectorsPerCluster = 1});  // 16 entries per cluster
    REQUIRE_IMAGE(img);
    // Files written between the directory's growth steps scatter its clusters.
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(test::FatPutFile(img, "F" + std::to_string(i) + ".DAT", test::PatternBytes(700, i)));
    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    for (int i = 0; i < 60; ++i) EXPECT_TRUE(FindRootEntry(rec, "F" + std::to_string(i) + ".DAT")) << i;
    // The chain really is fragmented, and its length decides the sector count.
    std::uint32_t c = rec.RootCluster, clusters = 1;
    bool jumped = false;
    while (!filesystems::IsChainEnd(rec, filesystems::FatEntry(rec, c))) {
        jumped |= filesystems::FatEntry(rec, c) != c + 1;
        c = filesystems::FatEntry(rec, c);
        ++clusters;
    }
    EXPECT_GE(clusters, 4u);
    EXPECT_TRUE(jumped);
    EXPECT_EQ(rec.RootDirEntries.size(), clusters * 16u);
    EXPECT_EQ(rec.RootDirSectorsMinusOne, clusters - 1);

    // Make the root chain's third cluster point back to the first.
    const std::uint32_t second = filesystems::FatEntry(rec, rec.RootCluster);
    const std::uint32_t third = filesystems::FatEntry(rec, second);
    ASSERT_FALSE(filesystems::IsChainEnd(rec, third));
    for (std::uint32_t copy = 0; copy < rec.NumberOfFATs; ++copy) {
        const std::uint64_t at = (rec.ReservedSectors + copy * rec.SectorsPerFAT) * 512ull + third * 4ull;
        const std::uint32_t v = rec.RootCluster;
        PatchFile(img, at, std::string(reinterpret_cast<const char*>(&v), 4));
    }
    media::DriveRecord looped;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), looped));
    EXPECT_EQ(looped.RootDirEntries.size(), 3u * 16);
    EXPECT_LT(looped.RootDirEntries.size(), rec.RootDirEntries.size());

    // An image cut short of what its boot sector claims reads what exists.
    fs::resize_file(img, rec.FirstDataSector * 512ull + 512);
    media::DriveRecord cut;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), cut));
    EXPECT_EQ(cut.FileSystem, media::FileSystemKind::Fat32);
    EXPECT_EQ(cut.RootDirEntries.size(), 16u);
    EXPECT_GT(cut.ShortReads, 0u);
}

TEST(DriveInfo, BootSectorOddities) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "fat16.img", {.fatBits = 16});
    REQUIRE_IMAGE(img);

    // An image parsed on its own gets geometry but no tables.
    media::DriveRecord alone;
    ASSERT_TRUE(filesystems::ParseBootSector(img.string(), alone, false));
    EXPECT_EQ(alone.FileSystem, media::FileSystemKind::Fat16);
    EXPECT_EQ(filesystems::TableOf(alone), nullptr);
    EXPECT_TRUE(alone.RootDirEntries.empty());
    // Parsed as a drive, it gets its tables.
    media::DriveRecord asDrive;
    ASSERT_TRUE(filesystems::ParseBootSector(img.string(), asDrive, true));
    EXPECT_NE(filesystems::TableOf(asDrive), nullptr);
    EXPECT_FALSE(asDrive.RootDirEntries.empty());

    // Bytes per sector 0 reads as 512.
    PatchFile(img, 11, std::string(2, '\0'));
    media::DriveRecord zero;
    ASSERT_TRUE(filesystems::ParseBootSector(img.string(), zero, false));
    EXPECT_EQ(zero.BytesPerSector, 512);
    EXPECT_EQ(zero.FileSystem, media::FileSystemKind::Fat16);
    EXPECT_EQ(zero.FirstDataSector, alone.FirstDataSector);

    // A blank type field on a small volume is FAT12; on a large one the
    // cluster count says FAT16.
    PatchFile(img, 54, std::string(8, ' '));
    media::DriveRecord blank;
    filesystems::ParseBootSector(img.string(), blank, false);
    EXPECT_EQ(blank.FileSystem, media::FileSystemKind::Fat16);
    auto floppy = test::MakeFatImage(dir / "fat12.img", {12, 1440});
    REQUIRE_IMAGE(floppy);
    PatchFile(floppy, 54, std::string(8, ' '));
    filesystems::ParseBootSector(floppy.string(), blank, false);
    EXPECT_EQ(blank.FileSystem, media::FileSystemKind::Fat12);

    // Too short to hold a boot sector: nothing parsed, sector size 512.
    test::WriteFile(dir / "tiny.img", std::string(100, 'x'));
    media::DriveRecord tiny;
    EXPECT_FALSE(filesystems::ParseBootSector((dir / "tiny.img").string(), tiny, true));
    EXPECT_EQ(tiny.BytesPerSector, 512);
    EXPECT_EQ(tiny.FirstDataSector, 0u);
    EXPECT_FALSE(filesystems::GetDriveInfo((dir / "missing.img").string(), tiny));
}

TEST(DriveInfo, SubdirectoryChainNeedsDotEntries) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "fat16.img", {.fatBits = 16, .sectorsPerCluster = 1});
    REQUIRE_IMAGE(img);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(test::FatPutFile(img, "DCIM/P" + std::to_string(i) + ".JPG", test::PatternBytes(100, 7)));
    ASSERT_TRUE(test::FatPutFile(img, "README.TXT", "hello"));
    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    const auto* dcim = FindRootEntry(rec, "DCIM");
    const auto* readme = FindRootEntry(rec, "README.TXT");
    ASSERT_TRUE(dcim && readme);
    const std::uint32_t dcimCluster = EntryCluster(*dcim), readmeCluster = EntryCluster(*readme);
    const std::size_t before = rec.RootDirEntries.size();

    bool isDir = false;
    EXPECT_EQ(filesystems::ReadDirectoryChain(img.string(), readmeCluster, isDir, rec), -1);
    EXPECT_FALSE(isDir);
    EXPECT_EQ(rec.RootDirEntries.size(), before);

    const std::int64_t minusOne = filesystems::ReadDirectoryChain(img.string(), dcimCluster, isDir, rec);
    EXPECT_TRUE(isDir);
    const std::size_t added = rec.RootDirEntries.size() - before;
    EXPECT_GE(added, 22u);  // ".", ".." and twenty files over two clusters
    EXPECT_EQ(minusOne, static_cast<std::int64_t>(added * 32 / 512) - 1);
    EXPECT_EQ(test::EntryName83(rec.RootDirEntries[before]), ".");
    bool found = false;
    for (std::size_t i = before; i < rec.RootDirEntries.size(); ++i) found |= test::EntryName83(rec.RootDirEntries[i]) == "P19.JPG";
    EXPECT_TRUE(found);
}

TEST(DriveInfo, NtfsGivesMftAndLabel) {
    test::TempDir dir;
    auto img = test::MakeNtfsImage(dir / "ntfs.img");
    REQUIRE_IMAGE(img);
    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    const std::string info = "ntfsinfo -m " + img.string();
    EXPECT_EQ(rec.fileSystemName(), "NTFS");
    const auto* boot = filesystems::ntfs::NtfsGeometryOf(rec);
    ASSERT_NE(boot, nullptr);
    EXPECT_EQ(boot->mftLcn, ToolNumber(info, R"(LCN of Data Attribute for FILE_MFT: (\d+))"));
    EXPECT_EQ(boot->recordSize, ToolNumber(info, R"(MFT Record Size: (\d+))"));
    EXPECT_EQ(rec.clusterBytes(), static_cast<std::uint64_t>(ToolNumber(info, R"(Cluster Size: (\d+))")));
    EXPECT_EQ(rec.TotalClusters, ToolNumber(info, R"(Volume Size in Clusters: (\d+))"));
    EXPECT_EQ(rec.VolumeLabel, "HXNTFS");
    EXPECT_TRUE(rec.RootDirEntries.empty());
    EXPECT_GT(rec.FreeMB, 0);
    EXPECT_LT(rec.FreeMB, rec.TotalMB);

    // A megabyte written takes a megabyte of free space ($Bitmap read back).
    ASSERT_TRUE(test::NtfsPutFile(img, "big.bin", test::PatternBytes(1 << 20, 3)));
    media::DriveRecord after;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), after));
    EXPECT_NEAR(rec.FreeMB - after.FreeMB, 1.0, 0.05);
}

TEST(DriveInfo, ExFatGivesClusterHeapAndBitmap) {
    test::TempDir dir;
    auto img = test::MakeExFatImage(dir / "sdxc.img");
    REQUIRE_IMAGE(img);
    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    const std::string dump = "dump.exfat " + img.string();
    EXPECT_EQ(rec.fileSystemName(), "exFAT");
    EXPECT_EQ(rec.ClusterHeapOffset, ToolNumber(dump, R"(Cluster Heap Offset \(sector offset\):\s+(\d+))"));
    EXPECT_EQ(rec.FirstDataSector, rec.ClusterHeapOffset);
    EXPECT_EQ(rec.clusterBytes(), static_cast<std::uint64_t>(ToolNumber(dump, R"(Cluster size:\s+(\d+))")));
    EXPECT_EQ(rec.TotalClusters, ToolNumber(dump, R"(Cluster Count:\s+(\d+))"));
    EXPECT_EQ(rec.RootCluster, ToolNumber(dump, R"(Root Cluster \(cluster offset\):\s+(\d+))"));
    EXPECT_EQ(rec.SerialNumber, ToolNumber(dump, R"(Volume Serial:\s+0x([0-9a-fA-F]+))", 16));
    EXPECT_EQ(rec.BitmapCluster, ToolNumber(dump, R"(Bitmap start cluster:\s+(\d+))"));
    EXPECT_EQ(rec.BitmapLength, static_cast<std::uint64_t>(ToolNumber(dump, R"(Bitmap size:\s+(\d+))")));
    EXPECT_EQ(rec.VolumeLabel, "HXEXFAT");
    EXPECT_DOUBLE_EQ(rec.FreeMB, ToolNumber(dump, R"(Free Clusters:\s+(\d+))") * rec.clusterBytes() / 1048576.0);

    // Large SDXC cards use 128 KiB clusters: 256 sectors, more than a byte holds.
    auto sdxc = test::MakeExFatImage(dir / "big.img", {64, 128 * 1024});
    REQUIRE_IMAGE(sdxc);
    ASSERT_TRUE(filesystems::GetDriveInfo(sdxc.string(), rec));
    EXPECT_EQ(rec.SectorsPerCluster, 256u);
    EXPECT_EQ(rec.TotalClusters, ToolNumber("dump.exfat " + sdxc.string(), R"(Cluster Count:\s+(\d+))"));
}

TEST(DriveInfo, LoopDeviceReadsLikeTheImage) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "fat16.img", {16});
    REQUIRE_IMAGE(img);
    ASSERT_TRUE(test::FatPutFile(img, "A.TXT", "abc"));
    test::LoopDevice loop(img);
    if (!loop.ok()) GTEST_SKIP() << test::MediaSkipReason();
    media::DriveRecord fromImage, fromDevice;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), fromImage));
    ASSERT_TRUE(filesystems::GetDriveInfo(loop.path(), fromDevice));
    EXPECT_FALSE(fromDevice.IsImage);
    EXPECT_EQ(fromDevice.driveTypeName(), "Fixed");
    EXPECT_EQ(fromDevice.FileSystem, fromImage.FileSystem);
    EXPECT_EQ(fromDevice.FirstDataSector, fromImage.FirstDataSector);
    ASSERT_TRUE(filesystems::TableOf(fromDevice) && filesystems::TableOf(fromImage));
    EXPECT_EQ(filesystems::TableOf(fromDevice)->entries, filesystems::TableOf(fromImage)->entries);
    EXPECT_EQ(fromDevice.RootDirEntries, fromImage.RootDirEntries);
    EXPECT_DOUBLE_EQ(fromDevice.FreeMB, fromImage.FreeMB);
}

TEST(DriveInfo, Fat12TableEndingInsideATripleKeepsItsLastWholeEntry) {
    media::DriveRecord rec;
    rec.FileSystem = media::FileSystemKind::Fat12;
    // Entries FF8 FFF 003 004 FFF; the table ends half-way into the next pair.
    filesystems::DecodeFat(rec, {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0xFF, 0x0F});
    const std::vector<std::uint32_t> expected = {0xFF8, 0xFFF, 0x003, 0x004, 0xFFF};
    ASSERT_NE(filesystems::TableOf(rec), nullptr);
    EXPECT_EQ(filesystems::TableOf(rec)->entries, expected);
}
