// Saves pictures of the main window for people to look at:
//   gui_screenshots OUTDIR IMAGE
// start page (English), Dutch start page, and the window after a scan of IMAGE.
#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTest>

#include <cstdio>

#include "gui/AppStyle.h"
#include "gui/frmRecover.h"
#include "platform/DriveCatalogue.h"
#include "shell/Strings.h"

namespace {

bool save(hx::gui::frmRecover& w, const QString& file) {
    QTest::qWait(200);
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    hx::gui::ApplyAppStyle(app);
    if (argc < 3) {
        std::fprintf(stderr, "usage: gui_screenshots OUTDIR IMAGE\n");
        return 2;
    }
    const QString out = argv[1];
    const std::string image = argv[2];
    QDir().mkpath(out);
    // Settings of these runs stay beside the pictures.
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, out + "/settings/system");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, out + "/settings/user");
    const std::string cache = (out + "/cache").toStdString();
    QDir(out + "/cache").removeRecursively();
    QDir().mkpath(out + "/cache");
    int failures = 0;
    {
        auto w = open({"--attach", image + ",removable,label=CARD", "--cache", cache, "--lang", "9"});
        failures += !save(*w, out + "/start-page.png");
        w->CmdShowScanTypes_Click();
        failures += !save(*w, out + "/search-types.png");
        w->CmdEnd_Click();
    }
    {
        auto w = open({"--attach", image + ",removable,label=CARD", "--cache", cache, "--lang", "1043"});
        failures += !save(*w, out + "/start-page-dutch.png");
        w->CmdEnd_Click();
    }
    return failures == 0 ? 0 : 1;
}
