// Deleted files on real FAT12/16/32 images (mkfs.fat, files copied and deleted with mtools).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>

#include "fixtures/UndeleteFixtures.h"
#include "fixtures/ScriptedUi.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/fat/UndeleteFat.h"

namespace hx::filesystems {
namespace {

struct FatKind {
    int bits;
    std::uint32_t sizeKiB;
    int sectorBytes = 512;  // 4096 as on a drive of 4 KiB sectors
};

class FatUndelete : public ::testing::TestWithParam<FatKind> {
protected:
    void SetUp() override {
        image_ = test::MakeFatImage(dir_ / "fat.img",
                                    {.fatBits = GetParam().bits, .sizeKiB = GetParam().sizeKiB, .sectorsPerCluster = 1,
                                     .bytesPerSector = GetParam().sectorBytes, .label = ""});
        REQUIRE_IMAGE(image_);
    }
    void put(const std::string& path, const std::string& bytes) {
        ASSERT_TRUE(test::FatPutFile(image_, path, bytes)) << test::MediaSkipReason();
        files_[path] = bytes;
    }
    void del(const std::string& path) { ASSERT_TRUE(test::FatDelete(image_, path)) << test::MediaSkipReason(); }
    // Everything on the volume, with the recovery estimate of each entry.
    std::vector<UndeleteEntry> listAll(FatVolume& vol) {
        std::vector<UndeleteEntry> list;
        EXPECT_TRUE(LoadFatVolume(image_.string(), media::DriveRecord{}, vol));
        EXPECT_TRUE(ListFatEntries(vol, list, ui_));
        for (auto& e : list) EstimateFatRecoverable(vol, e);
        return list;
    }

    test::TempDir dir_{"hx-fat"};
    fs::path image_;
    std::map<std::string, std::string> files_;
    test::ScriptedUi ui_;
};

TEST_P(FatUndelete, ListsAndRestoresDeletedFiles) {
    put("Holiday photo.jpg", PatternBytes(30000, 1));
    put("small.txt", PatternBytes(100, 2));
    put("empty.dat", "");
    put("DCIM/100CANON/IMG_0001.JPG", PatternBytes(20000, 3));
    put("Old/inside.jpg", PatternBytes(5000, 4));
    put("keep.jpg", PatternBytes(7000, 5));
    // Fragmentation: d.bin fills the hole of b.bin and continues after c.bin.
    put("a.bin", PatternBytes(1500, 6));
    put("b.bin", PatternBytes(1000, 7));
    put("c.bin", PatternBytes(1000, 8));
    del("b.bin");
    put("d.bin", PatternBytes(2500, 9));
    for (const char* gone : {"Holiday photo.jpg", "small.txt", "empty.dat", "DCIM/100CANON/IMG_0001.JPG", "d.bin"})
        del(gone);
    del("Old");

    FatVolume vol;
    const auto list = listAll(vol);
    EXPECT_EQ(vol.fatBits, GetParam().bits);

    const double today = DateSerial(1970, 1, 1) + static_cast<double>(std::time(nullptr)) / 86400.0;
    test::TempDir out("hx-fat-out");
    for (const char* name : {"Holiday photo.jpg", "small.txt", "empty.dat", "IMG_0001.JPG", "inside.jpg", "d.bin"}) {
        const UndeleteEntry* e = test::FindListed(list, name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_TRUE(e->isDeleted()) << name;
        EXPECT_EQ(e->FileName[0], '?');
        EXPECT_NEAR(e->Modified, today, 2.0) << name;
        std::string key = name;
        for (auto& [path, bytes] : files_)
            if (fs::path(path).filename() == name) key = path;
        EXPECT_EQ(e->Size, files_[key].size()) << name;
        EXPECT_EQ(e->ListSize, std::max<std::size_t>(1, files_[key].size())) << name;
        EXPECT_EQ(e->Overwritten, 0);
        ASSERT_TRUE(test::RestoreAsPlanned(FatClusterView(vol), list, *e, out / "r.bin")) << name;
        EXPECT_TRUE(ReadFile(out / "r.bin") == files_[key]) << name << " differs";
    }
    EXPECT_EQ(test::FindListed(list, "IMG_0001.JPG")->FolderPath, "\\DCIM\\100CANON");
    EXPECT_EQ(test::FindListed(list, "inside.jpg")->FolderPath, "\\Old");
    EXPECT_EQ(test::FindListed(list, "Holiday photo.jpg")->FileName.substr(1), "OLIDA~1.JPG");

    const UndeleteEntry* keep = test::FindListed(list, "keep.jpg");
    ASSERT_NE(keep, nullptr);
    EXPECT_FALSE(keep->isDeleted());
    EXPECT_EQ(keep->ListSize, 7000u);
    ASSERT_TRUE(RestoreFatEntry(vol, *keep, out / "k.bin"));
    EXPECT_TRUE(ReadFile(out / "k.bin") == files_["keep.jpg"]);
}

TEST_P(FatUndelete, ReusedClustersAreOverwritten) {
    // In its own folder, so that the new file cannot take its directory slot.
    put("A/first.jpg", PatternBytes(4000, 11));
    del("A/first.jpg");
    put("second.jpg", PatternBytes(4000, 12));  // takes the same clusters
    FatVolume vol;
    const auto list = listAll(vol);
    const UndeleteEntry* first = test::FindListed(list, "first.jpg");
    const UndeleteEntry* second = test::FindListed(list, "second.jpg");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    if (first->FirstCluster == second->FirstCluster) {
        EXPECT_EQ(first->Overwritten, 1);
        EXPECT_EQ(first->ListSize, 0u);
    } else {  // FAT32: mtools follows the free-cluster hint and leaves the old clusters alone
        EXPECT_EQ(first->Overwritten, 0);
        EXPECT_EQ(first->ListSize, 4000u);
    }
}

TEST_P(FatUndelete, CatalogueRecordAndOwnReadGiveTheSameTable) {
    put("chain.jpg", PatternBytes(6 * GetParam().sectorBytes - 72, 21));  // six clusters of a sector
    FatVolume own, catalogued;
    ASSERT_TRUE(LoadFatVolume(image_.string(), media::DriveRecord{}, own));
    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(image_.string(), rec));
    ASSERT_TRUE(LoadFatVolume(image_.string(), rec, catalogued));
    EXPECT_EQ(catalogued.fatBits, own.fatBits);
    EXPECT_EQ(catalogued.firstDataSector, own.firstDataSector);
    EXPECT_EQ(catalogued.clusterCount, own.clusterCount);
    EXPECT_EQ(catalogued.rootCluster, own.rootCluster);
    EXPECT_EQ(catalogued.table->entries, own.table->entries);
    // The catalogued volume reads the record's table, not a copy of it.
    EXPECT_EQ(catalogued.table.get(), filesystems::TableOf(rec));
    // The decoded table holds the file's chain as mtools wrote it.
    std::vector<UndeleteEntry> list;
    ASSERT_TRUE(ListFatEntries(own, list, ui_));
    const UndeleteEntry* e = test::FindListed(list, "chain.jpg");
    ASSERT_NE(e, nullptr);
    std::uint32_t c = e->FirstCluster, clusters = 1;
    ASSERT_TRUE(own.validCluster(c));
    for (; clusters < 100 && own.validCluster(own.entry(c)); ++clusters) c = own.entry(c);
    EXPECT_EQ(clusters, 6u);
    EXPECT_TRUE(own.endMarker(own.entry(c)));
}

INSTANTIATE_TEST_SUITE_P(Kinds, FatUndelete,
                         ::testing::Values(FatKind{12, 1440}, FatKind{16, 16384}, FatKind{32, 66000}, FatKind{16, 65536, 4096}),
                         [](const auto& info) {
                             return "FAT" + std::to_string(info.param.bits) + (info.param.sectorBytes != 512 ? "With4KiBSectors" : "");
                         });

TEST(FatLoops, DirectoryLoopsEndTheWalk) {
    test::TempDir dir("hx-fat-loop");
    const fs::path image = test::MakeFatImage(dir / "loop.img", {.fatBits = 16, .sizeKiB = 16384, .sectorsPerCluster = 1, .label = ""});
    REQUIRE_IMAGE(image);
    ASSERT_TRUE(test::FatMakeDir(image, "A/B"));
    FatVolume vol;
    ASSERT_TRUE(LoadFatVolume(image.string(), media::DriveRecord{}, vol));
    test::ScriptedUi ui;
    std::vector<UndeleteEntry> list;
    ASSERT_TRUE(ListFatEntries(vol, list, ui));
    auto folderA = std::find_if(list.begin(), list.end(), [](auto& e) { return e.FileName == "A"; });
    ASSERT_NE(folderA, list.end());
    const std::uint32_t a = folderA->FirstCluster;

    // B gets an entry "UP" that points back at A, and A's chain points at itself.
    auto folderB = std::find_if(list.begin(), list.end(), [](auto& e) { return e.FileName == "B"; });
    ASSERT_NE(folderB, list.end());
    std::string up(32, '\0');
    std::memcpy(up.data(), "UP         ", 11);
    up[11] = 0x10;
    up[26] = static_cast<char>(a & 0xFF);
    up[27] = static_cast<char>(a >> 8);
    test::PatchFile(image, vol.clusterOffset(folderB->FirstCluster) + vol.bytesPerCluster() - 32, up);
    const char self[2] = {static_cast<char>(a & 0xFF), static_cast<char>(a >> 8)};
    test::PatchFile(image, std::uint64_t(vol.reservedSectors) * vol.bytesPerSector + 2 * a, std::string(self, 2));
    ASSERT_TRUE(LoadFatVolume(image.string(), media::DriveRecord{}, vol));
    ASSERT_EQ(vol.entry(a), a);
    list.clear();
    ASSERT_TRUE(ListFatEntries(vol, list, ui));
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](auto& e) { return e.FileName == "B"; }), 1);
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](auto& e) { return e.FileName == "UP"; }), 1);
    EXPECT_LT(list.size(), 10u);
    // The loop is told with the path of the folder that closes it.
    EXPECT_NE(std::find_if(ui.statuses.begin(), ui.statuses.end(),
                           [](const std::string& s) {
                               return s.find("Folder \\A\\B\\UP") == 0 && s.find("loop") != std::string::npos;
                           }),
              ui.statuses.end());

    // A deleted folder whose first cluster lies outside the volume: told, and the rest still listed.
    std::string lost(32, '\0');
    std::memcpy(lost.data(), "\xE5OST       ", 11);
    lost[11] = 0x10;
    lost[26] = static_cast<char>(0xF0), lost[27] = static_cast<char>(0xFF);
    test::PatchFile(image, vol.clusterOffset(folderB->FirstCluster) + vol.bytesPerCluster() - 64, lost);
    list.clear();
    ui.statuses.clear();
    ASSERT_TRUE(ListFatEntries(vol, list, ui));
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](auto& e) { return e.FileName == "B"; }), 1);
    EXPECT_NE(std::find_if(ui.statuses.begin(), ui.statuses.end(),
                           [](const std::string& s) { return s.find("outside the volume") != std::string::npos; }),
              ui.statuses.end());
}

}  // namespace
}  // namespace hx::filesystems
