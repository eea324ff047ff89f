// Deleted files on a real NTFS volume (made by mkntfs, deleted through ntfs-3g).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sys/xattr.h>

#include "fixtures/UndeleteFixtures.h"
#include "fixtures/MediaImages.h"
#include "fixtures/ScriptedUi.h"
#include "filesystems/ntfs/MftLibrary.h"
#include "filesystems/ntfs/UndeleteNtfs.h"

namespace hx::filesystems {
namespace {

// One NTFS image with deleted files of every kind, built once for the suite.
class NtfsUndelete : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string why = test::FuseUnavailableReason(false);
        if (!why.empty() || !test::HaveTool("mkntfs") || !test::HaveTool("ntfs-3g")) {
            skipReason_ = why.empty() ? "mkntfs or ntfs-3g missing" : why;
            return;
        }
        dir_ = new test::TempDir("hx-ntfs");
        image_ = test::MakeNtfsImage(dir_->path() / "ntfs.img", {48, 4096}).string();
        if (image_.empty()) {
            skipReason_ = test::MediaSkipReason();
            return;
        }
        test::FuseMount mount(test::FuseMount::Kind::Ntfs, image_, dir_->path() / "mnt", "compression");
        if (!mount.ok()) {
            skipReason_ = mount.error();
            return;
        }
        const fs::path m = mount.dir();
        files_ = {
            {"Holiday photo.JPG", PatternBytes(300000, 1)},
            {"tiny.txt", "resident bytes in the record"},
            {"empty.dat", ""},
            {"Photos/2019/deep.cr2", PatternBytes(123457, 2)},
            {"Temp/hidden.jpg", PatternBytes(9000, 3)},
        };
        for (auto& [name, bytes] : files_) WriteFile(m / name, bytes);
        WriteFile(m / "keep.jpg", PatternBytes(5000, 4));
        // A folder marked compressed: ntfs-3g writes LZNT1 units into it.
        fs::create_directories(m / "Packed");
        std::uint8_t attr[4] = {};
        if (getxattr((m / "Packed").c_str(), "system.ntfs_attrib_be", attr, 4) == 4) {
            attr[2] |= 0x08;  // FILE_ATTRIBUTE_COMPRESSED, big-endian
            setxattr((m / "Packed").c_str(), "system.ntfs_attrib_be", attr, 4, 0);
        }
        std::string packed;
        for (int i = 0; packed.size() < 530000; ++i) packed += "line " + std::to_string(i % 97) + " of a log\n";
        packed += PatternBytes(70000, 9);  // a unit that does not compress
        files_["Packed/log.dat"] = packed;
        WriteFile(m / "Packed/log.dat", packed);
        // A fragmented file: fill the volume with small files, free every
        // other one, then write a file that has to use the holes.
        for (int i = 0; i < 24; ++i) WriteFile(m / ("fill" + std::to_string(i)), PatternBytes(16384, 100 + i));
        RunCommand("dd if=/dev/zero of='" + (m / "ballast").string() + "' bs=64k");
        for (int i = 0; i < 24; i += 2) fs::remove(m / ("fill" + std::to_string(i)));
        RunCommand("sync");
        files_["frag.bin"] = PatternBytes(16384 * 8 + 1000, 5);
        WriteFile(m / "frag.bin", files_["frag.bin"]);
        // A sparse file: a hole between two written stretches.
        const std::string head = PatternBytes(5000, 6), tail = PatternBytes(7000, 7);
        WriteFile(m / "sparse.bin", head);
        RunCommand("truncate -s 1M '" + (m / "sparse.bin").string() + "'");
        test::PatchFile(m / "sparse.bin", (1 << 20) - 7000, tail);
        files_["sparse.bin"] = head + std::string((1 << 20) - 12000, '\0') + tail;
        for (auto& [name, bytes] : files_) fs::remove(m / name);
        mount.unmount();
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
    }

    static inline test::TempDir* dir_ = nullptr;
    static inline std::string image_;
    static inline std::string skipReason_;
    static inline std::map<std::string, std::string> files_;
    test::ScriptedUi ui_;
    NtfsSession session_;
};

TEST_F(NtfsUndelete, ListsDeletedFilesWithNamesFoldersAndSizes) {
    std::vector<UndeleteEntry> list;
    ASSERT_TRUE(ListNtfsDeleted(session_, image_, list, "all", 0, 0, ui_));
    const UndeleteEntry* photo = test::FindListed(list, "holiday photo.jpg");
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(photo->ListName, "holiday photo.jpg");
    EXPECT_EQ(photo->FolderPath, "\\");
    EXPECT_EQ(photo->Size, 300000u);
    EXPECT_EQ(photo->ListSize, 300000u);
    EXPECT_GT(photo->FirstCluster, 0u);
    EXPECT_GT(photo->Created, 40000.0);  // after 2009
    EXPECT_GE(photo->Modified, photo->Created - 1.0 / 86400);

    const UndeleteEntry* deep = test::FindListed(list, "deep.cr2");
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->FolderPath, "\\Photos\\2019");

    const UndeleteEntry* empty = test::FindListed(list, "empty.dat");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->Size, 0u);
    EXPECT_EQ(empty->ListSize, 1u);

    EXPECT_EQ(test::FindListed(list, "hidden.jpg"), nullptr) << "files in a Temp folder are never listed";
    EXPECT_EQ(test::FindListed(list, "keep.jpg"), nullptr) << "a file in use is not deleted";
    EXPECT_EQ(test::FindListed(list, "fill1"), nullptr);
    EXPECT_NE(test::FindListed(list, "fill0"), nullptr);
    EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(NtfsUndelete, FiltersByTypeAndSize) {
    std::vector<UndeleteEntry> list;
    ASSERT_TRUE(ListNtfsDeleted(session_, image_, list, ".jpg.cr2", 0, 0, ui_));
    std::vector<std::string> names;
    for (auto& e : list) names.push_back(e.FileName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"deep.cr2", "holiday photo.jpg"}));

    list.clear();
    ASSERT_TRUE(ListNtfsDeleted(session_, image_, list, "all", 0.2, 0.5, ui_));  // 209,715 to 524,288 bytes
    names.clear();
    for (auto& e : list) names.push_back(e.FileName);
    EXPECT_EQ(names, (std::vector<std::string>{"holiday photo.jpg"}));
}

TEST_F(NtfsUndelete, RestoresEveryDeletedFileByteForByte) {
    std::vector<UndeleteEntry> list;
    ASSERT_TRUE(ListNtfsDeleted(session_, image_, list, "all", 0, 0, ui_));
    test::TempDir out("hx-ntfs-out");
    int restored = 0;
    for (auto& [path, bytes] : files_) {
        if (path.find("Temp/") == 0) continue;
        std::string name = fs::path(path).filename().string();
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        const UndeleteEntry* e = test::FindListed(list, name);
        ASSERT_NE(e, nullptr) << name;
        const fs::path target = out / name;
        ASSERT_TRUE(RecoverNtfsFile(session_, image_, e->RecordNumber, target, ui_)) << name;
        EXPECT_TRUE(ReadFile(target) == bytes) << name << " differs";
        ++restored;
    }
    EXPECT_EQ(restored, 7);

    // The fixture really made a fragmented and a sparse file.
    ASSERT_TRUE(OpenMft(session_, image_, ui_));
    EXPECT_GT(session_.volume.runsCount(test::FindListed(list, "frag.bin")->RecordNumber), 1);
    EXPECT_GE(session_.volume.runsCount(test::FindListed(list, "sparse.bin")->RecordNumber), 2);
    const std::uint8_t* packed = session_.volume.attribute(test::FindListed(list, "log.dat")->RecordNumber, 0x80);
    ASSERT_NE(packed, nullptr);
    EXPECT_TRUE(packed[12] & 1) << "ntfs-3g should have compressed log.dat";
}

TEST_F(NtfsUndelete, ResidentFileIsListedWithItsLength) {
    std::vector<UndeleteEntry> list;
    ASSERT_TRUE(ListNtfsDeleted(session_, image_, list, "txt", 0, 0, ui_));
    ASSERT_EQ(list.size(), 1u);
    // For resident data the first-cluster field holds the value length.
    EXPECT_EQ(list[0].FirstCluster, files_["tiny.txt"].size());
}

TEST_F(NtfsUndelete, ReadsTheSameThroughABlockDevice) {
    test::LoopDevice loop(image_);
    if (!loop.ok()) GTEST_SKIP() << "no loop device";
    std::vector<UndeleteEntry> fromImage, fromDevice;
    ASSERT_TRUE(ListNtfsDeleted(session_, image_, fromImage, "all", 0, 0, ui_));
    ASSERT_TRUE(ListNtfsDeleted(session_, loop.path(), fromDevice, "all", 0, 0, ui_));
    ASSERT_EQ(fromDevice.size(), fromImage.size());
    for (std::size_t i = 0; i < fromImage.size(); ++i) EXPECT_EQ(fromDevice[i].FileName, fromImage[i].FileName);
    test::TempDir out("hx-ntfs-out");
    const UndeleteEntry* photo = test::FindListed(fromDevice, "holiday photo.jpg");
    ASSERT_NE(photo, nullptr);
    ASSERT_TRUE(RecoverNtfsFile(session_, loop.path(), photo->RecordNumber, out / "p.jpg", ui_));
    EXPECT_TRUE(ReadFile(out / "p.jpg") == files_["Holiday photo.JPG"]);
    CloseMft(session_);
}

TEST_F(NtfsUndelete, NotNtfsIsRefusedWithAMessage) {
    test::TempDir d("hx-ntfs-bad");
    WriteFile(d / "zero.img", std::string(1 << 20, '\0'));
    std::vector<UndeleteEntry> list;
    EXPECT_FALSE(ListNtfsDeleted(session_, (d / "zero.img").string(), list, "all", 0, 0, ui_));
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_NE(ui_.messages[0].title.find("Quick Undelete"), std::string::npos);
}

}  // namespace
}  // namespace hx::filesystems
