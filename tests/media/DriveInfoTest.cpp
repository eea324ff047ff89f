// Cataloguing real images made by mkfs.fat/mtools, mkntfs and mkfs.exfat; the
// expected figures come from the file systems' own tools (fsck.fat, minfo,
// ntfsinfo, dump.exfat), not from our reading.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "fixtures/MediaImages.h"
#include "fixtures/TempDir.h"
#include "media/AllocationBitmap.h"
#include "media/DriveInfo.h"
#include "platform/DriveCatalogue.h"

using namespace hx;
namespace fs = std::filesystem;

namespace {

// The first number captured by `pattern` in the output of `command`.
std::int64_t toolNumber(const std::string& command, const std::string& pattern, int base = 10) {
    std::string out;
    test::RunCommand(command, &out);
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(pattern))) {
        ADD_FAILURE() << "no '" << pattern << "' in output of " << command << ":\n" << out;
        return -1;
    }
    return std::stoll(m[1].str(), nullptr, base);
}

std::string name83(const media::DirEntry& e) {
    std::string base(reinterpret_cast<const char*>(e.data()), 8), ext(reinterpret_cast<const char*>(e.data() + 8), 3);
    while (!base.empty() && base.back() == ' ') base.pop_back();
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    return ext.empty() ? base : base + "." + ext;
}

bool hasEntry(const media::DriveRecord& rec, const std::string& name) {
    for (const auto& e : rec.RootDirEntries)
        if (e[0] != 0xE5 && e[11] != 0x0F && name83(e) == name) return true;
    return false;
}

std::uint32_t firstCluster(const media::DirEntry& e) {
    return static_cast<std::uint32_t>(e[26] | (e[27] << 8) | (e[20] << 16) | (e[21] << 24));
}

const media::DirEntry* findEntry(const media::DriveRecord& rec, const std::string& name) {
    for (const auto& e : rec.RootDirEntries)
        if (e[0] != 0xE5 && e[11] != 0x0F && name83(e) == name) return &e;
    return nullptr;
}

void patch(const fs::path& file, std::uint64_t offset, const std::string& bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

#define REQUIRE_IMAGE(path) \
    if ((path).empty()) GTEST_SKIP() << test::MediaSkipReason()

}  // namespace

class FatGeometry : public ::testing::TestWithParam<int> {};

TEST_P(FatGeometry, MatchesFsckAndFindsFiles) {
    const int bits = GetParam();
    test::TempDir dir;
    test::FatImageOptions opt;
    opt.fatBits = bits;
    auto img = test::MakeFatImage(dir / "card.img", opt);
    REQUIRE_IMAGE(img);
    ASSERT_TRUE(test::FatPutFile(img, "PHOTO1.JPG", test::PatternBytes(20000, 1)));
    ASSERT_TRUE(test::FatPutFile(img, "DCIM/IMG_0002.JPG", test::PatternBytes(3000, 2)));

    media::DriveRecord rec;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), rec));
    const std::string fsck = "fsck.fat -v -n " + img.string();
    EXPECT_EQ(rec.FileSystem, "FAT" + std::to_string(bits));
    EXPECT_EQ(rec.BytesPerSector, toolNumber(fsck, R"((\d+) bytes per logical sector)"));
    EXPECT_EQ(rec.clusterBytes(), static_cast<std::uint64_t>(toolNumber(fsck, R"((\d+) bytes per cluster)")));
    EXPECT_EQ(rec.ReservedSectors, toolNumber(fsck, R"((\d+) reserved sector)"));
    EXPECT_EQ(rec.NumberOfFATs, toolNumber(fsck, R"((\d+) FATs)"));
    EXPECT_EQ(rec.SectorsPerFAT, toolNumber(fsck, R"(= (\d+) sectors\))"));
    EXPECT_EQ(rec.FirstDataSector, toolNumber(fsck, R"(Data area starts at byte \d+ \(sector (\d+)\))"));
    EXPECT_EQ(rec.TotalClusters, toolNumber(fsck, R"((\d+) data clusters)"));
    EXPECT_EQ(rec.FATEntryBytes, bits == 12 ? 1.5f : bits / 8.0f);
    if (bits == 32) {
        EXPECT_EQ(rec.RootDirStart, rec.FirstDataSector);
        EXPECT_EQ(rec.RootCluster, toolNumber("minfo -i " + img.string(), R"(rootCluster=(\d+))"));
        EXPECT_EQ(rec.FAT32Entries.size(), rec.FAT1.size() / 4);
    } else {
        EXPECT_EQ(rec.RootDirStart, toolNumber(fsck, R"(Root directory starts at byte \d+ \(sector (\d+)\))"));
        EXPECT_EQ(rec.RootCluster, 2u);
        const auto rootEntries = toolNumber(fsck, R"((\d+) root directory entries)");
        EXPECT_EQ(rec.RootDirSectorsMinusOne, rootEntries * 32 / 512 - 1);
        EXPECT_EQ(bits == 16 ? rec.FAT16Entries.size() : rec.FAT12Entries.size(),
                  bits == 16 ? rec.FAT1.size() / 2 : rec.FAT1.size() * 2 / 3);
    }
    EXPECT_EQ(rec.FAT1, rec.FAT2);
    EXPECT_EQ(rec.VolumeLabel, "HXTEST");
    EXPECT_EQ(rec.SerialNumber, 0x1234ABCDu);
    EXPECT_EQ(rec.TotalSectors, rec.TotalClusters * rec.SectorsPerCluster);
    EXPECT_TRUE(hasEntry(rec, "PHOTO1.JPG"));
    EXPECT_TRUE(hasEntry(rec, "DCIM"));
    EXPECT_EQ(rec.ShortReads, 0u);

    // Free space from our FAT reading agrees with fsck's used-cluster count.
    std::string out;
    test::RunCommand(fsck, &out);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"((\d+)/(\d+) clusters)")));
    const double freeClusters = std::stod(m[2].str()) - std::stod(m[1].str());
    EXPECT_DOUBLE_EQ(rec.FreeMB, freeClusters * rec.clusterBytes() / 1048576.0);
    EXPECT_DOUBLE_EQ(rec.TotalMB, rec.TotalClusters * rec.clusterBytes() / 1048576.0);
}

INSTANTIATE_TEST_SUITE_P(AllFatTypes, FatGeometry, ::testing::Values(12, 16, 32));

TEST(DriveInfo, Fat32RootDirectorySpanningManyClustersIsReadWhole) {
    test::TempDir dir;
    test::FatImageOptions opt;
    opt.fatBits = 32;
    opt.sectorsPerCluster = 1;  // 16 entries per cluster
    auto img = test::MakeFatImage(dir / "fat32.img", opt);
    REQUIRE_IMAGE(img);
    // Files written between the directory's growth steps scatter its clusters.
    for (int i = 0; i < 60; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%03d.DAT", i);
        ASSERT_TRUE(test::FatPutFile(img, name, test::PatternBytes(700, static_cast<std::uint32_t>(i))));
    }
    media::DriveRecord rec;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), rec));
    for (int i = 0; i < 60; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%03d.DAT", i);
        EXPECT_TRUE(hasEntry(rec, name)) << name;
    }
    // The chain really is fragmented, and its length decides the sector count.
    std::uint32_t c = rec.RootCluster, clusters = 1;
    bool jumped = false;
    while (!media::IsChainEnd(rec, media::FatEntry(rec, c))) {
        jumped |= media::FatEntry(rec, c) != c + 1;
        c = media::FatEntry(rec, c);
        ++clusters;
    }
    EXPECT_GE(clusters, 4u);
    EXPECT_TRUE(jumped);
    EXPECT_EQ(rec.RootDirEntries.size(), clusters * 16u);
    EXPECT_EQ(rec.RootDirSectorsMinusOne, clusters - 1);
}

TEST(DriveInfo, BootSectorOddities) {
    test::TempDir dir;
    test::FatImageOptions opt;
    opt.fatBits = 16;
    auto img = test::MakeFatImage(dir / "fat16.img", opt);
    REQUIRE_IMAGE(img);

    // An image parsed on its own gets geometry but no tables.
    media::DriveRecord alone;
    ASSERT_TRUE(media::ParseBootSector(img.string(), alone, false));
    EXPECT_EQ(alone.FileSystem, "FAT16");
    EXPECT_TRUE(alone.FAT1.empty());
    EXPECT_TRUE(alone.RootDirEntries.empty());
    // The same file attached as a drive gets its tables.
    ASSERT_TRUE(media::ParseBootSector(img.string()));
    EXPECT_TRUE(media::CurrentDrive().FAT1.empty());
    ASSERT_TRUE(platform::AttachImage(img.string()));
    ASSERT_TRUE(media::ParseBootSector(img.string()));
    EXPECT_FALSE(media::CurrentDrive().FAT1.empty());
    platform::DetachAllImages();
    media::CurrentDrive().reset();

    // Bytes per sector 0 reads as 512.
    patch(img, 11, std::string(2, '\0'));
    media::DriveRecord zero;
    ASSERT_TRUE(media::ParseBootSector(img.string(), zero, false));
    EXPECT_EQ(zero.BytesPerSector, 512);
    EXPECT_EQ(zero.FileSystem, "FAT16");
    EXPECT_EQ(zero.FirstDataSector, alone.FirstDataSector);

    // A blank type field on a small volume is FAT12; on a large one the
    // cluster count says FAT16.
    patch(img, 54, std::string(8, ' '));
    media::DriveRecord blank;
    media::ParseBootSector(img.string(), blank, false);
    EXPECT_EQ(blank.FileSystem, "FAT16");
    auto floppy = test::MakeFatImage(dir / "fat12.img", {12, 1440});
    REQUIRE_IMAGE(floppy);
    patch(floppy, 54, std::string(8, ' '));
    media::ParseBootSector(floppy.string(), blank, false);
    EXPECT_EQ(blank.FileSystem, "FAT12");

    // Too short to hold a boot sector: nothing parsed, sector size 512.
    test::WriteFile(dir / "tiny.img", std::string(100, 'x'));
    media::DriveRecord tiny;
    EXPECT_FALSE(media::ParseBootSector((dir / "tiny.img").string(), tiny, true));
    EXPECT_EQ(tiny.BytesPerSector, 512);
    EXPECT_EQ(tiny.FirstDataSector, 0u);
    EXPECT_FALSE(media::GetDriveInfo((dir / "missing.img").string(), tiny));
}

TEST(DriveInfo, ShortImageAndLoopingChainsEnd) {
    test::TempDir dir;
    test::FatImageOptions opt;
    opt.fatBits = 32;
    opt.sectorsPerCluster = 1;
    auto img = test::MakeFatImage(dir / "fat32.img", opt);
    REQUIRE_IMAGE(img);
    for (int i = 0; i < 70; ++i)
        ASSERT_TRUE(test::FatPutFile(img, "L" + std::to_string(i) + ".TXT", "x"));
    media::DriveRecord rec;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), rec));
    const std::size_t whole = rec.RootDirEntries.size();

    // Make the root chain's third cluster point back to the first.
    const std::uint32_t second = media::FatEntry(rec, rec.RootCluster);
    const std::uint32_t third = media::FatEntry(rec, second);
    ASSERT_FALSE(media::IsChainEnd(rec, third));
    for (std::uint32_t copy = 0; copy < rec.NumberOfFATs; ++copy) {
        const std::uint64_t at = (rec.ReservedSectors + copy * rec.SectorsPerFAT) * 512ull + third * 4ull;
        const std::uint32_t v = rec.RootCluster;
        patch(img, at, std::string(reinterpret_cast<const char*>(&v), 4));
    }
    media::DriveRecord looped;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), looped));
    EXPECT_EQ(looped.RootDirEntries.size(), 3u * 16);
    EXPECT_LT(looped.RootDirEntries.size(), whole);

    // An image cut short of what its boot sector claims reads what exists.
    fs::resize_file(img, rec.FirstDataSector * 512ull + 512);
    media::DriveRecord cut;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), cut));
    EXPECT_EQ(cut.FileSystem, "FAT32");
    EXPECT_EQ(cut.RootDirEntries.size(), 16u);
    EXPECT_GT(cut.ShortReads, 0u);
}

TEST(DriveInfo, SubdirectoryChainNeedsDotEntries) {
    test::TempDir dir;
    test::FatImageOptions opt;
    opt.fatBits = 16;
    opt.sectorsPerCluster = 1;
    auto img = test::MakeFatImage(dir / "fat16.img", opt);
    REQUIRE_IMAGE(img);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(test::FatPutFile(img, "DCIM/P" + std::to_string(i) + ".JPG", test::PatternBytes(100, 7)));
    ASSERT_TRUE(test::FatPutFile(img, "README.TXT", "hello"));
    media::DriveRecord rec;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), rec));
    const auto* dcim = findEntry(rec, "DCIM");
    const auto* readme = findEntry(rec, "README.TXT");
    ASSERT_TRUE(dcim && readme);
    const std::uint32_t dcimCluster = firstCluster(*dcim), readmeCluster = firstCluster(*readme);
    const std::size_t before = rec.RootDirEntries.size();

    bool isDir = false;
    EXPECT_EQ(media::ReadDirectoryChain(img.string(), readmeCluster, isDir, rec), -1);
    EXPECT_FALSE(isDir);
    EXPECT_EQ(rec.RootDirEntries.size(), before);

    const std::int64_t minusOne = media::ReadDirectoryChain(img.string(), dcimCluster, isDir, rec);
    EXPECT_TRUE(isDir);
    const std::size_t added = rec.RootDirEntries.size() - before;
    EXPECT_GE(added, 22u);  // ".", ".." and twenty files over two clusters
    EXPECT_EQ(minusOne, static_cast<std::int64_t>(added * 32 / 512) - 1);
    EXPECT_EQ(name83(rec.RootDirEntries[before]), ".");
    bool found = false;
    for (std::size_t i = before; i < rec.RootDirEntries.size(); ++i) found |= name83(rec.RootDirEntries[i]) == "P19.JPG";
    EXPECT_TRUE(found);
}

TEST(DriveInfo, NtfsGivesMftAndLabel) {
    test::TempDir dir;
    auto img = test::MakeNtfsImage(dir / "ntfs.img");
    REQUIRE_IMAGE(img);
    media::DriveRecord rec;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), rec));
    const std::string info = "ntfsinfo -m " + img.string();
    EXPECT_EQ(rec.FileSystem, "NTFS");
    EXPECT_EQ(rec.MFTCluster, toolNumber(info, R"(LCN of Data Attribute for FILE_MFT: (\d+))"));
    EXPECT_EQ(rec.MFTRecordBytes, toolNumber(info, R"(MFT Record Size: (\d+))"));
    EXPECT_EQ(rec.MFTRecordClusters, 0xF6u);  // -10: records of 2^10 bytes
    EXPECT_EQ(rec.clusterBytes(), static_cast<std::uint64_t>(toolNumber(info, R"(Cluster Size: (\d+))")));
    EXPECT_EQ(rec.TotalClusters, toolNumber(info, R"(Volume Size in Clusters: (\d+))"));
    EXPECT_EQ(rec.VolumeLabel, "HXNTFS");
    EXPECT_TRUE(rec.RootDirEntries.empty());
    EXPECT_GT(rec.FreeMB, 0);
    EXPECT_LT(rec.FreeMB, rec.TotalMB);

    // A megabyte written takes a megabyte of free space ($Bitmap read back).
    ASSERT_TRUE(test::NtfsPutFile(img, "big.bin", test::PatternBytes(1 << 20, 3)));
    media::DriveRecord after;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), after));
    EXPECT_NEAR(rec.FreeMB - after.FreeMB, 1.0, 0.05);
}

TEST(DriveInfo, ExFatGivesClusterHeapAndBitmap) {
    test::TempDir dir;
    auto img = test::MakeExFatImage(dir / "sdxc.img");
    REQUIRE_IMAGE(img);
    media::DriveRecord rec;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), rec));
    const std::string dump = "dump.exfat " + img.string();
    EXPECT_EQ(rec.FileSystem, "exFAT");
    EXPECT_EQ(rec.ClusterHeapOffset, toolNumber(dump, R"(Cluster Heap Offset \(sector offset\):\s+(\d+))"));
    EXPECT_EQ(rec.FirstDataSector, rec.ClusterHeapOffset);
    EXPECT_EQ(rec.clusterBytes(), static_cast<std::uint64_t>(toolNumber(dump, R"(Cluster size:\s+(\d+))")));
    EXPECT_EQ(rec.TotalClusters, toolNumber(dump, R"(Cluster Count:\s+(\d+))"));
    EXPECT_EQ(rec.RootCluster, toolNumber(dump, R"(Root Cluster \(cluster offset\):\s+(\d+))"));
    EXPECT_EQ(rec.SerialNumber, toolNumber(dump, R"(Volume Serial:\s+0x([0-9a-fA-F]+))", 16));
    EXPECT_EQ(rec.BitmapCluster, toolNumber(dump, R"(Bitmap start cluster:\s+(\d+))"));
    EXPECT_EQ(rec.BitmapLength, static_cast<std::uint64_t>(toolNumber(dump, R"(Bitmap size:\s+(\d+))")));
    EXPECT_EQ(rec.VolumeLabel, "HXEXFAT");
    EXPECT_DOUBLE_EQ(rec.FreeMB, toolNumber(dump, R"(Free Clusters:\s+(\d+))") * rec.clusterBytes() / 1048576.0);

    // Large SDXC cards use 128 KiB clusters: 256 sectors, more than a byte holds.
    auto sdxc = test::MakeExFatImage(dir / "big.img", {64, 128 * 1024});
    REQUIRE_IMAGE(sdxc);
    ASSERT_TRUE(media::GetDriveInfo(sdxc.string(), rec));
    EXPECT_EQ(rec.SectorsPerCluster, 256u);
    EXPECT_EQ(rec.TotalClusters, toolNumber("dump.exfat " + sdxc.string(), R"(Cluster Count:\s+(\d+))"));
}

TEST(DriveInfo, FourKiBSectors) {
    test::TempDir dir;
    test::FatImageOptions opt;
    opt.fatBits = 16;
    opt.bytesPerSector = 4096;
    opt.sectorsPerCluster = 1;
    auto img = test::MakeFatImage(dir / "4k.img", opt);
    REQUIRE_IMAGE(img);
    ASSERT_TRUE(test::FatPutFile(img, "A.TXT", test::PatternBytes(10000, 4)));
    media::DriveRecord rec;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), rec));
    const std::string fsck = "fsck.fat -v -n " + img.string();
    EXPECT_EQ(rec.BytesPerSector, 4096);
    EXPECT_EQ(rec.FirstDataSector, toolNumber(fsck, R"(Data area starts at byte \d+ \(sector (\d+)\))"));
    EXPECT_EQ(rec.TotalClusters, toolNumber(fsck, R"((\d+) data clusters)"));
    EXPECT_TRUE(hasEntry(rec, "A.TXT"));
    // The file's first cluster holds its first bytes.
    const auto* a = findEntry(rec, "A.TXT");
    ASSERT_NE(a, nullptr);
    auto data = media::ReadClusterChain(rec, firstCluster(*a), 10000);
    EXPECT_EQ(std::string(data.begin(), data.end()), test::PatternBytes(10000, 4));
}

TEST(DriveInfo, LoopDeviceReadsLikeTheImage) {
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "fat16.img", {16});
    REQUIRE_IMAGE(img);
    ASSERT_TRUE(test::FatPutFile(img, "A.TXT", "abc"));
    test::LoopDevice loop(img);
    if (!loop.ok()) GTEST_SKIP() << test::MediaSkipReason();
    media::DriveRecord fromImage, fromDevice;
    ASSERT_TRUE(media::GetDriveInfo(img.string(), fromImage));
    ASSERT_TRUE(media::GetDriveInfo(loop.path(), fromDevice));
    EXPECT_FALSE(fromDevice.IsImage);
    EXPECT_EQ(fromDevice.DriveType, "Fixed");
    EXPECT_EQ(fromDevice.FileSystem, fromImage.FileSystem);
    EXPECT_EQ(fromDevice.FirstDataSector, fromImage.FirstDataSector);
    EXPECT_EQ(fromDevice.FAT1, fromImage.FAT1);
    EXPECT_EQ(fromDevice.RootDirEntries, fromImage.RootDirEntries);
    EXPECT_DOUBLE_EQ(fromDevice.FreeMB, fromImage.FreeMB);
}

TEST(DriveInfo, Fat12TableEndingInsideATripleKeepsItsLastWholeEntry) {
    media::DriveRecord rec;
    rec.FileSystem = "FAT12";
    // Entries FF8 FFF 003 004 FFF; the table ends half-way into the next pair.
    rec.FAT1 = {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0xFF, 0x0F};
    media::DecodeFat(rec);
    const std::vector<std::uint16_t> expected = {0xFF8, 0xFFF, 0x003, 0x004, 0xFFF};
    EXPECT_EQ(rec.FAT12Entries, expected);
}
