// The folder chooser's rules and the file search, on real folders.
#include <gtest/gtest.h>

#include <fstream>

#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "platform/Trash.h"
#include "utilities/FileSearch.h"
#include "utilities/FolderChooser.h"

namespace hx::utilities {
namespace {

namespace fs = std::filesystem;
using shell::Answer;

void touch(const fs::path& file, const std::string& bytes = "x") {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << bytes;
}

TEST(FolderChooser, PathsDrivesCreateAndCancel) {
    EXPECT_EQ(NormaliseChooserPath("/media/card"), "/media/card/");
    EXPECT_EQ(NormaliseChooserPath("/media/card//"), "/media/card/");
    EXPECT_EQ(NormaliseChooserPath("/media/card/"), "/media/card/");

    test::TempDir home("hx-chooser");
    test::ScriptedUi ui;
    // A starting folder that is gone opens the chooser on its drive.
    FolderChooser gone(ui, home / "gone" / "deeper", home.path());
    EXPECT_EQ(gone.path(), home.path().string() + "/");
    EXPECT_EQ(gone.drive(), home.path().string() + "/");

    FolderChooser chooser(ui, home.path(), home.path());
    ui.inputs = {"Trip 2026"};
    ASSERT_TRUE(chooser.create());
    EXPECT_TRUE(fs::is_directory(home / "Trip 2026"));
    EXPECT_EQ(chooser.ok(), (home / "Trip 2026").string() + "/");
    ui.inputs = {"../escape"};
    EXPECT_FALSE(chooser.create());
    EXPECT_FALSE(chooser.selectDrive((home / "unplugged").string()));
    EXPECT_TRUE(ui.shownContaining("not ready."));
    EXPECT_EQ(chooser.ok(), (home / "Trip 2026").string() + "/");
    EXPECT_EQ(FolderChooser::cancelled(), "Cancel");
}

TEST(FolderChooser, DeleteSendsFilesToTheTrashAndNeverTakesARoot) {
    test::TempDir home("hx-chooser-del");
    test::ScriptedUi ui;
    FolderChooser chooser(ui, home.path(), home.path());
    EXPECT_FALSE(chooser.remove());
    EXPECT_TRUE(ui.shownContaining("Cannot delete the root of disk "));

    // Files only: they go to the trash, then the empty folder.
    touch(home / "Old" / "a.jpg", "photo a");
    chooser.setPath((home / "Old").string());
    ui.answers = {Answer::Yes};
    ASSERT_TRUE(chooser.remove());
    EXPECT_FALSE(fs::exists(home / "Old"));
    EXPECT_EQ(chooser.path(), home.path().string() + "/");
    bool trashed = false;
    for (const auto& e : fs::directory_iterator(platform::TrashFolder() / "files"))
        if (e.path().filename().string().rfind("a.jpg", 0) == 0) trashed = true;
    EXPECT_TRUE(trashed);

    // A user's folder with a folder inside: the files go, the rest stays and is reported.
    touch(home / "Mine" / "b.jpg");
    touch(home / "Mine" / "Sub" / "c.jpg");
    chooser.setPath((home / "Mine").string());
    ui.answers = {Answer::Yes};
    EXPECT_FALSE(chooser.remove());
    EXPECT_TRUE(ui.shownContaining("Folder with protected files: not deleted."));
    EXPECT_FALSE(fs::exists(home / "Mine" / "b.jpg"));
    EXPECT_TRUE(fs::exists(home / "Mine" / "Sub" / "c.jpg"));
    // No keeps everything.
    ui.answers = {Answer::No};
    EXPECT_FALSE(chooser.remove());
    EXPECT_TRUE(fs::exists(home / "Mine" / "Sub" / "c.jpg"));
}

TEST(FileSearch, MatchesOnTheChosenDrivesAndStopsAt32760) {
    test::TempDir a("hx-search-a"), b("hx-search-b");
    touch(a / "DCIM" / "IMG_0001.JPG");
    touch(a / "DCIM" / "notes.txt");
    touch(a / ".hidden" / "skip.jpg");
    touch(b / "deep" / "er" / "x.jpg");
    test::ScriptedUi ui;
    const std::string drives = a.path().string() + " " + (a / "missing").string() + "," + b.path().string();
    EXPECT_EQ(SearchRoots(drives).size(), 2u);
    SearchResult r = Zoekfiles("*.jpg", drives, ui);
    EXPECT_EQ(r.lines, (std::vector<std::string>{(a / "DCIM" / "IMG_0001.JPG").string(), (b / "deep" / "er" / "x.jpg").string()}));

    const SearchResult info = FolderInfo(b.path(), ui);
    EXPECT_EQ(info.folders, 2u);
    EXPECT_EQ(info.files, 1u);

    std::string spec, named;
    SplitSearchText("*.cr2 " + a.path().string(), spec, named);
    EXPECT_EQ(spec, "*.cr2");
    EXPECT_EQ(named, a.path().string());

    test::TempDir many("hx-search-many");
    for (int folder = 0; folder < 3; ++folder) {
        fs::create_directories(many / std::to_string(folder));
        for (int i = 0; i < 11000; ++i) std::ofstream(many / std::to_string(folder) / ("p" + std::to_string(i) + ".jpg"));
    }
    r = Zoekfiles("*.JPG", many.path().string(), ui);
    EXPECT_EQ(r.lines.size(), kMaxSearchLines);

    ui.stopAtYield = 5;
    r = Zoekfiles("*.jpg", many.path().string(), ui);
    EXPECT_TRUE(r.stopped);
    EXPECT_LT(r.lines.size(), 10u);
}

}  // namespace
}  // namespace hx::utilities
