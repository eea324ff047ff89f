// The quick-undelete command end to end on real images: the lists it fills,
// the DirEnt.dat cache, restore naming, the listing for the scan, the CLI.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/UndeleteFixtures.h"
#include "fixtures/ScriptedUi.h"
#include "platform/RestoreName.h"
#include "filesystems/DirEntCache.h"
#include "undelete/QuickUndelete.h"
#include "undelete/UndeleteLists.h"
#include "viewing/SamplePhoto.h"

namespace hx::undelete {
namespace {

class QuickUndeleteFat : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = test::MakeFatImage(dir_ / "card.img", {.fatBits = 16, .sizeKiB = 16384, .sectorsPerCluster = 1, .label = ""}).string();
        REQUIRE_IMAGE(image_);
    }
    void put(const std::string& name, const std::string& bytes) { ASSERT_TRUE(test::FatPutFile(image_, name, bytes)); }
    void del(const std::string& name) { ASSERT_TRUE(test::FatDelete(image_, name)); }
    std::size_t indexOf(const QuickUndelete& q, const std::string& listName) {
        for (std::size_t i = 0; i < q.entries().size(); ++i)
            if (q.entries()[i].ListName == listName) return i;
        ADD_FAILURE() << listName << " not listed";
        return 0;
    }

    test::TempDir dir_{"hx-qu"};
    std::string image_;
    test::ScriptedUi ui_;
};

TEST_F(QuickUndeleteFat, FillsBothListsAndShowsChecking) {
    put("Holiday photo.jpg", PatternBytes(20000, 1));
    put("notes.txt", "kept");
    put("draft.tmp", PatternBytes(3000, 2));
    del("Holiday photo.jpg");
    del("draft.tmp");
    auto& ui = ui_;
    ui.captions["CmdQuickUndelete"] = "Quick Undelete";
    QuickUndelete q(ui);
    ASSERT_TRUE(q.run({image_, "all", 0, 0, {}}));
    EXPECT_EQ(q.kind(), filesystems::UndeleteKind::Fat);
    ASSERT_FALSE(ui.captionsSet.empty());
    EXPECT_EQ(ui.captionsSet.front(), "Checking...");
    EXPECT_EQ(ui.captions["CmdQuickUndelete"], "Quick Undelete");

    const std::size_t photo = indexOf(q, "Holiday photo.jpg");
    const std::size_t notes = indexOf(q, "notes.txt");
    const std::size_t draft = indexOf(q, "?raft.tmp");
    const auto& l = q.lists();
    ASSERT_GE(l.list1.size(), 3u);
    EXPECT_EQ(l.list1[0], "Listed on " + image_ + " ");
    EXPECT_EQ(l.list1[1], "");
    EXPECT_EQ(l.list2[0], "Deleted on " + image_ + " ");
    // The deleted ".tmp" file is not among the deleted ones.
    EXPECT_EQ(l.list1, (std::vector<std::string>{l.list1[0], "", std::to_string(notes + 1) + " notes.txt",
                                                 std::to_string(draft + 1) + " ?raft.tmp"}));
    EXPECT_EQ(l.list2, (std::vector<std::string>{l.list2[0], "", std::to_string(photo + 1) + "  0100  Holiday photo.jpg"}));
    EXPECT_EQ(RowEntryIndex(l.list2[2]), static_cast<long>(photo));
    EXPECT_EQ(RowEntryIndex(l.list2[0]), -1);

    const auto info = EntryInfoLines(image_, q.entries(), photo, true);
    EXPECT_NE(std::find(info.begin(), info.end(), "File size: 20,000 bytes"), info.end());
    EXPECT_NE(std::find(info.begin(), info.end(), "Recovery: probable"), info.end());

    // The scan of the same drive gets the names back.
    const auto listed = q.listedNames();
    ASSERT_FALSE(listed.empty());
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end(),
                               [](auto& a, auto& b) { return a.firstCluster < b.firstCluster; }));
    const auto it = std::find_if(listed.begin(), listed.end(), [](auto& f) { return f.name == "Holiday photo.jpg"; });
    ASSERT_NE(it, listed.end());
    EXPECT_EQ(it->size, 20000u);
    EXPECT_EQ(it->firstCluster, q.entries()[photo].FirstCluster);

    // Save All takes the listed file and the recoverable deleted one.
    const auto chosen = q.SaveAllSelection();
    EXPECT_EQ(chosen, (std::vector<std::size_t>{notes, draft, photo}));
    test::TempDir out("hx-qu-save");
    const auto saved = q.SaveUndeleteEntries(chosen, out / "Recovered");
    EXPECT_EQ(saved.saved, 3);
    EXPECT_EQ(ReadFile(out / "Recovered" / "notes.txt"), "kept");
    EXPECT_EQ(ReadFile(out / "Recovered" / "Holiday photo.jpg").size(), 20000u);
    EXPECT_EQ(ReadFile(out / "Recovered" / "_raft.tmp").size(), 3000u) << "no evidence for its first letter";
    EXPECT_EQ(ui.statuses.back(), "Status: saving  3");
}

TEST_F(QuickUndeleteFat, LostFirstLettersAreRebuiltAsTheCamerasWroteThem) {
    // Camera folders and short names only, all deleted; a live sibling in
    // another folder of the card says nothing about these. A Canon names the
    // shots it takes in Adobe RGB _MG_: their EXIF tells them from IMG_.
    std::string adobeRgb = viewing::MakeSamplePhoto(0, {.width = 320, .height = 240});
    ASSERT_EQ(viewing::SamplePhotoMake(0), "Canon");
    for (const std::string& srgb : {std::string("\x01\xA0\x03\x00\x01\x00\x00\x00\x01\x00", 10),
                                   std::string("\xA0\x01\x00\x03\x00\x00\x00\x01\x00\x01", 10)})
        if (const auto at = adobeRgb.find(srgb); at != std::string::npos) adobeRgb.replace(at + 8, 2, "\xFF\xFF");
    const std::map<std::string, std::string> files = {
        {"DCIM/100CANON/IMG_1000.JPG", PatternBytes(3000, 1)}, {"DCIM/100CANON/IMG_1001.JPG", PatternBytes(2000, 2)},
        {"DCIM/100CANON/_MG_1002.JPG", adobeRgb},
        {"DCIM/100CANON/IMG_1003.JPG", viewing::MakeSamplePhoto(4, {.width = 320, .height = 240})},
        {"DCIM/101NIKON/DSC_0001.JPG", PatternBytes(2500, 3)}, {"DCIM/101NIKON/P1010001.JPG", PatternBytes(1500, 4)},
        {"DCIM/101NIKON/QRST.TXT", PatternBytes(100, 5)},
    };
    for (const auto& [path, bytes] : files) put(path, bytes);
    put("KEEP/XYZ_0001.JPG", "kept");
    del("DCIM");
    QuickUndelete q(ui_);
    ASSERT_TRUE(q.run({image_, "all", 0, 0, {}}));
    test::TempDir out("hx-qu-names");
    for (const auto& [path, bytes] : files) {
        const fs::path p(path);
        const std::string name = p.filename().string();
        const auto it = std::find_if(q.entries().begin(), q.entries().end(), [&](const filesystems::UndeleteEntry& e) {
            return e.ListName.substr(1) == name.substr(1) && !e.isFolder();
        });
        ASSERT_NE(it, q.entries().end()) << path;
        if (name == "QRST.TXT") {
            EXPECT_EQ(it->ListName, "?RST.TXT") << "no evidence, no guess";
            continue;
        }
        EXPECT_EQ(it->ListName, name);
        EXPECT_EQ(it->FolderPath, "\\" + p.parent_path().generic_string().replace(4, 1, "\\"));
        EXPECT_TRUE(it->Attributes & filesystems::kAttrNameGuessed) << path;
        const auto index = static_cast<std::size_t>(it - q.entries().begin());
        const auto restored = q.restoreInto(index, out / "DCIM");
        ASSERT_TRUE(restored) << path;
        EXPECT_EQ(restored->filename(), name);
        EXPECT_TRUE(ReadFile(*restored) == bytes) << path;
    }
}

TEST_F(QuickUndeleteFat, RestoreAsksForTheTargetAndNeverOverwrites) {
    const std::string bytes = PatternBytes(9000, 3);
    put("Img_0007.jpeg", bytes);
    put("my photo.jpg", bytes);
    del("Img_0007.jpeg");
    del("my photo.jpg");
    QuickUndelete q(ui_);
    ASSERT_TRUE(q.run({image_, "all", 0, 0, {}}));
    test::TempDir out("hx-qu-out");
    WriteFile(out / "Img_0007.jpeg", "mine");
    WriteFile(out / "my photo.jpg", "mine");
    WriteFile(out / "my photo_0.jpg", "mine too");
    ui_.inputs.push_back((out / "Img_0007.jpeg").string());
    auto a = q.RestoreUndeletedFile(indexOf(q, "Img_0007.jpeg"), out.path());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->filename(), "Img_0008.jpeg");
    EXPECT_TRUE(ReadFile(*a) == bytes);
    EXPECT_EQ(ReadFile(out / "Img_0007.jpeg"), "mine");
    ui_.inputs.push_back((out / "my photo.jpg").string());
    auto b = q.RestoreUndeletedFile(indexOf(q, "my photo.jpg"), out.path());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->filename(), "my photo_1.jpg");
    EXPECT_TRUE(ReadFile(*b) == bytes);
    // Cancelling the dialog writes nothing.
    ui_.inputs.push_back(std::nullopt);
    EXPECT_FALSE(q.RestoreUndeletedFile(0, out.path()));
}

TEST_F(QuickUndeleteFat, LongListsAreCachedPerMedium) {
    // 2,100 files in one folder, written straight into the image by mtools.
    ASSERT_TRUE(test::FatMakeDir(image_, "MANY"));
    fs::create_directories(dir_ / "many");
    for (int i = 0; i < 2100; ++i) WriteFile(dir_ / "many" / ("F" + std::to_string(i) + ".JPG"), "x");
    ASSERT_EQ(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image_ + "' '" + (dir_ / "many").string() + "'/* ::/MANY/"), 0);
    test::TempDir work("hx-qu-work");
    QuickUndelete first(ui_);
    ASSERT_TRUE(first.run({image_, "all", 0, 0, work.path()}));
    EXPECT_FALSE(first.fromCache());
    const fs::path cache = filesystems::DirEntCachePath(work.path(), image_);
    ASSERT_TRUE(fs::exists(cache));
    QuickUndelete second(ui_);
    ASSERT_TRUE(second.run({image_, "all", 0, 0, work.path()}));
    EXPECT_TRUE(second.fromCache());
    ASSERT_EQ(second.entries().size(), first.entries().size());
    EXPECT_EQ(second.entries().back().ListName, first.entries().back().ListName);
    EXPECT_EQ(second.lists().list1, first.lists().list1);

    // A new format of the medium (other serial number) drops the cache.
    ASSERT_EQ(RunCommand("mkfs.fat -F 16 -s 1 -i 99990000 '" + image_ + "' >/dev/null"), 0);
    QuickUndelete third(ui_);
    ASSERT_TRUE(third.run({image_, "all", 0, 0, work.path()}));
    EXPECT_FALSE(third.fromCache());
    EXPECT_LT(third.entries().size(), 5u);
    EXPECT_FALSE(fs::exists(cache));
}

TEST(DirEntCache, EntriesSurviveTheRoundTripAndShortFilesReadEmpty) {
    test::TempDir d("hx-dirent");
    std::vector<filesystems::UndeleteEntry> list(6);
    for (int i = 0; i < 6; ++i) {
        list[i].FileName = "?ILE" + std::to_string(i) + ".JPG";
        list[i].ListName = "file " + std::to_string(i) + ".jpg";
        list[i].FolderPath = "\\DCIM";
        list[i].Created = 43000.25 + i;
        list[i].Modified = 43001.5;
        list[i].FirstCluster = 100 + i;
        list[i].Size = 5000;
        list[i].ListSize = 4096;
        list[i].Attributes = 32;
        list[i].Overwritten = i % 2;
    }
    const fs::path f = d / "DirEnt.dat";
    ASSERT_TRUE(filesystems::WriteDirEntCache(f, list, {7, 9}));
    std::vector<filesystems::UndeleteEntry> back;
    ASSERT_TRUE(filesystems::ReadDirEntCache(f, {7, 9}, back));
    ASSERT_EQ(back.size(), 6u);
    EXPECT_EQ(back[5].ListName, "file 5.jpg");
    EXPECT_EQ(back[5].Created, 43005.25);
    EXPECT_EQ(back[3].Overwritten, 1);
    // 4 + 4 + 4 header bytes, then per entry 3 strings and 46 bytes of fields.
    EXPECT_EQ(fs::file_size(f), 12u + 6 * (6 + 9 + 10 + 5 + 46));

    // Cut inside the last entry: its missing fields read as empty.
    const std::string bytes = ReadFile(f);
    WriteFile(f, bytes.substr(0, bytes.size() - 20));
    ASSERT_TRUE(filesystems::ReadDirEntCache(f, {7, 9}, back));
    EXPECT_EQ(back[5].ListName, "file 5.jpg");
    EXPECT_EQ(back[5].Attributes, 0u);
    // Another medium: the file goes.
    EXPECT_FALSE(filesystems::ReadDirEntCache(f, {7, 10}, back));
    EXPECT_FALSE(fs::exists(f));
}

TEST(RestoreNames, TheNamingRule) {
    EXPECT_EQ(platform::BumpRestoreName("photo.jpg"), "photo_0.jpg");
    EXPECT_EQ(platform::BumpRestoreName("photo_0.jpg"), "photo_1.jpg");
    EXPECT_EQ(platform::BumpRestoreName("IMG_0009.JPG"), "IMG_0010.JPG");
    EXPECT_EQ(platform::BumpRestoreName("a.b.c"), "a_0.b_0.c");
    EXPECT_EQ(platform::RestoreFileName("?OTO0001.JPG"), "_OTO0001.JPG");
    EXPECT_EQ(platform::RestoreFileName("a/b"), "a_b");
}

TEST(UndeleteLists, NtfsRowsFoldersAndCrossReferences) {
    std::vector<filesystems::UndeleteEntry> e(4);
    e[0].FileName = e[0].ListName = "a.jpg", e[0].Size = 1000, e[0].ListSize = 1000, e[0].FirstCluster = 50;
    e[1].FileName = e[1].ListName = "b.jpg", e[1].Size = 0, e[1].ListSize = 1;
    e[2].FileName = e[2].ListName = "dir", e[2].Attributes = filesystems::kAttrDirectory;
    e[3].FileName = e[3].ListName = "c.jpg", e[3].Size = 1000, e[3].ListSize = 0, e[3].Overwritten = 1;
    const auto l = BuildUndeleteLists("img", e, true);
    EXPECT_EQ(l.list1.size(), 2u);
    EXPECT_EQ(l.list2, (std::vector<std::string>{"Deleted on img ", "", "1  0100  a.jpg", "2  0100  b.jpg",
                                                 "4 c.jpg  Recovery: impossible"}));
    filesystems::UndeleteEntry live;
    live.FileName = live.ListName = "NEW.JPG";
    live.FirstCluster = 50;
    e.push_back(live);
    const auto info = EntryInfoLines("img", e, 0, true);
    ASSERT_GE(info.size(), 3u);
    EXPECT_EQ(info[info.size() - 3], "First cluster: 50 =occupied NEW.JPG");
    EXPECT_EQ(info.back(), "Recovery: Might be possible");
}

TEST(UndeleteCli, ListsAndRestoresAnImage) {
    test::TempDir d("hx-qu-cli");
    const std::string img = test::MakeFatImage(d / "c.img", {.fatBits = 12, .label = ""}).string();
    REQUIRE_IMAGE(img);
    const std::string bytes = PatternBytes(7777, 8);
    ASSERT_TRUE(test::FatPutFile(img, "Gone photo.jpg", bytes));
    ASSERT_TRUE(test::FatDelete(img, "Gone photo.jpg"));
    std::string out;
    ASSERT_EQ(RunCommand(test::CliCommand() + " undelete '" + img + "' --cache '" + d.path().string() +
                             "' --restore all --to '" + (d / "out").string() + "' 2>/dev/null",
                         &out),
              0)
        << out;
    EXPECT_NE(out.find("Deleted on " + img), std::string::npos) << out;
    EXPECT_NE(out.find("1  0100  Gone photo.jpg"), std::string::npos) << out;
    EXPECT_TRUE(ReadFile(d / "out" / "Gone photo.jpg") == bytes);
}

}  // namespace
}  // namespace hx::undelete
