// Opening a file with its application: programs never, empty files say so,
// and without an application the user is asked.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "viewing/OpenFile.h"

namespace hx {
namespace fs = std::filesystem;
using viewing::OpenOutcome;

TEST(OpenFile, ProgramsNeverStartAndTheRestFollowsTheAssociation) {
    test::TempDir dir;
    std::vector<fs::path> opened, properties;
    std::string app = "org.example.viewer";
    viewing::FileOpeners openers{[&](const fs::path& p) { opened.push_back(p); return true; },
                                 [&](const fs::path& p) { properties.push_back(p); },
                                 [&](const fs::path&) { return app; }};
    test::ScriptedUi ui;

    // Programs, however they are named.
    test::WriteFile(dir / "R#0001.exe", "MZ");
    test::WriteFile(dir / "setup.EXE.jpg", "\xff\xd8\xff");
    test::WriteFile(dir / "R#0002.bin", "\x7f" "ELF and more");
    test::WriteFile(dir / "R#0003.txt", "#!/bin/sh\necho hi\n");
    test::WriteFile(dir / "R#0004.jpg", "\xff\xd8\xff");
    ::chmod((dir / "R#0004.jpg").c_str(), 0755);
    for (const char* name : {"R#0001.exe", "setup.EXE.jpg", "R#0002.bin", "R#0003.txt", "R#0004.jpg"})
        EXPECT_EQ(viewing::OpenWithApplication(ui, dir / name, openers), OpenOutcome::Refused) << name;
    EXPECT_TRUE(opened.empty());
    EXPECT_NE(ui.statuses.back().find("never starts programs"), std::string::npos);

    test::WriteFile(dir / "empty.jpg", "");
    EXPECT_EQ(viewing::OpenWithApplication(ui, dir / "empty.jpg", openers), OpenOutcome::Empty);
    EXPECT_EQ(ui.statuses.back(), "File has no file length.");

    test::WriteFile(dir / "photo.jpg", "\xff\xd8\xff\xe0");
    EXPECT_EQ(viewing::OpenWithApplication(ui, dir / "photo.jpg", openers), OpenOutcome::Opened);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(ui.messages.empty());

    // No application: asked; No leaves it, Yes shows the properties.
    app.clear();
    ui.answers = {shell::Answer::No, shell::Answer::Yes};
    EXPECT_EQ(viewing::OpenWithApplication(ui, dir / "photo.jpg", openers), OpenOutcome::NoApplication);
    EXPECT_EQ(viewing::OpenWithApplication(ui, dir / "photo.jpg", openers), OpenOutcome::PropertiesShown);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].text, "Associate an application?");
    EXPECT_EQ(ui.messages[0].title, "Open File");
    EXPECT_EQ(properties, std::vector<fs::path>{dir / "photo.jpg"});
    EXPECT_EQ(opened.size(), 1u);
}

}  // namespace hx
