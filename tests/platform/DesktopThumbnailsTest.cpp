// The desktop's thumbnailers, as registered in a data folder of the test's own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "fixtures/TempDir.h"
#include "platform/DesktopThumbnails.h"

namespace fs = std::filesystem;
using namespace hx::platform;

namespace {

class DesktopThumbnailsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_DATA_HOME");
        oldDataHome_ = old ? old : "";
        ::setenv("XDG_DATA_HOME", (dir_.path() / "data").c_str(), 1);
        // Only the test's own folder: the machine's thumbnailers stay out.
        ::setenv("XDG_DATA_DIRS", (dir_.path() / "none").c_str(), 1);
        hx::test::WriteFile(dir_.path() / "note.txt", "a note\n");
        hx::test::WriteFile(dir_.path() / "thumb.png", "not really a PNG, but bytes");
    }
    void TearDown() override {
        ::setenv("XDG_DATA_HOME", oldDataHome_.c_str(), 1);
        ::unsetenv("XDG_DATA_DIRS");
    }
    void registerThumbnailer(const std::string& name, const std::string& exec, const std::string& types,
                             const std::string& tryExec = "") {
        hx::test::WriteFile(dir_.path() / "data" / "thumbnailers" / (name + ".thumbnailer"),
                            "[Thumbnailer Entry]\n" + (tryExec.empty() ? "" : "TryExec=" + tryExec + "\n") +
                                "Exec=" + exec + "\nMimeType=" + types + "\n");
    }

    hx::test::TempDir dir_{"hx-thumbnailers"};
    std::string oldDataHome_;
};

}  // namespace

TEST_F(DesktopThumbnailsTest, TheThumbnailerOfTheTypeMakesThePicture) {
    const fs::path note = dir_.path() / "note.txt";
    ASSERT_EQ(DesktopMimeType(note), "text/plain");
    EXPECT_EQ(MakeDesktopThumb(note, dir_.path() / "work", 128, 5000).outcome, DesktopThumbOutcome::NoThumbnailer);

    // One whose program is missing is passed over; the next for the type is used.
    registerThumbnailer("a-missing", "hx-no-such-program %i %o", "text/html;text/plain;", "hx-no-such-program");
    registerThumbnailer("b-copy", "cp \"" + (dir_.path() / "thumb.png").string() + "\" %o", "text/plain;");
    const DesktopThumb made = MakeDesktopThumb(note, dir_.path() / "work", 128, 5000);
    ASSERT_EQ(made.outcome, DesktopThumbOutcome::Made);
    EXPECT_EQ(made.thumbnailer, "b-copy.thumbnailer");
    EXPECT_EQ(hx::test::ReadFile(made.picture), "not really a PNG, but bytes");
    EXPECT_EQ(made.picture.parent_path(), dir_.path() / "work");
}

TEST_F(DesktopThumbnailsTest, AThumbnailerThatFailsOrHangsGivesNothing) {
    const fs::path note = dir_.path() / "note.txt";
    registerThumbnailer("fails", "false %i %o", "text/plain;");
    EXPECT_EQ(MakeDesktopThumb(note, dir_.path() / "work", 128, 5000).outcome, DesktopThumbOutcome::Failed);

    fs::remove(dir_.path() / "data" / "thumbnailers" / "fails.thumbnailer");
    registerThumbnailer("hangs", "sleep 30", "text/plain;");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(MakeDesktopThumb(note, dir_.path() / "work", 128, 300).outcome, DesktopThumbOutcome::Failed);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}
