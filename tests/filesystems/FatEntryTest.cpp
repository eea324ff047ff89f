// Directory-entry parsing on hand-made entries: the cases real tools do not make.
#include <gtest/gtest.h>

#include <cstring>

#include "filesystems/fat/UndeleteFat.h"

namespace hx::filesystems {
namespace {

RawDirEntry shortEntry(const char* name11, std::uint8_t attr, std::uint32_t cluster, std::uint32_t size,
                       std::uint16_t wdate = 0x4F2E, std::uint16_t wtime = 0x6000, std::uint16_t cdate = 0x4F2E,
                       std::uint16_t ctime = 0x5000) {
    RawDirEntry e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = attr;
    e[13] = 50;  // half a second
    e[14] = ctime & 0xFF, e[15] = ctime >> 8;
    e[16] = cdate & 0xFF, e[17] = cdate >> 8;
    e[18] = cdate & 0xFF, e[19] = cdate >> 8;
    e[20] = (cluster >> 16) & 0xFF, e[21] = cluster >> 24;
    e[22] = wtime & 0xFF, e[23] = wtime >> 8;
    e[24] = wdate & 0xFF, e[25] = wdate >> 8;
    e[26] = cluster & 0xFF, e[27] = (cluster >> 8) & 0xFF;
    for (int i = 0; i < 4; ++i) e[28 + i] = (size >> (8 * i)) & 0xFF;
    return e;
}

// Long-name entries in disk order (last part first), as VFAT writes them.
std::vector<RawDirEntry> longEntries(const std::string& name, bool deleted) {
    std::vector<RawDirEntry> parts;
    const int count = static_cast<int>((name.size() + 12) / 13);
    for (int p = 0; p < count; ++p) {
        RawDirEntry e{};
        e[0] = static_cast<std::uint8_t>(p + 1);
        e[11] = 0x0F;
        static const int offsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (int i = 0; i < 13; ++i) {
            const std::size_t at = p * 13 + i;
            std::uint16_t c = at < name.size() ? static_cast<unsigned char>(name[at]) : (at == name.size() ? 0 : 0xFFFF);
            e[offsets[i]] = c & 0xFF;
            e[offsets[i] + 1] = c >> 8;
        }
        parts.push_back(e);
    }
    parts.back()[0] |= 0x40;
    std::vector<RawDirEntry> out(parts.rbegin(), parts.rend());
    if (deleted)
        for (auto& e : out) e[0] = 0xE5;
    return out;
}

TEST(FatEntries, DeletedShortNameUnderItsLongName) {
    auto raw = longEntries("Holiday photo.jpg", true);
    auto s = shortEntry("FOTO0001JPG", 0x20, 5, 12345);
    s[0] = 0xE5;
    raw.push_back(s);
    raw.push_back(shortEntry("README  TXT", 0x21, 9, 10));
    std::vector<UndeleteEntry> list;
    VulUndeleteList(raw, list, false, false);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].FileName, "?OTO0001.JPG");
    EXPECT_EQ(list[0].ListName, "Holiday photo.jpg");
    EXPECT_TRUE(list[0].isDeleted());
    EXPECT_EQ(list[0].FirstCluster, 5u);
    EXPECT_EQ(list[0].Size, 12345u);
    // The long name was used up: the next entry has only its short name.
    EXPECT_EQ(list[1].ListName, "README.TXT");
    EXPECT_EQ(AttributeText(list[1].Attributes), "ReadOnly,Archive");
}

TEST(FatEntries, DuplicateKeepsTheLargerSize) {
    std::vector<RawDirEntry> raw = {shortEntry("A       JPG", 0x20, 7, 100), shortEntry("A       JPG", 0x20, 7, 900),
                                    shortEntry("A       JPG", 0x20, 7, 500), shortEntry("A       JPG", 0x20, 8, 50)};
    std::vector<UndeleteEntry> list;
    VulUndeleteList(raw, list, false, false);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Size, 900u);
    EXPECT_EQ(list[1].FirstCluster, 8u);
}

TEST(FatEntries, DatesAndTheZeroDate) {
    // Written 2019-09-14 12:00:00 (date word 0x4F2E, time 0x6000), created 10:00:00.5.
    std::vector<RawDirEntry> raw = {shortEntry("DATED   TXT", 0x20, 3, 1),
                                    shortEntry("NODATE  TXT", 0x20, 4, 1, 0x4F2E, 0x6000, 0, 0)};
    std::vector<UndeleteEntry> list;
    VulUndeleteList(raw, list, false, false);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(FormatDate(list[0].Modified), "2019-09-14 12:00:00");
    EXPECT_NEAR(list[0].Created - DateSerial(2019, 9, 14), (10 * 3600 + 0.5) / 86400.0, 1e-9);
    EXPECT_EQ(YearOf(FatDateTime(0, 0)), 1979);
    EXPECT_EQ(list[1].Created, list[1].Modified);
    EXPECT_EQ(list[1].Accessed, list[1].Modified);
}

TEST(FatEntries, SkipsVolumeLabelsBlanksAndEndMarkers) {
    std::vector<RawDirEntry> raw = {shortEntry("MYCARD     ", 0x08, 0, 0), shortEntry("        JPG", 0x20, 3, 5),
                                    RawDirEntry{}, shortEntry("DCIM       ", 0x10, 3, 0)};
    std::vector<UndeleteEntry> list;
    VulUndeleteList(raw, list, false, false);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].FileName, "DCIM");
    EXPECT_TRUE(list[0].isFolder());
    EXPECT_EQ(AttributeText(0), "Normal");
    EXPECT_EQ(AttributeText(0x16), "Directory,Hidden,System");
}

TEST(FatEntries, Fat32HighWordRepairOnRemovables) {
    // The deleted copy lost its high word; a live twin with the same size and
    // low word gives it back.
    auto live = shortEntry("IMG_0001JPG", 0x20, 0x30005, 4000);
    auto gone = shortEntry("IMG_0001JPG", 0x20, 0x00005, 4000);
    gone[0] = 0xE5;
    std::vector<UndeleteEntry> list;
    VulUndeleteList({live, gone}, list, true, true);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].FirstCluster, 0x30005u);

    // No twin: raised by 65536 until it is not below the previous entry's cluster.
    auto before = shortEntry("IMG_0002JPG", 0x20, 0x20010, 10);
    auto lost = shortEntry("IMG_0003JPG", 0x20, 0x00020, 10);
    lost[0] = 0xE5;
    list.clear();
    VulUndeleteList({before, lost}, list, true, true);
    EXPECT_EQ(list[1].FirstCluster, 0x20020u);

    // Not on a fixed disk.
    list.clear();
    VulUndeleteList({before, lost}, list, true, false);
    EXPECT_EQ(list[1].FirstCluster, 0x20u);
}

TEST(FatEntries, BootSectorGeometryIsChecked) {
    std::uint8_t boot[512] = {};
    FatVolume v;
    EXPECT_FALSE(ParseFatBootSector(boot, sizeof boot, v));
    boot[0] = 0xEB, boot[510] = 0x55, boot[511] = 0xAA;
    boot[11] = 0, boot[12] = 2;  // 512 bytes per sector
    boot[13] = 3;               // not a power of two
    boot[14] = 1, boot[16] = 2, boot[17] = 224, boot[19] = 0x40, boot[20] = 0x0B, boot[22] = 9;
    EXPECT_FALSE(ParseFatBootSector(boot, sizeof boot, v));
    boot[13] = 1;
    ASSERT_TRUE(ParseFatBootSector(boot, sizeof boot, v));  // a 1.44 MB floppy
    EXPECT_EQ(v.fatBits, 12);
    EXPECT_EQ(v.firstDataSector, 33u);
    EXPECT_EQ(v.clusterCount, 2847u);
    boot[11] = 0, boot[12] = 0;  // the catalogue would assume 512; the undelete refuses
    EXPECT_FALSE(ParseFatBootSector(boot, sizeof boot, v));
}

}  // namespace
}  // namespace hx::filesystems
