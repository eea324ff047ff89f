// Whole-card images (partition table + FAT partition) made by sfdisk and
// mkfs.fat --offset, filled by mtools; damaged tables made by patching them.
// Expected geometry comes from minfo on the partition, not from our reading.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>

#include "fixtures/MediaImages.h"
#include "fixtures/TempDir.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/fat/FatTables.h"
#include "volumes/PartitionTable.h"
#include "media/SectorIo.h"
#include "platform/DriveCatalogue.h"
#include "platform/RawFile.h"
#include "volumes/DriveFiles.h"

using namespace hx;
namespace fs = std::filesystem;

namespace {

std::int64_t minfoNumber(const fs::path& partition, const std::string& pattern) {
    return test::ToolNumber("MTOOLS_SKIP_CHECK=1 minfo -i '" + partition.string() + "'", pattern);
}

std::string le32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

std::uint32_t crc32(const std::string& s) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

// A 512-byte MBR/EBR with up to four (status, type, start, count) slots.
struct Slot {
    std::uint8_t status, type;
    std::uint32_t start, count;
};
void putTable(std::vector<std::uint8_t>& medium, std::uint64_t lba, std::initializer_list<Slot> slots) {
    std::uint8_t* s = medium.data() + lba * 512;
    int i = 0;
    for (const Slot& e : slots) {
        std::uint8_t* p = s + 446 + 16 * i++;
        p[0] = e.status;
        p[4] = e.type;
        for (int k = 0; k < 4; ++k) {
            p[8 + k] = static_cast<std::uint8_t>(e.start >> (8 * k));
            p[12 + k] = static_cast<std::uint8_t>(e.count >> (8 * k));
        }
    }
    s[510] = 0x55;
    s[511] = 0xAA;
}

}  // namespace

class WholeCard : public ::testing::TestWithParam<bool> {};

// A card as dd copies it is catalogued on its partition, and files read
// through their cluster chains come back as they went in.
TEST_P(WholeCard, CataloguedOnItsPartition) {
    const bool gpt = GetParam();
    test::TempDir dir;
    test::PartitionedImageOptions opt;
    opt.gpt = gpt;
    opt.startSector = gpt ? 2048 : 8192;
    auto img = test::MakePartitionedImage(dir / "card.img", opt);
    REQUIRE_IMAGE(img);
    const auto part = test::PartitionPath(img, opt.startSector);
    const std::string photo = test::PatternBytes(150000, 7), small = test::PatternBytes(700, 8);
    ASSERT_TRUE(test::FatPutFile(part, "PHOTO.JPG", photo));
    ASSERT_TRUE(test::FatPutFile(part, "DCIM/100CANON/IMG_0001.JPG", small));

    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    EXPECT_EQ(rec.Drive, img.string() + "#1");
    EXPECT_EQ(rec.MediumDrive, img.string());
    EXPECT_EQ(rec.PartitionIndex, 1);
    EXPECT_TRUE(rec.describes(img.string()));
    EXPECT_EQ(rec.PartitionOffset, opt.startSector * 512ull);
    EXPECT_EQ(rec.MediumBytes, opt.sizeMiB * 1048576ull);
    EXPECT_EQ(rec.FileSystem, media::FileSystemKind::Fat32);
    EXPECT_EQ(rec.VolumeLabel, "HXCARD");
    EXPECT_EQ(rec.SerialNumber, opt.volumeId);
    EXPECT_EQ(rec.SectorsPerCluster, minfoNumber(part, R"(cluster size: (\d+) sectors)"));
    EXPECT_EQ(rec.ReservedSectors, minfoNumber(part, R"(reserved \(boot\) sectors: (\d+))"));
    EXPECT_EQ(rec.SectorsPerFAT, minfoNumber(part, R"(Big fatlen=(\d+))"));
    EXPECT_EQ(rec.VolumeSectors, minfoNumber(part, R"(big size: (\d+) sectors)"));
    EXPECT_EQ(rec.HiddenSectors, opt.startSector);
    EXPECT_EQ(rec.PartitionBytes, rec.VolumeSectors * 512);
    EXPECT_EQ(rec.mediumFirstDataSector(), opt.startSector + rec.FirstDataSector);
    EXPECT_EQ(rec.ShortReads, 0u);
    // The whole medium in the partition's cluster steps: the same cluster
    // sits at the same place read either way.
    const auto whole = filesystems::WholeMediumUnits(rec);
    EXPECT_EQ(whole.drive, img.string());
    EXPECT_EQ(whole.firstDataSector, rec.mediumFirstDataSector());
    EXPECT_GE(whole.totalUnits, static_cast<std::uint64_t>(rec.TotalClusters));
    EXPECT_LE((whole.firstDataSector + whole.totalUnits * rec.SectorsPerCluster) * 512, rec.MediumBytes);

    const auto* e = test::FindRootEntry(rec, "PHOTO.JPG");
    ASSERT_NE(e, nullptr);
    auto data = filesystems::ReadClusterChain(rec, test::EntryCluster(*e), photo.size());
    EXPECT_EQ(std::string(data.begin(), data.end()), photo);
    const auto* dcim = test::FindRootEntry(rec, "DCIM");
    ASSERT_NE(dcim, nullptr);
    bool isDirectory = false;
    EXPECT_GE(filesystems::ReadDirectoryChain(rec.Drive, test::EntryCluster(*dcim), isDirectory, rec), 0);
    EXPECT_TRUE(isDirectory);

    // The same bytes through the sector reader and a positioned handle.
    std::uint32_t got = 0;
    const std::int64_t lba = filesystems::ClusterToSector(rec, test::EntryCluster(*e));
    auto sectors = media::ReadSectors(rec.Drive, lba, 0, 1024, got, 512);
    ASSERT_EQ(got, 1024u);
    EXPECT_EQ(std::string(sectors.begin(), sectors.end()), photo.substr(0, 1024));
    const std::int64_t wholeLba =
        static_cast<std::int64_t>(whole.firstDataSector + (test::EntryCluster(*e) - 2) * rec.SectorsPerCluster);
    sectors = media::ReadSectors(whole.drive, wholeLba, 0, 1024, got, 512);
    EXPECT_EQ(std::string(sectors.begin(), sectors.end()), photo.substr(0, 1024));
    media::Handle h;
    ASSERT_TRUE(media::OpenDriveForRead(rec.Drive, lba, h, 512));
    std::string viaHandle(1024, '\0');
    EXPECT_EQ(h.read(viaHandle.data(), viaHandle.size()), 1024u);
    EXPECT_EQ(viaHandle, photo.substr(0, 1024));
    media::SeekSector(h, static_cast<std::int64_t>(rec.PartitionBytes / 512), 512);
    EXPECT_EQ(h.read(viaHandle.data(), 1), 0u) << "reads stop at the partition's end";
    media::CloseDrive(h);

    // Listed with its partition, and shown so by the command line.
    platform::DetachAllImages();
    ASSERT_TRUE(platform::AttachImage(img.string()));
    std::vector<std::string> ids;
    for (const auto& d : volumes::EnumerateDrives())
        if (d.isImage) ids.push_back(d.id);
    platform::DetachAllImages();
    EXPECT_EQ(ids, (std::vector<std::string>{img.string(), img.string() + "#1"}));
    platform::DriveEntry entry;
    ASSERT_TRUE(volumes::FindDrive(img.string() + "#1", entry));
    EXPECT_TRUE(entry.ready);
    EXPECT_EQ(entry.sizeBytes, static_cast<std::uint64_t>(test::ToolNumber("sfdisk -l -o Sectors " + img.string() + " | tail -n 1", R"((\d+))")) * 512);
    EXPECT_FALSE(volumes::FindDrive(img.string() + "#3", entry));
    std::string out;
    ASSERT_EQ(test::RunCommand(test::CliCommand() + " info " + img.string() + " 2>/dev/null", &out), 0) << out;
    EXPECT_NE(out.find("File System: FAT32"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(MbrAndGpt, WholeCard, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Gpt" : "Mbr"; });

// An SDXC card: exFAT in an MBR partition, geometry from dump.exfat on the partition.
TEST(WholeCard, ExFatPartition) {
    test::TempDir dir;
    test::PartitionedImageOptions opt;
    opt.exfat = true;
    auto img = test::MakePartitionedImage(dir / "sdxc.img", opt);
    REQUIRE_IMAGE(img);
    const std::string small = test::PatternBytes(3000, 9);
    if (!test::ExFatPutFile(test::PartitionPath(img, opt.startSector), "DCIM/A.JPG", small))
        GTEST_SKIP() << test::MediaSkipReason();
    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    EXPECT_EQ(rec.Drive, img.string() + "#1");
    EXPECT_EQ(rec.FileSystem, media::FileSystemKind::ExFat);
    EXPECT_EQ(rec.VolumeLabel, "HXCARD");
    test::LoopDevice loop(img, true, opt.startSector * 512ull);
    if (!loop.ok()) GTEST_SKIP() << test::MediaSkipReason();
    const std::string dump = "dump.exfat " + loop.path();
    EXPECT_EQ(rec.ClusterHeapOffset, test::ToolNumber(dump, R"(Cluster Heap Offset \(sector offset\):\s+(\d+))"));
    EXPECT_EQ(rec.TotalClusters, test::ToolNumber(dump, R"(Cluster Count:\s+(\d+))"));
    EXPECT_EQ(rec.mediumFirstDataSector(), opt.startSector + rec.ClusterHeapOffset);
    // The root holds the bitmap, the up-case table, the label and DCIM.
    EXPECT_NE(rec.BitmapCluster, 0u);
    bool dcim = false;
    for (const auto& e : rec.RootDirEntries)
        if (e[0] == 0xC1 && e[2] == 'D' && e[4] == 'C' && e[6] == 'I' && e[8] == 'M' && e[10] == 0) dcim = true;
    EXPECT_TRUE(dcim);
}

// Tables that lie: every bad number is caught, reads stay on the medium.
TEST(DamagedTables, MbrEntriesOutsideTheMedium) {
    std::vector<std::uint8_t> medium(4096 * 512);
    putTable(medium, 0, {{0x80, 0x0C, 2048, 100000}, {0x00, 0x0C, 900000, 10}, {0x00, 0x07, 0, 0}});
    const auto t = volumes::ParsePartitionTable(medium.data(), medium.size());
    ASSERT_EQ(t.scheme, volumes::PartitionScheme::Mbr);
    ASSERT_EQ(t.entries.size(), 2u);
    EXPECT_TRUE(t.entries[0].bootable);
    EXPECT_TRUE(t.entries[0].cutAtEnd);
    EXPECT_TRUE(t.entries[1].startsOutside);
    std::uint64_t offset = 0, length = 0;
    ASSERT_TRUE(t.window(1, medium.size(), offset, length));
    EXPECT_EQ(offset, 2048u * 512);
    EXPECT_EQ(length, medium.size() - offset);
    EXPECT_FALSE(t.window(2, medium.size(), offset, length));

    // Through the file layer: the cut partition opens bounded, the other one not at all.
    test::TempDir dir;
    const auto img = dir / "bad.img";
    test::WriteFile(img, std::string(medium.begin(), medium.end()));
    platform::RawFile f;
    ASSERT_TRUE(volumes::OpenDrive(f, img.string() + "#1", platform::RawFile::Mode::Read));
    EXPECT_EQ(f.size(), length);
    char buf[1024];
    EXPECT_EQ(f.readAt(length - 512, buf, sizeof buf), 512u);
    EXPECT_FALSE(f.truncate(0));
    // The table rewritten at once (same file, same size): the new window counts.
    putTable(medium, 0, {{0x80, 0x0C, 4000, 50}});
    test::WriteFile(img, std::string(medium.begin(), medium.end()));
    ASSERT_TRUE(volumes::OpenDrive(f, img.string() + "#1", platform::RawFile::Mode::Read));
    EXPECT_EQ(f.windowBase(), 4000u * 512);
    EXPECT_EQ(f.size(), 50u * 512);
    putTable(medium, 0, {{0x80, 0x0C, 2048, 100000}, {0x00, 0x0C, 900000, 10}});
    test::WriteFile(img, std::string(medium.begin(), medium.end()));
    EXPECT_FALSE(volumes::OpenDrive(f, img.string() + "#2", platform::RawFile::Mode::Read));
    EXPECT_EQ(f.lastError(), ENXIO);
    EXPECT_FALSE(volumes::OpenDrive(f, img.string() + "#4", platform::RawFile::Mode::Read));
    EXPECT_EQ(f.lastError(), ENOENT);
    platform::DriveEntry entry;
    EXPECT_TRUE(volumes::FindDrive(img.string() + "#2", entry));
    EXPECT_FALSE(entry.ready);
    media::DriveRecord rec;
    EXPECT_FALSE(filesystems::GetDriveInfo(img.string() + "#2", rec));
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    EXPECT_EQ(rec.Drive, img.string()) << "no partition holds a file system";
}

TEST(DamagedTables, NotATable) {
    std::vector<std::uint8_t> medium(64 * 512);
    putTable(medium, 0, {{0x12, 0x0C, 1, 10}});  // status byte neither 0x00 nor 0x80
    EXPECT_EQ(volumes::ParsePartitionTable(medium.data(), medium.size()).scheme, volumes::PartitionScheme::None);
    putTable(medium, 0, {{0x00, 0x0C, 100, 10}});  // starts beyond the medium
    EXPECT_EQ(volumes::ParsePartitionTable(medium.data(), medium.size()).scheme, volumes::PartitionScheme::None);

    // A FAT volume without a table ends in 0x55AA too, and its BPB bytes
    // would read as partition slots.
    test::TempDir dir;
    auto img = test::MakeFatImage(dir / "plain.img");
    REQUIRE_IMAGE(img);
    const std::string bytes = test::ReadFile(img);
    const auto t = volumes::ParsePartitionTable(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(t.scheme, volumes::PartitionScheme::None);
    EXPECT_TRUE(volumes::LooksLikeBootSector(reinterpret_cast<const std::uint8_t*>(bytes.data())));
}

TEST(DamagedTables, EbrChainsAreBounded) {
    std::vector<std::uint8_t> medium(2048 * 512);
    // Extended partition at 100; its second EBR links back to the first.
    putTable(medium, 0, {{0x00, 0x0C, 10, 20}, {0x00, 0x0F, 100, 1000}});
    putTable(medium, 100, {{0x00, 0x83, 1, 10}, {0x00, 0x05, 50, 100}});
    putTable(medium, 150, {{0x00, 0x83, 1, 10}, {0x00, 0x05, 0, 100}});
    auto t = volumes::ParsePartitionTable(medium.data(), medium.size());
    ASSERT_EQ(t.scheme, volumes::PartitionScheme::Mbr);
    ASSERT_EQ(t.entries.size(), 3u);
    EXPECT_EQ(t.entries[1].index, 5);
    EXPECT_EQ(t.entries[1].startLba, 101u);
    EXPECT_EQ(t.entries[2].index, 6);
    EXPECT_EQ(t.entries[2].startLba, 151u);
    EXPECT_TRUE(t.chainCut);

    // A chain longer than any real disk has: cut at the limit.
    std::fill(medium.begin(), medium.end(), 0);
    putTable(medium, 0, {{0x00, 0x0F, 1, 2000}});
    for (std::uint32_t i = 0; i < 400; ++i) putTable(medium, 1 + 4 * i, {{0, 0x83, 1, 2}, {0, 0x05, 4 * (i + 1), 4}});
    t = volumes::ParsePartitionTable(medium.data(), medium.size());
    EXPECT_EQ(t.entries.size(), static_cast<std::size_t>(volumes::kMaxLogicalPartitions));
    EXPECT_TRUE(t.chainCut);
}

TEST(ExtendedPartitions, EverySlotOfEveryRecordIsAPartition) {
    // Three primaries and an extended partition whose first record holds two
    // partitions and a link to a record that holds a third, each a FAT16
    // volume of its own: all six are catalogued.
    if (!test::HaveTool("mkfs.fat")) GTEST_SKIP() << "dosfstools missing";
    constexpr std::uint32_t kPart = 16384;  // sectors: 8 MiB
    std::vector<std::uint8_t> medium((2048 + 7 * kPart) * 512ull);
    putTable(medium, 0, {{0x80, 0x06, 2048, kPart}, {0x00, 0x06, 2048 + kPart, kPart},
                         {0x00, 0x06, 2048 + 2 * kPart, kPart}, {0x00, 0x0F, 2048 + 3 * kPart, 4 * kPart}});
    const std::uint32_t ext = 2048 + 3 * kPart;
    putTable(medium, ext, {{0x00, 0x06, 2048, kPart - 4096}, {0x00, 0x06, kPart, kPart}, {0x00, 0x05, 2 * kPart, kPart}});
    putTable(medium, ext + 2 * kPart, {{0x00, 0x06, 2048, kPart - 2048}});
    test::TempDir dir;
    const auto img = dir / "six.img";
    test::WriteFile(img, std::string(medium.begin(), medium.end()));
    const auto t = volumes::ParsePartitionTable(medium.data(), medium.size());
    ASSERT_EQ(t.entries.size(), 6u);
    const std::uint64_t starts[] = {2048, 2048 + kPart, 2048 + 2 * kPart, ext + 2048, ext + kPart, ext + 2 * kPart + 2048};
    for (std::size_t i = 0; i < 6; ++i) {
        const auto& e = t.entries[i];
        EXPECT_EQ(e.index, i < 3 ? static_cast<int>(i) + 1 : static_cast<int>(i) + 2);
        EXPECT_EQ(e.startLba, starts[i]) << i;
        const std::string label = "PART" + std::to_string(e.index);
        ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -s 1 --offset " + std::to_string(e.startLba) + " -n " + label + " '" +
                                   img.string() + "' " + std::to_string(e.sectorCount / 2) + " >/dev/null 2>&1"),
                  0);
    }
    EXPECT_FALSE(t.chainCut);
    for (const auto& e : t.entries) {
        media::DriveRecord rec;
        ASSERT_TRUE(filesystems::GetDriveInfo(img.string() + "#" + std::to_string(e.index), rec)) << e.index;
        EXPECT_TRUE(rec.isFat()) << e.index;
        EXPECT_EQ(rec.VolumeLabel, "PART" + std::to_string(e.index));
    }
}

TEST(DamagedTables, GptHugeEntryCountAndLostPrimaryHeader) {
    test::TempDir dir;
    test::PartitionedImageOptions opt;
    opt.gpt = true;
    opt.startSector = 2048;
    auto img = test::MakePartitionedImage(dir / "gpt.img", opt);
    REQUIRE_IMAGE(img);

    // Entry count 0xFFFFFFFF with a header CRC that matches it.
    std::string header = test::ReadFile(img).substr(512, 92);
    header.replace(80, 4, le32(0xFFFFFFFFu));
    header.replace(16, 4, le32(0));
    header.replace(16, 4, le32(crc32(header)));
    test::PatchFile(img, 512, header);
    std::string bytes = test::ReadFile(img);
    auto t = volumes::ParsePartitionTable(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ASSERT_EQ(t.scheme, volumes::PartitionScheme::Gpt);
    EXPECT_TRUE(t.entryCountCapped);
    EXPECT_FALSE(t.gptFromBackup);
    ASSERT_NE(t.find(1), nullptr);
    EXPECT_EQ(t.find(1)->startLba, 2048u);
    EXPECT_EQ(t.find(1)->typeGuid, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");

    // The primary header gone: the backup at the medium's end answers.
    test::PatchFile(img, 512, "EFI JUNK");
    bytes = test::ReadFile(img);
    t = volumes::ParsePartitionTable(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ASSERT_EQ(t.scheme, volumes::PartitionScheme::Gpt);
    EXPECT_TRUE(t.gptFromBackup);
    EXPECT_FALSE(t.gptEntriesCrcBad);
    ASSERT_NE(t.find(1), nullptr);
    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(img.string(), rec));
    EXPECT_EQ(rec.FileSystem, media::FileSystemKind::Fat32);
    EXPECT_EQ(rec.PartitionOffset, 2048u * 512);
}

TEST(PartitionDriveIds, SplitAndJoin) {
    std::string medium;
    int index = 0;
    ASSERT_TRUE(volumes::SplitPartitionDriveId("/x/card#1.img#12", medium, index));
    EXPECT_EQ(medium, "/x/card#1.img");
    EXPECT_EQ(index, 12);
    EXPECT_EQ(volumes::PartitionDriveId(medium, index), "/x/card#1.img#12");
    for (const char* bad : {"card.img", "card.img#", "card.img#0", "card.img#01", "card.img#12345", "#1", "a#1x"})
        EXPECT_FALSE(volumes::SplitPartitionDriveId(bad, medium, index)) << bad;
}
