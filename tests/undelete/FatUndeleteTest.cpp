// Deleted files on real FAT12/16/32 images (mkfs.fat, files copied and deleted with mtools).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>

#include "UndeleteFixtures.h"
#include "fixtures/ScriptedUi.h"
#include "media/DriveInfo.h"
#include "undelete/UndeleteFat.h"

namespace hx::undelete {
namespace {

namespace fs = std::filesystem;
using test::RandomBytes;
using test::ReadFile;
using test::RunCommand;
using test::WriteFile;

struct FatKind {
    int bits;
    int sizeKb;
};

class FatUndelete : public ::testing::TestWithParam<FatKind> {
protected:
    void SetUp() override {
        if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "mkfs.fat or mtools missing";
        image_ = (dir_.path() / "fat.img").string();
        const FatKind k = GetParam();
        ASSERT_EQ(RunCommand("mkfs.fat -F " + std::to_string(k.bits) + " -s 1 -C '" + image_ + "' " +
                             std::to_string(k.sizeKb) + " >/dev/null"),
                  0);
    }
    void put(const std::string& path, const std::string& bytes) {
        const fs::path src = dir_ / "src.bin";
        WriteFile(src, bytes);
        ASSERT_EQ(mtools("mcopy -o -i '" + image_ + "' '" + src.string() + "' '::/" + path + "'"), 0) << path;
        files_[path] = bytes;
    }
    int mtools(const std::string& cmd) {
        std::string out;
        const int rc = RunCommand("MTOOLS_SKIP_CHECK=1 " + cmd, &out);
        if (rc) ADD_FAILURE() << cmd << ": " << out;
        return rc;
    }
    // By long name; a deleted short-only name lost its first letter.
    const UndeleteEntry* byLongName(const std::vector<UndeleteEntry>& list, const std::string& name) {
        for (auto& e : list)
            if (e.ListName == name || (e.isDeleted() && e.ListName.size() == name.size() &&
                                       e.ListName.compare(1, std::string::npos, name, 1, std::string::npos) == 0))
                return &e;
        return nullptr;
    }

    test::TempDir dir_{"hx-fat"};
    std::string image_;
    std::map<std::string, std::string> files_;
    test::ScriptedUi ui_;
};

TEST_P(FatUndelete, ListsAndRestoresDeletedFiles) {
    mtools("mmd -i '" + image_ + "' ::/DCIM ::/DCIM/100CANON ::/Old");
    put("Holiday photo.jpg", RandomBytes(30000, 1));
    put("small.txt", RandomBytes(100, 2));
    put("empty.dat", "");
    put("DCIM/100CANON/IMG_0001.JPG", RandomBytes(20000, 3));
    put("Old/inside.jpg", RandomBytes(5000, 4));
    put("keep.jpg", RandomBytes(7000, 5));
    // Fragmentation: d.bin fills the hole of b.bin and continues after c.bin.
    put("a.bin", RandomBytes(1500, 6));
    put("b.bin", RandomBytes(1000, 7));
    put("c.bin", RandomBytes(1000, 8));
    mtools("mdel -i '" + image_ + "' ::/b.bin");
    put("d.bin", RandomBytes(2500, 9));
    for (const char* gone : {"Holiday photo.jpg", "small.txt", "empty.dat", "DCIM/100CANON/IMG_0001.JPG", "d.bin"})
        mtools(std::string("mdel -i '") + image_ + "' '::/" + gone + "'");
    mtools("mdeltree -i '" + image_ + "' ::/Old");

    FatVolume vol;
    ASSERT_TRUE(LoadFatVolume(image_, media::DriveRecord{}, vol));
    EXPECT_EQ(vol.fatBits, GetParam().bits);
    std::vector<UndeleteEntry> list;
    ASSERT_TRUE(ListFatEntries(vol, list, ui_));
    for (auto& e : list) EstimateFatRecoverable(vol, e);

    const double today = DateSerial(1970, 1, 1) + static_cast<double>(std::time(nullptr)) / 86400.0;
    test::TempDir out("hx-fat-out");
    for (const char* name : {"Holiday photo.jpg", "small.txt", "empty.dat", "IMG_0001.JPG", "inside.jpg", "d.bin"}) {
        const UndeleteEntry* e = byLongName(list, name);
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
        ASSERT_TRUE(RestoreFatEntry(vol, *e, out / "r.bin")) << name;
        EXPECT_TRUE(ReadFile(out / "r.bin") == files_[key]) << name << " differs";
    }
    EXPECT_EQ(byLongName(list, "IMG_0001.JPG")->FolderPath, "\\DCIM\\100CANON");
    EXPECT_EQ(byLongName(list, "inside.jpg")->FolderPath, "\\Old");
    EXPECT_EQ(byLongName(list, "Holiday photo.jpg")->FileName.substr(1), "OLIDA~1.JPG");

    const UndeleteEntry* keep = byLongName(list, "keep.jpg");
    ASSERT_NE(keep, nullptr);
    EXPECT_FALSE(keep->isDeleted());
    EXPECT_EQ(keep->ListSize, 7000u);
    ASSERT_TRUE(RestoreFatEntry(vol, *keep, out / "k.bin"));
    EXPECT_TRUE(ReadFile(out / "k.bin") == files_["keep.jpg"]);
}

TEST_P(FatUndelete, ReusedClustersAreOverwritten) {
    // In its own folder, so that the new file cannot take its directory slot.
    mtools("mmd -i '" + image_ + "' ::/A");
    put("A/first.jpg", RandomBytes(4000, 11));
    mtools("mdel -i '" + image_ + "' ::/A/first.jpg");
    put("second.jpg", RandomBytes(4000, 12));  // takes the same clusters
    FatVolume vol;
    ASSERT_TRUE(LoadFatVolume(image_, media::DriveRecord{}, vol));
    std::vector<UndeleteEntry> list;
    ASSERT_TRUE(ListFatEntries(vol, list, ui_));
    for (auto& e : list) EstimateFatRecoverable(vol, e);
    const UndeleteEntry* first = byLongName(list, "first.jpg");
    const UndeleteEntry* second = byLongName(list, "second.jpg");
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
    put("chain.jpg", RandomBytes(3000, 21));  // six 512-byte clusters
    FatVolume own, catalogued;
    ASSERT_TRUE(LoadFatVolume(image_, media::DriveRecord{}, own));
    media::DriveRecord rec;
    ASSERT_TRUE(media::GetDriveInfo(image_, rec));
    ASSERT_TRUE(LoadFatVolume(image_, rec, catalogued));
    EXPECT_EQ(catalogued.fatBits, own.fatBits);
    EXPECT_EQ(catalogued.firstDataSector, own.firstDataSector);
    EXPECT_EQ(catalogued.clusterCount, own.clusterCount);
    EXPECT_EQ(catalogued.rootCluster, own.rootCluster);
    EXPECT_TRUE(catalogued.fat == own.fat);
    // The decoded table holds the file's chain as mtools wrote it.
    std::vector<UndeleteEntry> list;
    ASSERT_TRUE(ListFatEntries(own, list, ui_));
    const UndeleteEntry* e = byLongName(list, "chain.jpg");
    ASSERT_NE(e, nullptr);
    std::uint32_t c = e->FirstCluster, clusters = 1;
    ASSERT_TRUE(own.validCluster(c));
    for (; clusters < 100 && own.validCluster(own.fat[c]); ++clusters) c = own.fat[c];
    EXPECT_EQ(clusters, 6u);
    EXPECT_TRUE(own.endMarker(own.fat[c]));
}

INSTANTIATE_TEST_SUITE_P(Kinds, FatUndelete, ::testing::Values(FatKind{12, 1440}, FatKind{16, 16384}, FatKind{32, 66000}),
                         [](const auto& info) { return "FAT" + std::to_string(info.param.bits); });

}  // namespace
}  // namespace hx::undelete

namespace hx::undelete {
namespace {

TEST(FatLoops, DirectoryLoopsEndTheWalk) {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mmd")) GTEST_SKIP() << "mkfs.fat or mtools missing";
    test::TempDir dir("hx-fat-loop");
    const std::string image = (dir / "loop.img").string();
    ASSERT_EQ(RunCommand("mkfs.fat -F 16 -s 1 -C '" + image + "' 16384 >/dev/null"), 0);
    ASSERT_EQ(RunCommand("MTOOLS_SKIP_CHECK=1 mmd -i '" + image + "' ::/A ::/A/B"), 0);
    FatVolume vol;
    ASSERT_TRUE(LoadFatVolume(image, media::DriveRecord{}, vol));
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
    {
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(vol.clusterOffset(folderB->FirstCluster) + vol.bytesPerCluster() - 32));
        f.write(up.data(), 32);
    }
    vol.fat[a] = a;
    list.clear();
    ASSERT_TRUE(ListFatEntries(vol, list, ui));
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](auto& e) { return e.FileName == "B"; }), 1);
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](auto& e) { return e.FileName == "UP"; }), 1);
    EXPECT_LT(list.size(), 10u);
}

}  // namespace
}  // namespace hx::undelete
