// Saves pictures of the main window for people to look at:
//   gui_screenshots OUTDIR
// For English, Dutch and German: the start page, the search types, a
// question the scan asks, the scan under way, the results as a list and as
// thumbnails, a preview with its EXIF panel and with a filter applied, and
// the undelete lists. Every question is answered by script; the whole run
// gives up after two minutes rather than wait.
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "gui/AppStyle.h"
#include "gui/frmRecover.h"
#include "platform/DriveCatalogue.h"
#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"
#include "support/DialogScript.h"

namespace fs = std::filesystem;

namespace {

int failures = 0;

void save(QWidget& w, const QString& file) {
    QTest::qWait(200);
    const bool ok = w.grab().save(file, "PNG");
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(file));
    failures += !ok;
}

std::unique_ptr<hx::gui::frmRecover> open(const std::vector<std::string>& args) {
    hx::platform::DetachAllImages();
    auto w = std::make_unique<hx::gui::frmRecover>(hx::shell::ParseWindowOptions(args));
    w->Form_Load();
    w->resize(1280, 800);
    w->show();
    return w;
}

// Every state of the window in one language; files are named <state>-<tag>.png.
void showEveryState(const QString& out, const std::string& language, const QString& tag, const std::string& attach,
                    const fs::path& cache) {
    hx::test::DialogScript boxes;
    fs::create_directories(cache);
    auto w = open({"--attach", attach, "--cache", cache.string(), "--lang", language});
    const QString suffix = "-" + tag + ".png";
    save(*w, out + "/start-page" + suffix);
    w->CmdShowScanTypes_Click();
    w->CmbTypeSelect_Click(3);  // all picture types
    save(*w, out + "/search-types" + suffix);

    // The scan's first question, and the scan under way, are caught as they show.
    bool questionSaved = false, scanningSaved = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(top);
            if (!questionSaved && box && box->isVisible()) {
                save(*box, out + "/question" + suffix);
                questionSaved = true;
            }
        }
        if (!scanningSaved && w->isBusy()) {
            save(*w, out + "/scanning" + suffix);
            scanningSaved = true;
        }
    });
    watcher.start(20);
    boxes.answerAfterMs = 400;  // long enough for its picture
    boxes.answers = {QMessageBox::No};  // SmartScan offered: the whole card
    w->findChild<QPushButton*>("CmdScan")->click();
    watcher.stop();
    save(*w, out + "/results-list" + suffix);
    if (!w->thumbnailsShown()) w->CmdShowThumbs_Click();
    save(*w, out + "/results-thumbnails" + suffix);

    // A preview with its EXIF panel, then with a filter.
    auto* list = w->findChild<QListWidget*>("List3");
    if (w->thumbnailsShown()) w->CmdShowThumbs_Click();
    if (list->count() > 0) list->setCurrentRow(0);
    save(*w, out + "/preview-exif" + suffix);
    auto* filters = w->findChild<QListWidget*>("ListFilters");
    const QList<QListWidgetItem*> sharpen = filters->findItems(
        QString::fromStdString(hx::shell::LoadStr(1330, "SharpenMore")), Qt::MatchExactly);
    if (!sharpen.isEmpty()) emit filters->itemClicked(sharpen.front());
    save(*w, out + "/preview-filter" + suffix);

    w->findChild<QPushButton*>("CmdQuickUndelete")->click();
    save(*w, out + "/undelete-lists" + suffix);
    w->CmdEnd_Click();
    for (const auto& b : boxes.shown) std::printf("  answered: %s: %s\n", qPrintable(b.title), qPrintable(b.text.left(80)));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    hx::gui::ApplyAppStyle(app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_screenshots OUTDIR\n");
        return 2;
    }
    // Never wait on anything for long: a box nobody answers ends the run.
    QTimer::singleShot(120000, [] {
        std::fprintf(stderr, "gui_screenshots: still running after two minutes; stopped\n");
        std::_Exit(3);
    });
    const QString out = argv[1];
    QDir().mkpath(out);
    hx::test::TempDir work("hx-shots");
    // Settings, cache and pictures of these runs stay out of the user's home.
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        qputenv(v, QByteArray::fromStdString((work.path() / v).string()));
    const fs::path card = work / "card.img";
    // A 64 MB card with eight photographs, every second one deleted.
    if (hx::test::MakePhotoCard(card, 64, 8, 4700, 1600, 1200).empty()) {
        std::fprintf(stderr, "gui_screenshots: cannot make the card image (mkfs.fat, mtools)\n");
        return 1;
    }
    const std::string attach = card.string() + ",removable,label=CARD";
    showEveryState(out, "9", "english", attach, work / "cache-en");
    showEveryState(out, "1043", "dutch", attach, work / "cache-nl");
    showEveryState(out, "1031", "german", attach, work / "cache-de");
    {
        auto w = open({"--attach", attach, "--cache", (work / "cache-en").string(), "--lang", "9"});
        w->resize(w->minimumSize());
        save(*w, out + "/smallest-window.png");
        w->resize(1280, 800);
        w->ApplyColourScheme(1);  // Layout Dark
        save(*w, out + "/dark.png");
        w->ApplyColourScheme(3);
        w->CmdEnd_Click();
    }
    return failures == 0 ? 0 : 1;
}
