#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fixtures/ShellSandbox.h"
#include "shell/WorkingFolders.h"

using namespace hx::shell;
using hx::test::ScriptedUi;
using hx::test::TempDir;
using hx::test::WriteFile;
namespace fs = std::filesystem;

namespace {

using Sandbox = hx::test::ShellSandbox;

int countFiles(const fs::path& folder) {
    int n = 0;
    for (auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) ++n;
    return n;
}

}  // namespace

TEST(DeleteTree, RemovesGuardedTreesWithReadOnlyAndHiddenFiles) {
    TempDir dir;
    const fs::path tree = dir / "QXCache";
    WriteFile(tree / "R#0000.jpg", "x");
    WriteFile(tree / ".hidden", "x");
    WriteFile(tree / "Thumbs" / "deep" / "ro.jpg", "x");
    WriteFile(dir / "outside" / "keep.txt", "keep");
    fs::create_symlink(dir / "outside", tree / "link-to-outside");
    fs::create_symlink(dir / "outside" / "keep.txt", tree / "file-link");
    ::chmod((tree / "Thumbs" / "deep" / "ro.jpg").c_str(), 0444);
    ::chmod((tree / "Thumbs" / "deep").c_str(), 0555);
    ::chmod((tree / "R#0000.jpg").c_str(), 0400);

    EXPECT_TRUE(DeleteTree(tree.string() + "/"));
    EXPECT_FALSE(fs::exists(tree));
    // Links were removed, not followed.
    EXPECT_EQ(hx::test::ReadFile(dir / "outside" / "keep.txt"), "keep");
}

TEST(DeleteTree, RefusesWhatIsNotOurs) {
    TempDir dir("hx-plain");
    WriteFile(dir / "photos" / "a.jpg", "x");
    EXPECT_FALSE(DeleteTree(dir / "photos"));                          // no marker in the path
    EXPECT_FALSE(DeleteTree(dir / "QXCache" / ".." / "photos"));       // marker only before ".."
    WriteFile(dir / "morvenick.txt", "x");
    EXPECT_FALSE(DeleteTree(dir / "morvenick.txt"));                   // a file
    EXPECT_FALSE(DeleteTree(dir / "Harvestrix-missing"));              // does not exist
    EXPECT_FALSE(DeleteTree("QXCache"));                               // no separator
    EXPECT_FALSE(DeleteTree(""));
    fs::create_symlink(dir / "photos", dir / "QXCache-link");
    EXPECT_FALSE(DeleteTree(dir / "QXCache-link"));                    // a link to a folder
    EXPECT_TRUE(fs::exists(dir / "photos" / "a.jpg"));
    EXPECT_TRUE(fs::exists(dir / "morvenick.txt"));

    // Case does not matter for the marker.
    WriteFile(dir / "old-HARVESTRIX-data" / "x", "x");
    EXPECT_TRUE(DeleteTree(dir / "old-HARVESTRIX-data"));
}

TEST(DelProgramTrees, RemovesOnlyTheProgramsOwnData) {
    TempDir dir;
    const fs::path pf = dir / "Harvestrix";
    for (const char* f : {"temp1.bmp", "TEMP.dat", "version.txt", "bin/dcraw", "QXRecdt/Lastpict.bmp",
                          "Manual/English/index.htm", "Manual/Deutsch/index.htm", "Manual/Manual.htm",
                          "Harvestrix.res", "keep/notes.txt", "attempt.txt"})
        WriteFile(pf / f, "x");
    DelProgramTrees(pf);
    std::vector<std::string> left;
    for (auto& e : fs::recursive_directory_iterator(pf)) left.push_back(fs::relative(e.path(), pf).string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Harvestrix.res", "attempt.txt", "keep", "keep/notes.txt"}));
}

TEST(MakeDirNames, DefaultCacheAndDerivedFolders) {
    Sandbox s;
    MakeDirNames(s.state);
    const std::string cache = s.p("home/.cache/QXCache/");
    EXPECT_EQ(s.state.tCache, cache);
    EXPECT_EQ(s.state.cache, cache);
    EXPECT_TRUE(fs::is_directory(cache));
    EXPECT_EQ(s.state.thumbs, cache + "Thumbs/");
    EXPECT_EQ(s.state.browseThumbs, cache + "Thumbs/Browse/");
    EXPECT_EQ(s.state.temp, cache + "Temp/");
    EXPECT_EQ(s.state.conv, cache + "Conv/");
    EXPECT_EQ(s.state.picture, s.p("home/.local/share/Harvestrix/QXRecdt/"));
    // Below the home folder, found files are saved to ~/Recovered/ by default.
    EXPECT_EQ(s.state.save, s.p("home/Recovered/"));
    EXPECT_EQ(s.state.browse, s.state.save);
    EXPECT_EQ(s.state.image, s.state.save);
    EXPECT_EQ(s.state.activeThumbs, s.state.browseThumbs);

    // A folder without QXCache gets it; doubled slashes and "~" are tidied.
    s.state.tCache = "~//pics";
    s.state.save = s.p("home/pics/QXCache/inside/");  // a save folder inside the cache is not allowed
    s.state.browse = s.p("home/pics/QXCache/");
    WriteFile(s.p("home/pics/QXCache/Thumbs/thumbs.db"), "x");
    WriteFile(s.p("home/pics/QXCache/THUMBS.DB"), "x");
    MakeDirNames(s.state);
    EXPECT_EQ(s.state.cache, s.p("home/pics/QXCache/"));
    EXPECT_EQ(s.state.save, s.p("home/Recovered/"));
    EXPECT_EQ(s.state.activeThumbs, s.state.thumbs);
    EXPECT_FALSE(fs::exists(s.p("home/pics/QXCache/Thumbs/thumbs.db")));
    EXPECT_FALSE(fs::exists(s.p("home/pics/QXCache/THUMBS.DB")));

    // Outside the home folder the save folder sits beside the cache.
    fs::create_directories(s.p("data"));
    s.state.tCache = s.p("data/QXCache/");
    s.state.save.clear();
    MakeDirNames(s.state);
    EXPECT_EQ(s.state.save, s.p("data/Recovered/"));
}

TEST(Cache, MissingLocationIsReportedAndReplaced) {
    Sandbox s;
    SetCurrentLanguage(kLangEnglish);
    const std::string gone = s.p("card-gone/QXCache/");
    s.state.tCache = gone;
    ASSERT_TRUE(SettleCache(s.state, s.ui));
    ASSERT_EQ(s.ui.messages.size(), 1u);
    EXPECT_EQ(s.ui.messages[0].text, "Last used cache " + gone + " not available.\nA new cache will be made.");
    EXPECT_EQ(s.ui.messages[0].title, "Harvestrix Cache");
    EXPECT_EQ(s.ui.messages[0].options.icon, Icon::Information);
    EXPECT_EQ(s.state.cache, s.p("home/.cache/QXCache/"));
    EXPECT_FALSE(fs::exists(s.p("card-gone")));

    // The cache folder alone gone (its place still there): made again without a word.
    ScriptedUi quiet;
    fs::remove_all(s.state.cache);
    ASSERT_TRUE(SettleCache(s.state, quiet));
    EXPECT_TRUE(quiet.messages.empty());
    EXPECT_TRUE(fs::is_directory(s.state.thumbs));
    EXPECT_TRUE(fs::is_directory(s.state.save));
}

TEST(Cache, RememberedCachesAreOffered) {
    Sandbox s;
    const std::string a = s.p("a/QXCache/"), b = s.p("b/QXCache/"), c = s.p("c/QXCache/");
    WriteFile(b + "R#0000.jpg", "x");

    // An empty current cache gives way to a previous one with files, silently.
    s.state.tCache = a;
    s.state.oCache = b;
    fs::create_directories(a);
    ASSERT_TRUE(SettleCache(s.state, s.ui));
    EXPECT_TRUE(s.ui.messages.empty());
    EXPECT_EQ(s.state.cache, b);
    EXPECT_EQ(s.state.oCache, a);

    // Both full: asked; Yes keeps the current one.
    WriteFile(a + "R#0001.jpg", "x");
    WriteFile(c + "R#0002.jpg", "x");
    s.state.o2Cache = c;
    s.ui.answers = {Answer::Yes};
    ASSERT_TRUE(SettleCache(s.state, s.ui));
    ASSERT_EQ(s.ui.messages.size(), 1u);
    EXPECT_EQ(s.ui.messages[0].text, "Also present is the previously used cache:\nCache=  " + a + " and " + c +
                                       "\n\nDo you want to use the current cache?");
    EXPECT_EQ(s.state.cache, b);

    // No: the previous becomes current, and the next one is asked about.
    s.ui.messages.clear();
    s.ui.answers = {Answer::No, Answer::Yes};
    ASSERT_TRUE(SettleCache(s.state, s.ui));
    ASSERT_EQ(s.ui.messages.size(), 2u);
    EXPECT_NE(s.ui.messages[1].text.find("Cache=  " + c + "\n"), std::string::npos);
    EXPECT_EQ(s.state.cache, a);
    EXPECT_EQ(s.state.oCache, b);

    // The cache switch: given explicitly, nothing is offered.
    ScriptedUi none;
    ApplyCacheSwitch(s.state, s.p("e"));
    EXPECT_EQ(s.state.tCache, s.p("e/QXCache/"));
    EXPECT_EQ(s.state.oCache, a);
    EXPECT_EQ(s.state.o2Cache, b);
    ASSERT_TRUE(SettleCache(s.state, none, true));
    EXPECT_EQ(s.state.cache, s.p("e/QXCache/"));
    // Switching away from an empty cache does not remember it.
    ApplyCacheSwitch(s.state, s.p("f/"));
    EXPECT_EQ(s.state.tCache, s.p("f/QXCache/"));
    EXPECT_EQ(s.state.oCache, a);
}

TEST(Cache, FallsBackWhenTheCacheCannotBeMade) {
    Sandbox s;
    WriteFile(s.p("blocked/QXCache"), "a file where the folder should be");
    s.state.tCache = s.p("blocked/QXCache/");
    ASSERT_TRUE(EnsureCacheFolders(s.state, s.ui));
    EXPECT_EQ(s.state.cache, s.p("home/.local/share/Harvestrix/QXCache/"));
    EXPECT_TRUE(fs::is_directory(s.state.conv));
}

TEST(Cache, EmptyCacheDeletesFilesOnly) {
    Sandbox s;
    ASSERT_TRUE(SettleCache(s.state, s.ui));
    for (const fs::path& f : {s.state.cache, s.state.thumbs, s.state.browseThumbs, s.state.temp, s.state.conv})
        WriteFile(f / "file.bin", "x");
    WriteFile(s.state.cache / "Searched.dat", "x");
    WriteFile(s.state.cache / "other" / "kept.bin", "x");
    EXPECT_EQ(EmptyCache(s.state), 6);
    EXPECT_EQ(countFiles(s.state.cache), 1);
    EXPECT_TRUE(fs::is_directory(s.state.thumbs));
    EXPECT_EQ(GetSetting(s.store, kCacheBytes), "8191");

    // Never outside a QXCache path.
    s.state.cache = s.p("home/");
    WriteFile(s.p("home/precious.jpg"), "x");
    EXPECT_EQ(EmptyCache(s.state), 0);
    EXPECT_TRUE(fs::exists(s.p("home/precious.jpg")));
}

TEST(Drives, ReadinessFollowsTheMountFolder) {
    TempDir dir;
    EXPECT_TRUE(DriveReady(dir.path().string() + "/QXCache/"));
    EXPECT_FALSE(DriveReady(dir.path().string() + "/gone/QXCache/"));
    EXPECT_FALSE(DriveReady("/mnt/hx-no-such-card-7d1/photos/"));
    EXPECT_FALSE(DriveReady("relative/QXCache/"));
    EXPECT_TRUE(DriveReady("/"));
    EXPECT_EQ(DriveRoot("/mnt/card/x/QXCache/", "/home/u/"), "/mnt/card/");
    EXPECT_EQ(DriveRoot("/home/u/.cache/QXCache/", "/home/u/"), "/home/u/");
    EXPECT_EQ(DriveRoot("/srv/x/QXCache/", "/home/u/"), "/srv/x/");
}
