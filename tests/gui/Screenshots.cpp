// Saves pictures of the main window for people to look at:
//   gui_screenshots OUTDIR
// the start page, the search types, the window after a scan of a card image
// with deleted photographs, and the Dutch start page.
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <cstdio>

#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "gui/AppStyle.h"
#include "gui/frmRecover.h"
#include "platform/DriveCatalogue.h"
#include "shell/WindowCommandsText.h"

namespace fs = std::filesystem;

namespace {

bool save(hx::gui::frmRecover& w, const QString& file) {
    QTest::qWait(300);
    const bool ok = w.grab().save(file, "PNG");
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(file));
    return ok;
}

std::unique_ptr<hx::gui::frmRecover> open(const std::vector<std::string>& args) {
    hx::platform::DetachAllImages();
    auto w = std::make_unique<hx::gui::frmRecover>(hx::shell::ParseWindowOptions(args));
    w->Form_Load();
    w->resize(1280, 800);
    w->show();
    return w;
}

// A 64 MB card with eight photographs, every second one deleted.
bool makeCard(const fs::path& folder, const fs::path& card) {
    if (!hx::test::MakeFatCard(card, 64, 4, 16)) return false;
    for (int i = 1; i <= 8; ++i) {
        const fs::path jpg = folder / ("IMG_" + std::to_string(4700 + i) + ".JPG");
        hx::test::WriteFile(jpg, hx::test::MakeTestJpeg(i, 1600, 1200, 90));
        if (!hx::test::CopyToCard(card, jpg, jpg.filename().string())) return false;
    }
    for (int i = 2; i <= 8; i += 2)
        if (!hx::test::DeleteFromCard(card, "IMG_" + std::to_string(4700 + i) + ".JPG")) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    hx::gui::ApplyAppStyle(app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_screenshots OUTDIR\n");
        return 2;
    }
    const QString out = argv[1];
    QDir().mkpath(out);
    hx::test::TempDir work("hx-shots");
    // Settings, cache and pictures of these runs stay out of the user's home.
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        qputenv(v, QByteArray::fromStdString((work.path() / v).string()));
    const fs::path card = work / "card.img";
    if (!makeCard(work.path(), card)) {
        std::fprintf(stderr, "gui_screenshots: cannot make the card image (mkfs.fat, mtools)\n");
        return 1;
    }
    const std::string attach = card.string() + ",removable,label=CARD";
    const std::string cache = (work / "work").string();
    fs::create_directories(cache);
    int failures = 0;
    {
        auto w = open({"--attach", attach, "--cache", cache, "--lang", "9"});
        failures += !save(*w, out + "/start-page.png");
        w->CmdShowScanTypes_Click();
        w->CmbTypeSelect_Click(3);  // All picture types
        failures += !save(*w, out + "/search-types.png");
        w->findChild<QPushButton*>("CmdScan")->click();
        failures += !save(*w, out + "/after-scan.png");
        w->CmdShowThumbs_Click();
        failures += !save(*w, out + "/after-scan-thumbs.png");
        w->CmdShowThumbs_Click();
        w->resize(w->minimumSize());
        failures += !save(*w, out + "/smallest-window.png");
        w->resize(1280, 800);
        w->ApplyColourScheme(1);  // Layout Dark
        failures += !save(*w, out + "/after-scan-dark.png");
        w->ApplyColourScheme(3);
        w->CmdEnd_Click();
    }
    {
        auto w = open({"--attach", attach, "--cache", cache, "--lang", "1043"});
        failures += !save(*w, out + "/after-scan-dutch.png");
        w->CmdEnd_Click();
    }
    {
        fs::remove_all(fs::path(cache) / "QXCache");
        auto w = open({"--attach", attach, "--cache", cache, "--lang", "1043"});
        failures += !save(*w, out + "/start-page-dutch.png");
        w->CmdEnd_Click();
    }
    return failures == 0 ? 0 : 1;
}
