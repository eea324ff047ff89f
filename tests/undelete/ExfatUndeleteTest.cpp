// Deleted files on a real exFAT volume (mkfs.exfat, deleted through exfat-fuse on a loop device).
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "fixtures/UndeleteFixtures.h"
#include "fixtures/ScriptedUi.h"
#include "undelete/QuickUndelete.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/exfat/UndeleteExfat.h"

namespace hx::undelete {
namespace {

TEST(ExfatUndelete, ListsAndRestoresDeletedEntrySets) {
    const std::string why = test::FuseUnavailableReason(true);
    if (!why.empty()) GTEST_SKIP() << why;
    if (!test::HaveTool("mount.exfat-fuse")) GTEST_SKIP() << "exfat-fuse missing";
    test::TempDir dir("hx-exfat");
    const std::string image = test::MakeExFatImage(dir / "card.img", {24, 4096, ""}).string();
    REQUIRE_IMAGE(image);
    std::map<std::string, std::string> files = {
        {"IMG_2041 holiday.JPG", PatternBytes(70000, 1)},
        {"DCIM/100CANON/IMG_0001.CR2", PatternBytes(50001, 2)},
        {"Gone/inside.jpg", PatternBytes(9000, 3)},
        {"empty.txt", ""},
    };
    {
        test::FuseMount mount(test::FuseMount::Kind::Exfat, image, dir / "mnt");
        if (!mount.ok()) GTEST_SKIP() << mount.error();
        const fs::path m = mount.dir();
        for (auto& [name, bytes] : files) WriteFile(m / name, bytes);
        WriteFile(m / "keep.jpg", PatternBytes(3000, 4));
        // A file that has to follow a FAT chain through holes.
        for (int i = 0; i < 16; ++i) WriteFile(m / ("fill" + std::to_string(i)), PatternBytes(8192, 100 + i));
        test::RunCommand("dd if=/dev/zero of='" + (m / "ballast").string() + "' bs=64k");
        for (int i = 0; i < 16; i += 2) fs::remove(m / ("fill" + std::to_string(i)));
        files["frag.bin"] = PatternBytes(8192 * 5 + 77, 5);
        WriteFile(m / "frag.bin", files["frag.bin"]);
        for (auto& [name, bytes] : files)
            if (name.rfind("Gone/", 0) != 0) fs::remove(m / name);
        fs::remove_all(m / "Gone");
        mount.unmount();
    }

    filesystems::ExfatVolume vol;
    ASSERT_TRUE(filesystems::LoadExfatVolume(image, media::DriveRecord{}, vol));
    test::ScriptedUi ui;
    std::vector<filesystems::UndeleteEntry> list;
    ASSERT_TRUE(filesystems::ListExfatEntries(vol, list, ui));
    for (auto& e : list) filesystems::EstimateExfatRecoverable(vol, e);

    auto find = [&](const std::string& name) { return test::FindListed(list, name); };
    test::TempDir out("hx-exfat-out");
    bool sawChain = false;
    for (auto& [path, bytes] : files) {
        const std::string name = fs::path(path).filename().string();
        const filesystems::UndeleteEntry* e = find(name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_TRUE(e->isDeleted()) << name;
        EXPECT_EQ(e->FileName, "?" + name.substr(1));
        EXPECT_EQ(e->Size, bytes.size());
        EXPECT_EQ(e->ListSize, std::max<std::size_t>(bytes.size(), 1)) << name;
        EXPECT_GT(e->Modified, filesystems::DateSerial(2020, 1, 1));
        const bool chained = !bytes.empty() && !(e->Attributes & filesystems::kAttrExfatContiguous);
        sawChain = sawChain || chained;
        if (chained) continue;  // below
        ASSERT_TRUE(test::RestoreAsPlanned(filesystems::ExfatClusterView(vol, false), list, *e, out / "r.bin",
                                           [](const filesystems::UndeleteEntry& x) { return (x.Attributes & filesystems::kAttrExfatContiguous) != 0; }))
            << name;
        EXPECT_TRUE(test::ReadFile(out / "r.bin") == bytes) << name << " differs";
    }
    EXPECT_TRUE(sawChain) << "the fixture should have made a fragmented file";
    {
        // The file in pieces went into the holes of deleted files whose
        // entries still claim them: nothing shows which file they hold now,
        // so it is offered only as partial.
        QuickUndelete q(ui);
        ASSERT_TRUE(q.run({image, "all", 0, 0, {}}));
        const filesystems::UndeleteEntry* frag = test::FindListed(q.entries(), "frag.bin");
        ASSERT_NE(frag, nullptr);
        EXPECT_TRUE(frag->isPartial());
        EXPECT_FALSE(q.restoreTo(static_cast<std::size_t>(frag - q.entries().data()), out / "f.bin"));
    }
    EXPECT_EQ(find("IMG_0001.CR2")->FolderPath, "\\DCIM\\100CANON");
    EXPECT_EQ(find("inside.jpg")->FolderPath, "\\Gone");

    const filesystems::UndeleteEntry* keep = find("keep.jpg");
    ASSERT_NE(keep, nullptr);
    EXPECT_FALSE(keep->isDeleted());
    ASSERT_TRUE(filesystems::RestoreExfatEntry(vol, *keep, out / "k.bin"));
    EXPECT_EQ(test::ReadFile(out / "k.bin").size(), 3000u);
}

// Some writers leave the allocation bitmap without a FAT chain: it is read
// in one run, whole, as the chained one is.
TEST(ExfatUndelete, ABitmapWithoutAFatChainIsReadWhole) {
    test::TempDir dir("hx-exfat-bitmap");
    const fs::path image = test::MakeExFatImage(dir / "card.img", {64, 512, ""});
    REQUIRE_IMAGE(image);
    filesystems::ExfatVolume chained;
    ASSERT_TRUE(filesystems::LoadExfatVolume(image.string(), media::DriveRecord{}, chained));
    ASSERT_EQ(chained.bitmap.size(), (chained.clusterCount + 7) / 8);
    ASSERT_GT(chained.bitmap.size(), 8 * chained.bytesPerCluster()) << "a bitmap of many clusters";

    media::DriveRecord rec;
    ASSERT_TRUE(filesystems::GetDriveInfo(image.string(), rec));
    const std::uint64_t clusters = (rec.BitmapLength + chained.bytesPerCluster() - 1) / chained.bytesPerCluster();
    test::PatchFile(image, std::uint64_t(chained.fatOffset) * chained.bytesPerSector + 4ull * rec.BitmapCluster,
                    std::string(4 * clusters, '\0'));
    filesystems::ExfatVolume unchained;
    ASSERT_TRUE(filesystems::LoadExfatVolume(image.string(), media::DriveRecord{}, unchained));
    EXPECT_EQ(unchained.entry(rec.BitmapCluster), 0u);
    EXPECT_TRUE(unchained.bitmap == chained.bitmap);
}

TEST(ExfatUndelete, RejectsBadBootSectors) {
    std::uint8_t boot[512] = {};
    filesystems::ExfatVolume v;
    EXPECT_FALSE(filesystems::ParseExfatBootSector(boot, sizeof boot, v));
    std::memcpy(boot + 3, "EXFAT   ", 8);
    boot[108] = 9, boot[109] = 3;
    boot[72] = 0x00, boot[73] = 0x80;  // 32768 sectors
    boot[80] = 0x00, boot[81] = 0x08;  // FAT at 2048
    boot[84] = 32;
    boot[88] = 0x00, boot[89] = 0x10;  // heap at 4096
    boot[92] = 0x00, boot[93] = 0x0E;  // 3584 clusters
    boot[96] = 5;
    EXPECT_TRUE(filesystems::ParseExfatBootSector(boot, sizeof boot, v));
    boot[93] = 0xFE;  // more clusters than the volume holds
    EXPECT_FALSE(filesystems::ParseExfatBootSector(boot, sizeof boot, v));
    boot[93] = 0x0E;
    boot[96] = 1;  // root below the first cluster
    EXPECT_FALSE(filesystems::ParseExfatBootSector(boot, sizeof boot, v));
}

}  // namespace
}  // namespace hx::undelete
