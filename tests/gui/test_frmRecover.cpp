// The real main window, offscreen, with attached image drives and scripted answers.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QScrollBar>
#include <QFileDialog>
#include <QGroupBox>
#include <QRegularExpression>
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QAbstractItemModel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QTextBrowser>
#include <QTreeWidget>
#include <map>
#include <memory>

#include "fixtures/FaultyCard.h"
#include "fixtures/MediaImages.h"
#include "fixtures/PhonePictures.h"
#include "fixtures/SampleFiles.h"
#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestJpeg.h"
#include "viewing/SamplePhoto.h"
#include "viewing/ThumbnailFiles.h"
#include "gui/AppStyle.h"
#include "gui/dialogs/FrmFullPicture.h"
#include "gui/QtSettingsStore.h"
#include "gui/frmRecover.h"
#include "gui/frmRecoverInit.h"
#include "media/DriveRecord.h"
#include "platform/DriveCatalogue.h"
#include "scan/ScanDisk.h"
#include "scan/ScanState.h"
#include "formats/TypePresets.h"
#include "shell/Settings.h"
#include "shell/Strings.h"
#include "shell/WindowCommands.h"
#include "shell/WindowCommandsText.h"
#include "support/DialogScript.h"

using hx::gui::frmRecover;
namespace fs = std::filesystem;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// Every control the window's commands address by name.
const char* const kControls[] = {
    "CmdSaveAll", "CmdSaveAs", "CmdOpen", "CmdEnd", "CmdMaxSpeed", "CmdQuickUndelete", "CmdScan", "CmdShowFolder",
    "CmdShowThumbs", "CmdLearn", "TxtWidth", "CmdRenderWidth", "CmdShowScanTypes", "ChkDeep", "ChkDamaged",
    "CmdBackup", "CmdScanBackup", "CmdBrowse", "Drive1", "Drive2", "lblHelp", "lblAbout", "lblStatus",
    "CmbTypeSelect", "txtExif", "txtSpecs", "ListColors", "ListFilters", "LvwTypes", "List1", "List2", "List3",
    "LvwFiles", "Picture1", "Picture2", "lblSpecs", "CheckSpecs", "Timer1", "Timer2"};

struct LanguageView {
    std::map<QString, QStringList> texts;
    QStringList ticks, descriptions, faults;
};

}  // namespace

class FrmRecoverTest : public QObject {
    Q_OBJECT

    std::unique_ptr<hx::test::TempDir> home_;
    // Answers any box with its default button, so nothing unexpected hangs a test.
    std::unique_ptr<hx::test::DialogScript> boxes_;
    fs::path fixedImage_, cardImage_;
    QList<QUrl> opened_;  // what the window asked the desktop to open

    std::unique_ptr<frmRecover> open(std::vector<std::string> extra = {}, const std::string& cacheName = "work") {
        hx::platform::DetachAllImages();
        fs::create_directories(home_->path() / cacheName);
        std::vector<std::string> args = {"--attach", fixedImage_.string(), "--cache",
                                         (home_->path() / cacheName).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto w = std::make_unique<frmRecover>(hx::shell::ParseWindowOptions(args));
        // Nothing is handed to the desktop's applications during tests.
        w->setUrlOpener([this](const QUrl& url) {
            opened_ << url;
            return true;
        });
        w->Form_Load();
        w->show();
        return w;
    }

    template <class T>
    static T* child(frmRecover& w, const char* name) {
        return w.findChild<T*>(name);
    }

    // The row of the search types for an extension ("HXQ"), or null.
    static QTreeWidgetItem* typeRow(frmRecover& w, const QString& extension) {
        const auto found = child<QTreeWidget>(w, "LvwTypes")->findItems(extension, Qt::MatchExactly, 0);
        return found.isEmpty() ? nullptr : found.front();
    }

    // Whether one of the found files in the cache holds exactly `bytes`.
    static bool foundHolds(frmRecover& w, const std::string& bytes) {
        for (const QString& name : w.foundNames())
            if (hx::test::ReadFile(w.cacheFolder() / name.toStdString()) == bytes) return true;
        return false;
    }

    // Scan pressed with the SmartScan offer answered No: the whole card.
    void scanWholeCard(frmRecover& w) {
        boxes_->answers = {QMessageBox::No};
        child<QPushButton>(w, "CmdScan")->click();
    }

    // Registers a desktop thumbnailer for text files that gives a picture of
    // one colour; returns the entry, to be removed by the test.
    fs::path registerTextThumbnailer(const std::string& pictureName, QColor colour) {
        QImage page(60, 80, QImage::Format_RGB32);
        page.fill(colour);
        const fs::path picture = home_->path() / pictureName;
        if (!page.save(q(picture.string()), "PNG")) return {};
        const fs::path entry = home_->path() / "XDG_DATA_HOME" / "thumbnailers" / "hx-text.thumbnailer";
        hx::test::WriteFile(entry, "[Thumbnailer Entry]\nExec=cp \"" + picture.string() + "\" %o\nMimeType=text/plain;\n");
        return entry;
    }

private slots:
    void init() { boxes_ = std::make_unique<hx::test::DialogScript>(); }
    void cleanup() {
        for (const auto& b : boxes_->shown) qWarning("box shown: %s: %s", qPrintable(b.title), qPrintable(b.text));
        boxes_.reset();
    }

    void initTestCase() {
        home_ = std::make_unique<hx::test::TempDir>("hx-gui");
        // Settings, cache and pictures of this run stay in the temporary home.
        for (const char* v : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            qputenv(v, QByteArray::fromStdString((home_->path() / v).string()));
        // The desktop opens photos with a viewer of its own, whatever this machine has.
        hx::test::WriteFile(home_->path() / "XDG_CONFIG_HOME" / "mimeapps.list",
                            "[Default Applications]\nimage/jpeg=hx-viewer.desktop\n");
        hx::test::WriteFile(home_->path() / "XDG_DATA_HOME" / "applications" / "hx-viewer.desktop",
                            "[Desktop Entry]\nType=Application\nName=Viewer\nExec=true %f\nMimeType=image/jpeg;\n");
        fixedImage_ = home_->path() / "disk.img";
        cardImage_ = home_->path() / "card.img";
        for (const auto& img : {fixedImage_, cardImage_}) {
            const std::string label = img == cardImage_ ? "CARD" : "DISK";
            QCOMPARE(hx::test::RunCommand("truncate -s 8M '" + img.string() + "' && mkfs.fat -n " + label + " '" +
                                          img.string() + "'"),
                     0);
        }
    }

    void splashShowsTheLastPictureWhileTheWindowLoadsHidden() {
        const fs::path pictures = home_->path() / "XDG_DATA_HOME" / "Harvestrix" / "QXRecdt";
        fs::create_directories(pictures);
        QImage last(120, 80, QImage::Format_RGB32);
        last.fill(QColor(200, 30, 30));
        QVERIFY(last.save(q((pictures / "Lastpict.bmp").string()), "BMP"));

        hx::platform::DetachAllImages();
        fs::create_directories(home_->path() / "splash");
        frmRecover w(hx::shell::ParseWindowOptions({"--cache", (home_->path() / "splash").string()}));
        bool splashSeen = false;
        QString splashText;
        QColor splashCentre;
        double opacityWhileLoading = -1;
        QTimer::singleShot(0, [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* s = qobject_cast<hx::gui::frmRecoverInit*>(top); s && s->isVisible()) {
                    splashSeen = true;
                    splashText = s->loadingText();
                    splashCentre = s->grab().toImage().pixelColor(s->width() / 2, 40);
                }
            opacityWhileLoading = w.windowOpacity();
        });
        w.Form_Load();
        QVERIFY(splashSeen);
        QVERIFY(splashText.startsWith("loading....."));
        QVERIFY(splashText.contains("Harvestrix"));
        QCOMPARE(splashCentre, QColor(200, 30, 30));
        QCOMPARE(opacityWhileLoading, 0.0);
        QCOMPARE(w.windowOpacity(), 1.0);
        for (QWidget* top : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<hx::gui::frmRecoverInit*>(top) || !top->isVisible());
        fs::remove(pictures / "Lastpict.bmp");
        w.close();
        QVERIFY2(fs::exists(pictures / "Lastpict.bmp"), "the picture shown is kept for the next start");
    }

    // Every text a widget shows, by widget: captions, titles, items, headers.
    static std::map<QString, QStringList> widgetTexts(frmRecover& w) {
        std::map<QString, QStringList> texts;
        for (QWidget* c : w.findChildren<QWidget*>()) {
            // The drive list holds device names and sizes.
            if (c->objectName().isEmpty() || c->objectName() == "Drive1" || c->objectName() == "Drive2") continue;
            QStringList& t = texts[c->objectName()];
            if (auto* b = qobject_cast<QAbstractButton*>(c)) t << b->text();
            else if (auto* l = qobject_cast<QLabel*>(c)) t << l->text();
            else if (auto* g = qobject_cast<QGroupBox*>(c)) t << g->title();
            else if (auto* e = qobject_cast<QLineEdit*>(c)) t << e->placeholderText();
            else if (auto* cb = qobject_cast<QComboBox*>(c))
                for (int i = 0; i < cb->count(); ++i) t << cb->itemText(i);
            else if (auto* tw = qobject_cast<QTreeWidget*>(c)) {
                for (int i = 0; i < tw->columnCount(); ++i) t << tw->headerItem()->text(i);
                for (int i = 0; i < tw->topLevelItemCount(); ++i) t << tw->topLevelItem(i)->text(1);
            } else if (auto* lw = qobject_cast<QListWidget*>(c); lw && c->objectName() == "ListFilters")
                for (int i = 0; i < lw->count(); ++i) t << lw->item(i)->text();
            if (!c->toolTip().isEmpty()) t << c->toolTip();
        }
        return texts;
    }

    // What a window in `lang` shows: every control's texts (with the search
    // types up), and per preset the extension and tick of each type row.
    LanguageView viewIn(int lang) {
        LanguageView v;
        auto w = open({"--lang", std::to_string(lang)});
        for (const char* name : kControls)
            if (!w->findChild<QObject*>(name)) v.faults << QString("no control ") + name;
        auto* presets = child<QComboBox>(*w, "CmbTypeSelect");
        // The localised presets, then the camera brands, then the size limits.
        if (presets->count() != static_cast<int>(hx::shell::TypePresetEntries().size()) + 15 + 1 ||
            presets->itemText(presets->count() - 1) != q(hx::shell::SizeLimitEntry(0, 0)))
            v.faults << "presets out of order";
        auto* types = child<QTreeWidget>(*w, "LvwTypes");
        for (int p = 0; p < presets->count(); ++p) {
            w->CmbTypeSelect_Click(p);
            QString row;
            for (int i = 0; i < types->topLevelItemCount(); ++i)
                row += types->topLevelItem(i)->text(0) + (types->topLevelItem(i)->checkState(0) == Qt::Checked ? "+ " : "- ");
            v.ticks << row;
        }
        for (int i = 0; i < types->topLevelItemCount(); ++i) v.descriptions << types->topLevelItem(i)->text(1);
        w->CmdShowScanTypes_Click();
        v.texts = widgetTexts(*w);
        w->CmdEnd_Click();
        return v;
    }

    void dutchAndGermanWindowsAreWholeAndLeaveNoEnglishText() {
        // Names, numbers and terms kept in English on purpose.
        // "Type" and "Status" are Dutch words too.
        const QStringList kept = {"", "Harvestrix", "DeepScan", "QX Adaptive", "OK", "Bytes/sector:", "MB",
                                  "Type", "Status", "Focus", "Canon", "Nikon", "Sony", "Olympus", "Fuji", "Pentax",
                                  "Sigma", "Kodak", "Minolta", "Panasonic", "Leica", "Samsung", "Casio", "Ricoh",
                                  "Hasselblad", "Rollei", "Mamiya", "CorelDRAW", "QuickTime", "OM System",
                                  "Kodak KDC", "Canon CR3", "Sony ARW", "JPEG XL"};
        const LanguageView english = viewIn(hx::shell::kLangEnglish);
        QVERIFY2(english.faults.isEmpty(), qPrintable(english.faults.join('\n')));
        for (int lang : {hx::shell::kLangDutch, hx::shell::kLangGerman}) {
            const LanguageView other = viewIn(lang);
            QVERIFY2(other.faults.isEmpty(), qPrintable(other.faults.join('\n')));
            // Every preset ticks the same rows whatever the language.
            QCOMPARE(other.ticks, english.ticks);
            QStringList untranslated;
            for (const auto& [name, texts] : other.texts) {
                const auto it = english.texts.find(name);
                if (it == english.texts.end()) continue;
                for (int i = 0; i < texts.size() && i < it->second.size(); ++i) {
                    const QString& t = texts[i];
                    bool number = false;
                    t.toDouble(&number);
                    const bool fileName = t.contains(QRegularExpression("^\\S+\\.[A-Za-z0-9]{2,4}$"));
                    if (t == it->second[i] && !number && !fileName && !kept.contains(t) &&
                        t.contains(QRegularExpression("[a-z]{2}")))
                        untranslated << name + ": " + t;
                }
            }
            // Qt's own buttons too: Yes is "Ja" in both.
            QCOMPARE(QMessageBox(QMessageBox::Question, "", "", QMessageBox::Yes).button(QMessageBox::Yes)->text(),
                     QString("&Ja"));
            untranslated.removeDuplicates();
            QVERIFY2(untranslated.isEmpty(), qPrintable(QString::number(lang) + " leaves in English:\n" + untranslated.join('\n')));
            // The whole description, in the language, not the ten-character key.
            QVERIFY(other.descriptions.contains(lang == hx::shell::kLangDutch ? "JPEG-bestand" : "JPEG-Datei"));
            for (const QString& d : other.descriptions) QVERIFY2(d == d.trimmed() && !d.contains("  "), qPrintable(d));
        }
    }

    void helpOpensALocalPageInTheUsersLanguage() {
        for (const auto& [lang, words] : std::vector<std::pair<int, QString>>{
                 {hx::shell::kLangEnglish, "failing card"}, {hx::shell::kLangDutch, "laat afweten"}}) {
            auto w = open({"--lang", std::to_string(lang)});
            const fs::path data = home_->path() / "XDG_DATA_HOME";
            fs::remove_all(data / "Harvestrix" / "Manual");  // written again in this language
            opened_.clear();
            child<QPushButton>(*w, "lblHelp")->click();
            QCOMPARE(opened_.size(), 1);
            const fs::path manual = opened_[0].toLocalFile().toStdString();
            QVERIFY2(manual.string().rfind(data.string(), 0) == 0, manual.c_str());
            const QString page = q(hx::test::ReadFile(manual));
            QVERIFY(page.contains("SmartScan"));
            QVERIFY2(page.contains(words), qPrintable(words));
            QVERIFY(boxes_->shown.empty());
            w->CmdEnd_Click();
        }
    }

    void qxAdaptiveLearnsFromAFolderAndListsTheType() {
        const fs::path samples = home_->path() / "Samples";
        for (unsigned i = 0; i < 30; ++i)
            hx::test::WriteFile(samples / ("s" + std::to_string(i) + ".hxq"),
                                hx::test::MakeLearnableSample(i, 3000 + i * 1234));
        auto w = open({}, "learn");
        // A blank answer: every file of a folder, chosen next.
        boxes_->inputs = {QString(" "), q(samples.string())};
        child<QPushButton>(*w, "CmdLearn")->click();
        QCOMPARE(child<QPushButton>(*w, "CmdLearn")->text(), QString("QX Adaptive"));
        auto* types = child<QTreeWidget>(*w, "LvwTypes");
        QTreeWidgetItem* learned = typeRow(*w, "HXQ");
        QVERIFY(learned);
        QCOMPARE(learned->text(2), QString("Adaptive"));
        QVERIFY2(learned->text(3).endsWith("%"), qPrintable(learned->text(3)));
        QCOMPARE(learned->text(4), QString("8"));  // the magic: its head
        QVERIFY(learned->text(8).toInt() >= 25);
        QCOMPARE(learned->checkState(0), Qt::Checked);
        const int samplesBefore = learned->text(8).toInt();

        // Typed types with a folder: the file search gathers them there.
        const fs::path more = home_->path() / "More" / "deeper";
        for (unsigned i = 0; i < 30; ++i)
            hx::test::WriteFile(more / ("t" + std::to_string(i) + ".hxr"), hx::test::MakeLearnableSample(50 + i, 4000 + i * 999));
        boxes_->inputs = {q("hxr " + (home_->path() / "More").string())};
        child<QPushButton>(*w, "CmdLearn")->click();
        QCOMPARE(child<QPushButton>(*w, "CmdLearn")->text(), QString("QX Adaptive"));
        QTreeWidgetItem* typed = typeRow(*w, "HXR");
        QVERIFY(typed);
        QVERIFY(typed->text(8).toInt() >= 25 && typed->text(8).toInt() <= 30);
        w->CmdEnd_Click();

        // Pressed during a scan, QX Adaptive learns the type again from the scanned card's own files.
        const fs::path mounted = home_->path() / "MountedCard";
        for (unsigned i = 0; i < 40; ++i)
            hx::test::WriteFile(mounted / ("m" + std::to_string(i) + ".hxq"),
                                hx::test::MakeLearnableSample(100 + i, 2500 + i * 777));
        const fs::path card = home_->path() / "learn-card.img";
        fs::copy_file(cardImage_, card, fs::copy_options::overwrite_existing);
        w = open({"--attach", card.string() + ",removable,mount=" + mounted.string()}, "learn");
        QCOMPARE(q(w->currentDrive()), q(card.string()));
        w->CmbTypeSelect_Click(presetIndex(*w, "All types possible"));
        bool pressed = false;
        QTimer presser;
        connect(&presser, &QTimer::timeout, [&] {
            if (pressed || !w->isBusy()) return;
            pressed = true;
            child<QPushButton>(*w, "CmdLearn")->click();
        });
        presser.start(0);
        scanWholeCard(*w);
        presser.stop();
        QVERIFY(pressed);
        types = child<QTreeWidget>(*w, "LvwTypes");
        learned = typeRow(*w, "HXQ");
        QVERIFY(learned);
        QVERIFY2(learned->text(8).toInt() > samplesBefore, qPrintable(learned->text(8)));

        // Delete on it, answered Yes: the learned type goes to the trash and leaves the list.
        types->clearSelection();
        learned->setSelected(true);
        boxes_->answers = {QMessageBox::Yes};
        types->setFocus();
        QTest::keyClick(types, Qt::Key_Delete);
        QVERIFY(boxes_->shownContaining("the Adaptive type: hxq?"));
        QVERIFY(!typeRow(*w, "HXQ"));
        w->CmdEnd_Click();
    }

    void backupMakesAnImageAndTheWKeyWipesTheCard() {
        const fs::path card = home_->path() / "wipe-me.img";
        fs::copy_file(cardImage_, card, fs::copy_options::overwrite_existing);
        hx::test::WriteFile(home_->path() / "note.txt", "on the card");
        QCOMPARE(hx::test::RunCommand("mcopy -i '" + card.string() + "' '" + (home_->path() / "note.txt").string() +
                                      "' ::NOTE.TXT"),
                 0);
        const std::string photo = hx::test::MakeTestJpeg(5, 640, 480, 85);
        hx::test::WriteFile(home_->path() / "photo.jpg", photo);
        QCOMPARE(hx::test::RunCommand("mcopy -i '" + card.string() + "' '" + (home_->path() / "photo.jpg").string() +
                                      "' ::PHOTO.JPG"),
                 0);
        auto w = open({"--attach", card.string() + ",removable,label=WIPE"}, "medium");
        QCOMPARE(q(w->currentDrive()), q(card.string()));
        const std::string before = hx::test::ReadFile(card);
        const fs::path target = home_->path() / "Images";
        fs::create_directories(target);
        boxes_->inputs = {q(target.string())};
        child<QPushButton>(*w, "CmdBackup")->click();
        fs::path image;
        for (const auto& e : fs::directory_iterator(target / "DiskImages"))
            if (e.path().extension() == ".img") image = e.path();
        QVERIFY(!image.empty());
        QVERIFY(hx::test::ReadFile(image) == before);
        QVERIFY(!w->isBusy());

        // W on the drive list, answered OK: the data area is zeros, and the card
        // is formatted again, the same kind of FAT under the same label.
        boxes_->answers = {QMessageBox::Ok};
        auto* drives = child<QComboBox>(*w, "Drive1");
        drives->setFocus();
        QTest::keyClick(drives, Qt::Key_W);
        QVERIFY(boxes_->shownContaining("filling all sectors with zero's"));
        const std::string after = hx::test::ReadFile(card);
        QCOMPARE(after.size(), before.size());
        QVERIFY(after.find("on the card") == std::string::npos);
        QVERIFY(after.compare(0x36, 8, before, 0x36, 8) == 0 || after.compare(0x52, 8, before, 0x52, 8) == 0);
        QVERIFY(q(w->caption("lblStatus")).startsWith("Formatting disk"));

        // Scan BackUp: a companion whose image is gone is refused, the next one's image is scanned.
        // (Outside the image folder: the command clears companions of missing images there first.)
        const fs::path gone = home_->path() / "Moved" / "gone.img.dat";
        hx::test::WriteFile(gone, "\"" + (target / "gone.img").string() + "\"\r\n");
        w->CmbTypeSelect_Click(presetIndex(*w, "Unlisted camera"));
        boxes_->inputs = {q(gone.string()), q(image.string() + ".dat")};
        boxes_->answers = {QMessageBox::Ok, QMessageBox::No};
        child<QPushButton>(*w, "CmdScanBackup")->click();
        QVERIFY(boxes_->shownContaining("Drive for this backup file not available."));
        QVERIFY2(foundHolds(*w, photo), qPrintable(w->foundNames().join(',')));

        // R on the Backup button writes the image back onto the wiped card.
        boxes_->answers = {QMessageBox::Ok};
        boxes_->inputs = {q(image.string())};
        auto* backup = child<QPushButton>(*w, "CmdBackup");
        backup->setFocus();
        QTest::keyClick(backup, Qt::Key_R);
        QVERIFY(boxes_->shownContaining("replacing all it holds"));
        QVERIFY(hx::test::ReadFile(card) == before);
        w->CmdEnd_Click();
    }

    void emptyCacheWithSaveFolderOffersOnlyTheFolder() {
        auto w = open({}, "empty");
        QVERIFY(fs::is_directory(w->saveFolder()));
        QVERIFY(w->foundNames().isEmpty());
        for (const auto& name : hx::shell::CacheCommands())
            QCOMPARE(child<QWidget>(*w, name.c_str())->isEnabled(), name == "CmdShowFolder");
        QCOMPARE(q(w->caption("CmdShowFolder")), QString("Explore Folder"));
        // The start page is up, the lists and the preview are not.
        auto* start = child<QTextBrowser>(*w, "txtStart");
        QVERIFY(start->isVisible());
        QVERIFY(start->toPlainText().startsWith("Get Started"));
        QVERIFY(start->toPlainText().contains("Connect your media to the computer."));
        QVERIFY(!child<QWidget>(*w, "List3")->isVisible());
        QVERIFY(!child<QWidget>(*w, "Picture1")->isVisible());

        // Without the save folder nothing of the cache commands is usable.
        fs::remove_all(w->saveFolder());
        w->EnableButtons();
        QVERIFY(!child<QWidget>(*w, "CmdShowFolder")->isEnabled());

        // A found file in the cache turns them all on.
        hx::test::WriteFile(w->cacheFolder() / "R#0000.jpg", std::string(1000, 'x'));
        w->FillCacheBrowser();
        w->EnableButtons();
        for (const auto& name : hx::shell::CacheCommands())
            QVERIFY2(child<QWidget>(*w, name.c_str())->isEnabled(), name.c_str());
        QCOMPARE(q(w->caption("CmdShowFolder")), QString("Explore Cache"));
        QCOMPARE(child<QListWidget>(*w, "List3")->count(), 1);
        w->CmdEnd_Click();
    }

    void attachedRemovableImageIsSelectedWithinTwoTicks() {
        auto w = open();
        auto* drives = child<QComboBox>(*w, "Drive1");
        const int before = drives->count();
        QVERIFY(drives->findData(q(fixedImage_.string())) >= 0);
        QVERIFY(w->currentDrive() != cardImage_.string());

        const int ticksBefore = w->watcher().ticks();
        QVERIFY(hx::platform::AttachImage(cardImage_.string() + ",removable,label=CARD"));
        // One 2 s tick notices it, one 3 s tick lets it settle and selects it.
        // Counted in ticks: a loaded machine may stretch the seconds.
        QTRY_COMPARE_WITH_TIMEOUT(q(w->currentDrive()), q(cardImage_.string()), 30000);
        QVERIFY2(w->watcher().ticks() - ticksBefore <= 2, "selected later than the second watcher tick");
        QCOMPARE(q(w->driveRecord().Drive), q(cardImage_.string()));
        QCOMPARE(drives->count(), before + 1);
        QCOMPARE(drives->currentData().toString(), q(cardImage_.string()));
        QCOMPARE(w->watcher().intervalMs(), hx::shell::DriveWatcher::kIdleMs);
        // The information panel describes the new medium.
        QVERIFY(q(w->caption("lblSpecs")).contains("CARD"));
        QCOMPARE(q(w->driveRecord().fileSystemName()), QString("FAT12"));
        w->CmdEnd_Click();
    }

    void startUpPrefersTheStoredDriveWhenTheCacheHoldsFiles() {
        {
            auto w = open({"--attach", cardImage_.string() + ",removable"}, "stored");
            QCOMPARE(q(w->currentDrive()), q(cardImage_.string()));
            // The user picks the fixed disk; it is stored at exit.
            auto* drives = child<QComboBox>(*w, "Drive1");
            drives->setCurrentIndex(drives->findData(q(fixedImage_.string())));
            w->Drive1_Change();
            QCOMPARE(q(w->currentDrive()), q(fixedImage_.string()));
            hx::test::WriteFile(w->cacheFolder() / "R#0001.jpg", "found");
            w->close();
            QVERIFY(w->hasExited());
        }
        auto w = open({"--attach", cardImage_.string() + ",removable"}, "stored");
        QCOMPARE(q(w->currentDrive()), q(fixedImage_.string()));
        w->CmdEnd_Click();

        // With an empty cache the removable medium wins over the stored drive.
        fs::remove(w->cacheFolder() / "R#0001.jpg");
        auto again = open({"--attach", cardImage_.string() + ",removable"}, "stored");
        QCOMPARE(q(again->currentDrive()), q(cardImage_.string()));
        again->CmdEnd_Click();
    }

    void exitSavesSettingsAndClearsTemporaryFiles() {
        auto w = open({}, "exit");
        const fs::path temp = w->cacheFolder() / "Temp" / "scratch.tif";
        hx::test::WriteFile(temp, "scratch");
        hx::test::WriteFile(w->cacheFolder() / "bDirEnt.dat", "entries");
        const fs::path save = w->saveFolder();
        w->resize(1100, 700);
        w->close();
        QVERIFY(w->hasExited());
        QVERIFY(!w->isVisible());
        QVERIFY(!fs::exists(temp));
        QVERIFY(!fs::exists(w->cacheFolder() / "bDirEnt.dat"));
        QVERIFY2(!fs::exists(save), "an empty save folder is removed");
        QCOMPARE(q(w->caption("CmdEnd")), QString("Closing..."));
        hx::gui::QtSettingsStore store;
        const auto stored = hx::shell::LoadSettings(store, hx::shell::ChooseRegistryRoot(store, false));
        QCOMPARE(stored.width, 1100L * 15);
        QCOMPARE(stored.height, 700L * 15);
        QCOMPARE(q(stored.startDrive), q(w->currentDrive()));
        QVERIFY(!w->currentDrive().empty());
    }

    void selfClosingBoxThatVanishesAtOnceFallsBackToPlainBoxes() {
        auto w = open({}, "boxes");
        auto& script = *boxes_;

        script.answerAfterMs = 1300;
        auto a = w->message("Saved.", "Harvestrix", {hx::shell::Buttons::OK, hx::shell::Icon::Information, 1});
        QCOMPARE(a, hx::shell::Answer::OK);
        QCOMPARE(script.shown.size(), std::size_t(1));
        QCOMPARE(script.shown[0].buttons, QStringList{"SelfClosing"});
        QVERIFY(!w->usesPlainBoxes());
        // Centred on the window.
        const QPoint off = script.shown[0].geometry.center() - w->frameGeometry().center();
        QVERIFY2(off.manhattanLength() < 40, qPrintable(QString("box off centre by %1").arg(off.manhattanLength())));

        script.answerAfterMs = 50;
        w->message("Saved again.", "Harvestrix", {hx::shell::Buttons::OK, hx::shell::Icon::Information, 1});
        QCOMPARE(script.shown.size(), std::size_t(3));
        QCOMPARE(script.shown[2].text, QString("Saved again."));
        QVERIFY(!script.shown[2].buttons.contains("SelfClosing"));
        QVERIFY(w->usesPlainBoxes());

        script.answers = {QMessageBox::No};
        QCOMPARE(w->message("Continue?", "Harvestrix", {hx::shell::Buttons::YesNoCancel, hx::shell::Icon::Question, 0}),
                 hx::shell::Answer::No);
        script.inputs = {QString("1.5-25")};
        QCOMPARE(q(w->input("Size:", "Harvestrix Scan", "0-0").value_or("")), QString("1.5-25"));
        script.inputs = {std::nullopt};
        QVERIFY(!w->input("Size:", "Harvestrix Scan", "0-0"));
        w->CmdEnd_Click();
    }

    // A card with photographs, half of them deleted again.
    fs::path makePhotoCard(const std::string& name, int megabytes, int photos) {
        return hx::test::MakePhotoCard(home_->path() / name, megabytes, photos, 1000, 1024, 768);
    }

    static int presetIndex(frmRecover& w, const char* english) {
        const auto& e = hx::shell::TypePresetEntries();
        for (std::size_t i = 0; i < e.size(); ++i)
            if (e[i].english == english) return static_cast<int>(i);
        return w.findChild<QComboBox*>("CmbTypeSelect")->findText(english);
    }

    // A motion photo among the finds: its row tells its clip, and its thumbnail carries a play mark.
    void aMotionPhotoSaysItsClipAndIsMarked() {
        const std::string clip = hx::test::MakeClip(1.5, 6);
        if (clip.empty()) QSKIP("ffmpeg cannot make an H.264 clip");
        const std::string motion = hx::test::ContainerMotionPhoto(hx::test::MakeTestJpeg(51, 640, 480), clip);
        const std::string plain = hx::test::MakeTestJpeg(52, 640, 480);
        const fs::path card = home_->path() / "phone.img";
        hx::test::WriteFile(card, hx::test::BareMedium({motion, plain}, 8192));
        auto w = open({"--attach", card.string() + ",removable,label=PHONE"}, "motion");
        scanWholeCard(*w);
        QCOMPARE(w->foundNames().size(), 2);
        int row = -1;
        for (int r = 0; r < 2; ++r)
            if (hx::test::ReadFile(w->cacheFolder() / w->foundNames()[r].toStdString()) == motion) row = r;
        QVERIFY2(row >= 0, "the motion photo is not back whole");
        auto* names = child<QListWidget>(*w, "List3");
        QVERIFY2(names->item(row)->toolTip().contains("motion photo, 1.5 s clip"), qPrintable(names->item(row)->toolTip()));
        QVERIFY(names->item(1 - row)->toolTip().isEmpty());
        child<QListWidget>(*w, "LvwFiles")->setCurrentRow(row);
        QVERIFY(child<QLabel>(*w, "lblInfo")->text().contains("motion photo, 1.5 s clip"));
        // Under its preview a button plays the clip, and then shows the photo again.
        auto* clipButton = child<QPushButton>(*w, "cmdClip");
        auto* picture = child<QLabel>(*w, "Picture1");
        QVERIFY(!clipButton->isHidden());
        QCOMPARE(clipButton->text(), QString("Show the clip"));
        const QImage photoShown = picture->pixmap().toImage();
        QTest::mouseClick(clipButton, Qt::LeftButton);
        QCOMPARE(child<QLabel>(*w, "lblPictureMode")->text(), QString("Playing the clip"));
        QCOMPARE(clipButton->text(), QString("Show the photo"));
        const QImage firstShown = picture->pixmap().toImage();
        QVERIFY(!firstShown.isNull() && firstShown != photoShown);
        // It plays: the pictures that follow are other pictures (the test clip's
        // counter runs), and after its last, its first comes round again.
        std::set<qint64> seen{firstShown.cacheKey()};
        QImage other;
        QTRY_VERIFY((other = picture->pixmap().toImage()) != firstShown);
        QVERIFY(other.size() == firstShown.size());
        QTRY_VERIFY_WITH_TIMEOUT(picture->pixmap().toImage() == firstShown, 15000);
        QTest::mouseClick(clipButton, Qt::LeftButton);
        QCOMPARE(picture->pixmap().toImage(), photoShown);
        QTest::qWait(200);  // the clip no longer plays over the photo
        QCOMPARE(picture->pixmap().toImage(), photoShown);
        QCOMPARE(clipButton->text(), QString("Show the clip"));
        child<QListWidget>(*w, "LvwFiles")->setCurrentRow(1 - row);
        QVERIFY(clipButton->isHidden());
        QVERIFY(!w->thumbnailsShown());
        w->CmdShowThumbs_Click();
        auto* thumbs = child<QListWidget>(*w, "LvwFiles");
        QTRY_VERIFY(!thumbs->item(0)->icon().isNull() && !thumbs->item(1)->icon().isNull());
        // The mark's white triangle lies at the middle of a disc in the lower left corner.
        auto marked = [&](int r) {
            const QImage icon = thumbs->item(r)->icon().pixmap(thumbs->iconSize()).toImage();
            const int d = std::max(12, std::min(icon.width(), icon.height()) / 4);
            return icon.pixelColor(4 + d / 2, icon.height() - 4 - d / 2) == QColor(Qt::white);
        };
        QVERIFY(marked(row));
        QVERIFY(!marked(1 - row));
        w->CmdShowThumbs_Click();  // the list again, as the next window expects
        w->CmdEnd_Click();
    }

    // A clip among the finds plays in the preview, and stops to its first picture again.
    void aFoundClipPlaysInThePreview() {
        const std::string clip = hx::test::MakeClip(1.0, 4);
        if (clip.empty()) QSKIP("ffmpeg cannot make an H.264 clip");
        const fs::path card = home_->path() / "camcorder.img";
        hx::test::WriteFile(card, hx::test::BareMedium({clip}, 8192));
        auto w = open({"--attach", card.string() + ",removable,label=CAM"}, "clips");
        scanWholeCard(*w);
        QCOMPARE(w->foundNames().size(), 1);
        QCOMPARE(hx::test::ReadFile(w->cacheFolder() / w->foundNames()[0].toStdString()), clip);
        child<QListWidget>(*w, "LvwFiles")->setCurrentRow(0);
        auto* clipButton = child<QPushButton>(*w, "cmdClip");
        auto* picture = child<QLabel>(*w, "Picture1");
        QCOMPARE(clipButton->text(), QString("Play the clip"));
        const QImage first = picture->pixmap().toImage();
        QVERIFY(!first.isNull());
        QTest::mouseClick(clipButton, Qt::LeftButton);
        QCOMPARE(child<QLabel>(*w, "lblPictureMode")->text(), QString("Playing the clip"));
        QCOMPARE(clipButton->text(), QString("Stop the clip"));
        QTRY_VERIFY(picture->pixmap().toImage().size() == first.size() && picture->pixmap().toImage() != first);
        QTest::mouseClick(clipButton, Qt::LeftButton);
        QCOMPARE(picture->pixmap().toImage(), first);
        QCOMPARE(clipButton->text(), QString("Play the clip"));
        w->CmdEnd_Click();
    }

    void aFailingCardIsScannedToItsEndAndTheDamagedFindSaysSo() {
        const fs::path card = makePhotoCard("failing.img", 32, 4);
        QVERIFY(!card.empty());
        // A sector inside the first photo fails, as on a dying card.
        const std::string bytes = hx::test::ReadFile(card);
        std::size_t photo = bytes.find("\xFF\xD8\xFF");
        while (photo != std::string::npos && photo % 512 != 0) photo = bytes.find("\xFF\xD8\xFF", photo + 1);
        QVERIFY(photo != std::string::npos);
        hx::test::FaultyCard faulty(card, home_->path());
        if (!faulty.ok()) QSKIP(faulty.error().c_str());
        faulty.setRules("bad " + std::to_string(photo / 512 + 20) + "\n");
        auto w = open({"--attach", faulty.file().string() + ",removable,label=FAILING"}, "failing");
        w->CmbTypeSelect_Click(presetIndex(*w, "Unlisted camera"));
        scanWholeCard(*w);
        QCOMPARE(w->lastScanOutcome(), static_cast<int>(hx::scan::ScanOutcome::Finished));
        QVERIFY(w->foundNames().size() >= 4);
        QVERIFY2(child<QLabel>(*w, "lblStatus")->text().contains("1 sectors could not be read"),
                 qPrintable(child<QLabel>(*w, "lblStatus")->text()));
        // The find that holds it says so beside its size.
        auto* list = child<QListWidget>(*w, "LvwFiles");
        bool told = false;
        for (int r = 0; r < list->count() && !told; ++r) {
            list->setCurrentRow(r);
            told = child<QLabel>(*w, "lblInfo")->text().contains("damaged: 1 sectors unreadable (zeros), the first at byte 10240");
            // Its row in the list says so too, the others nothing.
            auto* names = child<QListWidget>(*w, "List3");
            QCOMPARE(names->item(r)->toolTip().contains("damaged: 1 sectors unreadable"), told);
            if (!told) continue;
            // It is the card's photo, with zeros where the sector failed.
            const std::string found = hx::test::ReadFile(w->cacheFolder() / w->foundNames()[r].toStdString());
            std::string want = bytes.substr(photo, found.size());
            want.replace(10240, 512, std::string(512, '\0'));
            QVERIFY(found == want);
        }
        QVERIFY(told);
        w->CmdEnd_Click();
    }

    void scanFindsThePhotosAndStopResumes() {
        const fs::path card = makePhotoCard("photos.img", 32, 6);
        QVERIFY(!card.empty());
        auto w = open({"--attach", card.string() + ",removable,label=PHOTOS"}, "scan");
        QCOMPARE(q(w->currentDrive()), q(card.string()));
        auto* types = child<QTreeWidget>(*w, "LvwTypes");
        QVERIFY(types->topLevelItemCount() > 20);
        w->CmbTypeSelect_Click(presetIndex(*w, "Unlisted camera"));
        const auto presetTypes = hx::formats::PresetTypes("Unlisted camera");
        const std::set<std::string> unlisted(presetTypes.begin(), presetTypes.end());
        QVERIFY(unlisted.count("JPG") && unlisted.count("TIF") && !unlisted.count("CR2"));
        int checked = 0;
        for (int i = 0; i < types->topLevelItemCount(); ++i)
            if (types->topLevelItem(i)->checkState(0) == Qt::Checked) {
                ++checked;
                QVERIFY(unlisted.contains(types->topLevelItem(i)->text(0).toStdString()));
            }
        QVERIFY(checked > 0);

        // The scan button stops its own scan at the next check.
        auto* scanButton = child<QPushButton>(*w, "CmdScan");
        QString captionWhileBusy;
        bool driveListWhileBusy = true;
        QTimer stopper;
        connect(&stopper, &QTimer::timeout, [&] {
            if (!w->isBusy()) return;
            captionWhileBusy = scanButton->text();
            driveListWhileBusy = child<QWidget>(*w, "Drive1")->isEnabled();
            stopper.stop();
            scanButton->click();
        });
        stopper.start(0);
        boxes_->answers = {QMessageBox::No};  // SmartScan offered: no, the whole card
        scanButton->click();
        QCOMPARE(captionWhileBusy, QString("Stop"));
        QVERIFY(!driveListWhileBusy);
        QCOMPARE(w->lastScanOutcome(), static_cast<int>(hx::scan::ScanOutcome::Stopped));
        QCOMPARE(scanButton->text(), QString("Scan"));
        QVERIFY(child<QWidget>(*w, "Drive1")->isEnabled());
        const int foundAtStop = w->foundNames().size();

        // The next press offers to resume, and the resumed scan finds them all.
        boxes_->answers = {QMessageBox::No, QMessageBox::Yes};  // whole card, then resume
        scanButton->click();
        QVERIFY(boxes_->shownContaining("was interrupted"));
        QCOMPARE(w->lastScanOutcome(), static_cast<int>(hx::scan::ScanOutcome::Finished));
        QVERIFY(w->foundNames().size() >= 6);
        QVERIFY(w->foundNames().size() >= foundAtStop);
        QCOMPARE(child<QListWidget>(*w, "List3")->count(), w->foundNames().size());
        for (const QString& name : w->foundNames()) {
            // Named R#NNNN, or by the card's own listing where a listed file starts.
            QVERIFY2(name.startsWith("R#") || name.endsWith(".jpg", Qt::CaseInsensitive), qPrintable(name));
            QVERIFY(fs::file_size(w->cacheFolder() / name.toStdString()) > 10000);
        }
        for (const auto& name : hx::shell::CacheCommands())
            QVERIFY2(child<QWidget>(*w, name.c_str())->isEnabled(), name.c_str());
        QCOMPARE(q(w->caption("CmdShowFolder")), QString("Explore Cache"));
        // The first find is previewed.
        QVERIFY(child<QLabel>(*w, "Picture1")->isVisible());
        QVERIFY(!child<QLabel>(*w, "Picture1")->pixmap().isNull());
        w->CmdEnd_Click();
    }

    void endDuringAScanStopsItAndThenCloses() {
        const fs::path card = makePhotoCard("end.img", 48, 4);
        QVERIFY(!card.empty());
        auto w = open({"--attach", card.string() + ",removable"}, "end");
        w->CmbTypeSelect_Click(presetIndex(*w, "All picture types"));
        QString endCaption;
        bool scanStillBusy = false;
        QTimer ender;
        connect(&ender, &QTimer::timeout, [&] {
            if (!w->isBusy()) return;
            ender.stop();
            child<QPushButton>(*w, "CmdEnd")->click();
            endCaption = child<QPushButton>(*w, "CmdEnd")->text();
            scanStillBusy = w->isBusy();
        });
        ender.start(0);
        scanWholeCard(*w);
        QVERIFY2(scanStillBusy, "End does not close in the middle of the scan");
        QCOMPARE(endCaption, QString("Still busy. Finishing"));
        QCOMPARE(w->lastScanOutcome(), static_cast<int>(hx::scan::ScanOutcome::Stopped));
        QTRY_VERIFY_WITH_TIMEOUT(w->hasExited(), 15000);
        QVERIFY(!w->isVisible());
        // The stop left the scan resumable.
        hx::test::ScriptedUi ui;
        hx::scan::ScanContext state(ui);
        QVERIFY(hx::scan::LoadScanState(w->cacheFolder(), state) == hx::scan::ScanStateLoad::Loaded);
        QVERIFY(state.resumeUnit > 0);
        QCOMPARE(q(state.resumeDrive), q(card.string()));
    }

    void findsAreListedShownAndDrawnWhileTheScanRuns() {
        const fs::path card = makePhotoCard("live.img", 32, 6);
        QVERIFY(!card.empty());
        auto w = open({"--attach", card.string() + ",removable"}, "live");
        w->CmbTypeSelect_Click(presetIndex(*w, "Unlisted camera"));
        auto* list = child<QListWidget>(*w, "List3");
        int listedWhileBusy = 0;
        connect(list->model(), &QAbstractItemModel::rowsInserted, [&] { listedWhileBusy += w->isBusy(); });
        // The first find is looked at before the scan ends.
        bool previewedWhileBusy = false;
        QTimer looker;
        connect(&looker, &QTimer::timeout, [&] {
            if (!w->isBusy() || list->count() == 0 || previewedWhileBusy) return;
            list->setCurrentRow(0);
            previewedWhileBusy = !child<QLabel>(*w, "Picture1")->pixmap().isNull();
        });
        looker.start(0);
        scanWholeCard(*w);
        looker.stop();
        QVERIFY(w->foundNames().size() >= 6);
        QCOMPARE(listedWhileBusy, w->foundNames().size());
        QVERIFY(previewedWhileBusy);
        QVERIFY(child<QPlainTextEdit>(*w, "txtExif")->toPlainText() != "ExifInfo\n");

        // With the thumbnails shown, a new scan draws each find's thumbnail as it comes.
        w->CmdShowThumbs_Click();
        auto* thumbs = child<QListWidget>(*w, "LvwFiles");
        QVERIFY(thumbs->isVisible());
        int drawnWhileBusy = 0;
        QTimer counter;
        connect(&counter, &QTimer::timeout, [&] {
            if (!w->isBusy()) return;
            int drawn = 0;
            for (int r = 0; r < thumbs->count(); ++r) drawn += !thumbs->item(r)->icon().isNull();
            drawnWhileBusy = std::max(drawnWhileBusy, drawn);
        });
        counter.start(0);
        boxes_->answers = {QMessageBox::Yes, QMessageBox::No, QMessageBox::No};
        child<QPushButton>(*w, "CmdScan")->click();
        counter.stop();
        QCOMPARE(w->lastScanOutcome(), static_cast<int>(hx::scan::ScanOutcome::Finished));
        QVERIFY(thumbs->count() >= 6);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (int r = 0; r < thumbs->count(); ++r)
                    if (thumbs->item(r)->icon().isNull()) return false;
                return true;
            }(),
            10000);
        qInfo("thumbnails drawn while the scan ran: %d of %d", drawnWhileBusy, thumbs->count());
        w->CmdShowThumbs_Click();  // the list again: the view chosen is kept for the next start
        QVERIFY(!thumbs->isVisible());
        w->CmdEnd_Click();
    }

    void saveAllMovesTheFoundFilesAndSaveAsTakesTheExtension() {
        const fs::path card = makePhotoCard("save.img", 32, 4);
        QVERIFY(!card.empty());
        auto w = open({"--attach", card.string() + ",removable"}, "save");
        w->CmbTypeSelect_Click(presetIndex(*w, "Unlisted camera"));
        scanWholeCard(*w);
        QVERIFY(w->foundNames().size() >= 4);
        const QString first = w->foundNames().front();
        const std::string firstBytes = hx::test::ReadFile(w->cacheFolder() / first.toStdString());

        // Save As of the first file, typed with another extension, through the chooser's own dialogs.
        auto* list = child<QListWidget>(*w, "List3");
        list->clearSelection();
        list->item(0)->setSelected(true);
        const fs::path target = home_->path() / "Saved";
        fs::create_directories(target);
        boxes_->inputs = {q((target / "holiday.png").string())};
        child<QPushButton>(*w, "CmdSaveAs")->click();
        // The found file's own extension, as it was named: holiday.JPG for IMG_1001.JPG.
        const std::string saved = "holiday" + fs::path(first.toStdString()).extension().string();
        QVERIFY(hx::test::ReadFile(target / saved) == firstBytes);
        QVERIFY(!w->foundNames().contains(first));

        // Save All: the chooser (frmDirChoose) is asked, the files leave the
        // cache into folders of the days they were taken ("By date" is on).
        QVERIFY(child<QCheckBox>(*w, "ChkByDate")->isChecked());
        const int left = w->foundNames().size();
        boxes_->inputs = {q(target.string())};
        child<QPushButton>(*w, "CmdSaveAll")->click();
        QCOMPARE(w->foundNames().size(), 0);
        int savedAll = 0;
        for (const auto& e : fs::recursive_directory_iterator(target)) {
            if (!e.is_regular_file() || e.path().filename().string().rfind("holiday", 0) == 0) continue;
            ++savedAll;
            const std::string day = e.path().parent_path().filename().string();
            QVERIFY2(day.size() == 10 && day[4] == '-' && day[7] == '-', e.path().c_str());
        }
        QCOMPARE(savedAll, left);
        QCOMPARE(child<QPushButton>(*w, "CmdSaveAll")->text(), QString("Save All"));
        QVERIFY(!w->isBusy());
        w->CmdEnd_Click();
    }

    void findFilesAndFolderInfoFromTheToolsMenu() {
        auto w = open({}, "search");
        const fs::path tree = home_->path() / "SearchTree";
        hx::test::WriteFile(tree / "DCIM" / "IMG_1.JPG", "x");
        hx::test::WriteFile(tree / "DCIM" / "more" / "img_2.jpg", "y");
        hx::test::WriteFile(tree / "notes.txt", "z");
        boxes_->inputs = {q("*.jpg " + tree.string())};
        w->findChild<QAction*>("mnuFindFiles")->trigger();
        auto* search = w->findChild<QDialog*>("frmSearchDrives");
        QVERIFY(search && search->isVisible());
        auto* results = search->findChild<QListWidget*>("List1");
        QCOMPARE(results->count(), 2);
        QCOMPARE(results->item(0)->text(), q((tree / "DCIM" / "IMG_1.JPG").string()));
        auto* status = search->findChild<QLabel*>("lblStatus");
        QCOMPARE(status->text(), QString("2 files found matching \"*.jpg\""));

        boxes_->inputs = {q(tree.string())};
        w->findChild<QAction*>("mnuFolderInfo")->trigger();
        QVERIFY2(status->text().contains("Total folders: 2") && status->text().contains("Total files: 3"),
                 qPrintable(status->text()));
        w->CmdEnd_Click();
    }

    void recoverEverythingWritesTheFilesAndTheReport() {
        const fs::path card = makePhotoCard("recover.img", 32, 4);
        QVERIFY(!card.empty());
        auto w = open({"--attach", card.string() + ",removable"}, "recover");
        const fs::path target = home_->path() / "Everything";
        boxes_->inputs = {q(target.string())};
        child<QPushButton>(*w, "CmdRecoverAll")->click();
        QVERIFY(boxes_->shownContaining("files undeleted"));
        QCOMPARE(w->lastRecoverReport(), target / "report.html");
        QVERIFY(fs::exists(target / "report.json"));
        // The deleted photos (their first letter lost with the short name) came back whole.
        const std::string photo = hx::test::MakeTestJpeg(2, 1024, 768, 90);
        // By the day it was taken, as the checked "By date" asks.
        QVERIFY(child<QCheckBox>(*w, "ChkByDate")->isChecked());
        std::string day = hx::viewing::SamplePhotoDate(2).substr(0, 10);
        day[4] = day[7] = '-';
        bool found = false;
        for (const auto& e : fs::recursive_directory_iterator(target))
            found = found || (e.is_regular_file() && e.path().parent_path() == target / day.substr(0, 4) / day &&
                              hx::test::ReadFile(e.path()) == photo);
        QVERIFY(found);
        QVERIFY(!w->isBusy());
        QCOMPARE(child<QPushButton>(*w, "CmdRecoverAll")->text(), QString("Recover everything…"));
        w->CmdEnd_Click();
    }

    void aReadTheSystemEndedIsFollowedUpAtTheNextStart() {
        const fs::path card = makePhotoCard("damaged.img", 32, 2);
        QVERIFY(!card.empty());
        {
            // As a scan of the card leaves the settings when the system ends it.
            hx::gui::QtSettingsStore store;
            hx::shell::SaveSetting(store, hx::shell::kLastDrive, card.string());
            hx::shell::SaveSetting(store, hx::shell::kLastCluster, "33");
            hx::shell::SaveSetting(store, hx::shell::kLastStage, "0");
        }
        // Yes to the recovery, OK to stage 1, No to SmartScan: the whole card in damaged mode.
        boxes_->answers = {QMessageBox::Yes, QMessageBox::Ok, QMessageBox::No};
        auto w = open({"--attach", card.string() + ",removable"}, "damaged");
        QTRY_VERIFY_WITH_TIMEOUT(boxes_->shownContaining("Finished."), 30000);
        QVERIFY(boxes_->shownContaining("Stage 1:  Recovering files from sectors until probably"));
        QVERIFY(child<QCheckBox>(*w, "ChkDamaged")->isChecked());
        QVERIFY2(foundHolds(*w, hx::test::MakeTestJpeg(1, 1024, 768, 90)), qPrintable(w->foundNames().join(',')));
        hx::gui::QtSettingsStore store;
        QCOMPARE(q(hx::shell::GetSetting(store, hx::shell::kLastCluster)), QString("0"));
        QCOMPARE(q(hx::shell::GetSetting(store, hx::shell::kLastStage)), QString("0"));
        w->CmdEnd_Click();
    }

    void quickUndeleteListsTheDeletedPhotos() {
        const fs::path card = makePhotoCard("undelete.img", 32, 4);
        QVERIFY(!card.empty());
        auto w = open({"--attach", card.string() + ",removable"}, "undelete");
        child<QPushButton>(*w, "CmdQuickUndelete")->click();
        auto* listed = child<QListWidget>(*w, "List1");
        auto* deleted = child<QListWidget>(*w, "List2");
        QVERIFY(listed->isVisible());
        QVERIFY(deleted->count() >= 4);
        QVERIFY(deleted->item(0)->text().startsWith("Deleted on"));
        QStringList rows;
        for (int i = 2; i < deleted->count(); ++i) rows << deleted->item(i)->text();
        QVERIFY2(rows.join(' ').contains("1002"), qPrintable(rows.join('|')));
        QVERIFY(rows.join(' ').contains("1004"));
        QVERIFY(listed->count() >= 4);
        // The header row stands for the first entry, whose facts are shown.
        deleted->setCurrentRow(0);
        QCOMPARE(deleted->currentRow(), 2);
        QVERIFY(child<QPlainTextEdit>(*w, "txtExif")->toPlainText().contains("Recover"));
        // A deleted photo is drawn from its copy in the temporary folder.
        QVERIFY(!child<QLabel>(*w, "Picture1")->pixmap().isNull());
        QCOMPARE(child<QLabel>(*w, "lblPictureMode")->text(), QString("Display Full File"));
        QVERIFY(child<QWidget>(*w, "CmdScan")->isEnabled());
        // The right button shows the properties of the copy in the temporary folder;
        // a double click opens it with the application the desktop names.
        const std::string copyName = deleted->item(2)->text().section(' ', 0, 0).toStdString() + ".JPG";
        boxes_->shown.clear();
        emit deleted->customContextMenuRequested(deleted->visualItemRect(deleted->item(2)).center());
        QVERIFY(boxes_->shownContaining(q(copyName)));
        opened_.clear();
        emit deleted->itemDoubleClicked(deleted->item(2));
        QCOMPARE(opened_.size(), 1);
        const fs::path copy = opened_[0].toLocalFile().toStdString();
        QCOMPARE(copy.filename().string(), copyName);
        QCOMPARE(hx::test::ReadFile(copy), hx::test::MakeTestJpeg(2, 1024, 768, 90));
        // A listed file on a card that is not mounted: read from the card.
        opened_.clear();
        emit listed->itemDoubleClicked(listed->item(2));
        QCOMPARE(opened_.size(), 1);
        QCOMPARE(hx::test::ReadFile(opened_[0].toLocalFile().toStdString()), hx::test::MakeTestJpeg(1, 1024, 768, 90));
        w->CmdEnd_Click();
    }

    void browseListsAFolderAsFoundFiles() {
        auto w = open({}, "browse");
        const fs::path pictures = home_->path() / "Pictures";
        hx::test::WriteFile(pictures / "b.jpg", hx::test::MakeTestJpeg(3, 320, 240, 80));
        hx::test::WriteFile(pictures / "a.jpg", hx::test::MakeTestJpeg(2, 320, 240, 80));
        // The folder chooser: the folder typed into its path, then OK.
        boxes_->inputs = {q(pictures.string())};
        child<QPushButton>(*w, "CmdBrowse")->click();
        QCOMPARE(q(w->activeFolder().string()), q(pictures.string()) + "/");
        QCOMPARE(w->foundNames(), QStringList({"a.jpg", "b.jpg"}));
        QCOMPARE(q(w->caption("CmdShowThumbs")), QString("FileList Scan"));
        QVERIFY(!child<QLabel>(*w, "Picture1")->pixmap().isNull());
        QVERIFY(child<QPlainTextEdit>(*w, "txtExif")->toPlainText().contains("ImageWidth  320"));
        w->CmdEnd_Click();
    }

    void thePreviewTurnsSharpensAndShowsItselfFullScreen() {
        auto w = open({}, "filters");
        const fs::path pictures = home_->path() / "Filters";
        hx::test::WriteFile(pictures / "a.jpg", hx::test::MakeTestJpeg(7, 320, 240, 80));
        boxes_->inputs = {q(pictures.string())};
        child<QPushButton>(*w, "CmdBrowse")->click();
        auto* picture = child<QLabel>(*w, "Picture1");
        auto* list = child<QListWidget>(*w, "ListFilters");
        const QImage plain = picture->pixmap().toImage();
        QVERIFY(plain.width() > plain.height());
        // The right button on the preview shows the list inside the window.
        emit picture->customContextMenuRequested(QPoint(picture->width() - 2, picture->height() - 2));
        QVERIFY(list->isVisible());
        QVERIFY(w->rect().contains(list->geometry()));
        auto choose = [&](const QString& item) {
            const auto found = list->findItems(item, Qt::MatchExactly);
            QCOMPARE(found.size(), 1);
            emit list->itemClicked(found[0]);
            QVERIFY(!list->isVisible());
        };
        choose("Rotate 90  CW");
        const QImage turned = picture->pixmap().toImage();
        QVERIFY(turned.height() > turned.width());
        choose("SharpenMore");
        const QImage sharpened = picture->pixmap().toImage();
        QCOMPARE(sharpened.size(), turned.size());
        QVERIFY(sharpened != turned);
        choose("Reset Filter");
        QCOMPARE(picture->pixmap().toImage(), turned);
        choose("Reset Rotation");
        QCOMPARE(picture->pixmap().toImage(), plain);

        // A double click shows it over the whole screen; "Copy Screen!" saves a
        // bitmap under the typed name with .bmp; Escape closes the view.
        QTest::mouseDClick(picture, Qt::LeftButton);
        auto* full = w->findChild<hx::gui::FrmFullPicture*>("FrmFullPicture");
        QVERIFY(full);
        QVERIFY(full->isVisible());
        boxes_->inputs = {q((pictures / "copy.jpg").string())};
        full->List1_Click(2);
        QCOMPARE(q(full->savedCopy()), q((pictures / "copy.bmp").string()));
        QCOMPARE(QString::fromStdString(hx::test::ReadFile(pictures / "copy.bmp").substr(0, 2)), QString("BM"));
        QVERIFY(!fs::exists(pictures / "copy.jpg"));
        QPointer<hx::gui::FrmFullPicture> watched(full);
        QTest::keyClick(full, Qt::Key_Escape);
        QTRY_VERIFY(watched.isNull() || !watched->isVisible());
        w->CmdEnd_Click();
    }

    void rawAndHeicPhotosShowTheirPictures() {
        auto w = open({}, "modern");
        const fs::path pictures = home_->path() / "Modern";
        hx::test::WriteFile(pictures / "a.raf", hx::test::MakeRaf(hx::test::MakeTestJpeg(4, 320, 240, 80), 20000, 1));
        const bool heif = hx::test::HaveTool("heif-enc");
        if (heif) {
            hx::test::WriteFile(pictures / "src.jpg", hx::test::MakeTestJpeg(5, 320, 240, 80));
            QCOMPARE(hx::test::RunCommand("heif-enc -q 60 '" + (pictures / "src.jpg").string() + "' -o '" +
                                          (pictures / "b.heic").string() + "'"),
                     0);
            fs::remove(pictures / "src.jpg");
        }
        boxes_->inputs = {q(pictures.string())};
        child<QPushButton>(*w, "CmdBrowse")->click();
        QCOMPARE(w->foundNames().size(), heif ? 2 : 1);
        // The raw's own preview, shown as such.
        QVERIFY(!child<QLabel>(*w, "Picture1")->pixmap().isNull());
        QCOMPARE(child<QLabel>(*w, "lblPictureMode")->text(), QString("Display Embedded Thumb"));
        // Both in the thumbnail list.
        w->CmdShowThumbs_Click();
        auto* thumbs = child<QListWidget>(*w, "LvwFiles");
        QCOMPARE(thumbs->count(), w->foundNames().size());
        for (int i = 0; i < thumbs->count(); ++i) QVERIFY2(!thumbs->item(i)->icon().isNull(), qPrintable(w->foundNames()[i]));
        // Their thumbnail files go to the cache, never into the folder browsed.
        QVERIFY(!fs::exists(pictures / "Thumbs"));
        // Made again at a new width; a width past 300 is not taken.
        auto* width = child<QLineEdit>(*w, "TxtWidth");
        width->setText("60");
        child<QPushButton>(*w, "CmdRenderWidth")->click();
        QCOMPARE(thumbs->iconSize().width(), 60);
        for (int i = 0; i < thumbs->count(); ++i) QVERIFY(!thumbs->item(i)->icon().isNull());
        width->setText("500");
        child<QPushButton>(*w, "CmdRenderWidth")->click();
        QCOMPARE(width->text(), QString("60"));
        if (heif) {
            child<QListWidget>(*w, "List3")->setCurrentRow(1);
            QVERIFY(!child<QLabel>(*w, "Picture1")->pixmap().isNull());
            QVERIFY(child<QPlainTextEdit>(*w, "txtExif")->toPlainText().contains("ImageWidth  320"));
        }

        // A click on the mode asks for the whole raw: the converter decodes it in full.
        const fs::path converter = home_->path() / "converter.sh";
        hx::test::WriteFile(converter, "#!/bin/sh\n[ \"$3\" = -w ] && convert -size 1600x1200 gradient:red-blue tif:-\n");
        fs::permissions(converter, fs::perms::owner_all);
        ::setenv("HARVESTRIX_RAW_CONVERTER", converter.c_str(), 1);
        child<QListWidget>(*w, "List3")->setCurrentRow(0);
        auto* mode = child<QLabel>(*w, "lblPictureMode");
        QCOMPARE(mode->text(), QString("Display Embedded Thumb"));
        QTest::mouseClick(mode, Qt::LeftButton);
        ::unsetenv("HARVESTRIX_RAW_CONVERTER");
        QCOMPARE(mode->text(), QString("Display Full File"));
        // A left click on the picture shows it at full size around that point, the next whole again.
        auto* picture = child<QLabel>(*w, "Picture1");
        const QSize fitted = picture->pixmap().size();
        QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(picture->width() / 4, picture->height() / 2));
        QVERIFY(w->pictureZoomed());
        QVERIFY(picture->pixmap().width() > fitted.width() || picture->pixmap().height() > fitted.height());
        QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(picture->width() / 4, picture->height() / 2));
        QVERIFY(!w->pictureZoomed());
        QCOMPARE(picture->pixmap().size(), fitted);
        w->CmdEnd_Click();
    }

    void deleteMovesFilesWithoutAThumbnailToTheTrashAndTheListsStayInStep() {
        auto w = open({}, "remove");
        const fs::path cache = w->cacheFolder();
        const std::vector<std::string> pictures = {"R#0001.jpg", "R#0003.jpg", "R#0005.jpg"};
        const std::vector<std::string> others = {"R#0002.txt", "R#0004.bin"};
        for (std::size_t i = 0; i < pictures.size(); ++i)
            hx::test::WriteFile(cache / pictures[i], hx::test::MakeTestJpeg(static_cast<int>(i), 160, 120, 80));
        for (const auto& name : others) hx::test::WriteFile(cache / name, "not a picture " + name);
        w->FillCacheBrowser();
        QCOMPARE(w->foundNames().size(), 5);
        auto* list = child<QListWidget>(*w, "List3");
        auto* thumbs = child<QListWidget>(*w, "LvwFiles");
        // To the thumbnails (an earlier run may have left them shown): makes
        // the thumbnail files of the pictures.
        if (w->thumbnailsShown()) w->CmdShowThumbs_Click();
        w->CmdShowThumbs_Click();
        QVERIFY(thumbs->isVisible());
        // A file no picture can be made of shows its icon and says why.
        list->setCurrentRow(1);
        QCOMPARE(child<QLabel>(*w, "lblPictureMode")->text(), QString("Display System Icon"));
        QVERIFY(q(w->caption("lblStatus")).startsWith("Not able to render the TXT file type."));
        QVERIFY(q(w->caption("lblStatus")).contains("No thumbnailer of the desktop is associated."));
        // With a thumbnailer registered for the type, the desktop's thumbnail is shown.
        const fs::path thumbnailer = registerTextThumbnailer("page.png", QColor(250, 250, 240));
        QVERIFY(!thumbnailer.empty());
        list->setCurrentRow(3);
        QCOMPARE(child<QLabel>(*w, "lblPictureMode")->text(), QString("Display System Thumb"));
        QCOMPARE(child<QLabel>(*w, "Picture1")->pixmap().toImage().pixelColor(5, 5), QColor(250, 250, 240));
        QVERIFY(!q(w->caption("lblStatus")).contains("thumb"));
        fs::remove(thumbnailer);
        list->clearSelection();
        list->item(0)->setSelected(true);

        // Not the selection: the files without a thumbnail.
        boxes_->answers = {QMessageBox::No, QMessageBox::Yes};
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Delete);
        QVERIFY(boxes_->shownContaining("Move all selected files to the Trash?"));
        QVERIFY(boxes_->shownContaining("Move all files without a thumbnail to the Trash?"));
        QStringList expected;
        for (const auto& name : pictures) expected << q(name);
        QCOMPARE(w->foundNames(), expected);
        QCOMPARE(list->count(), expected.size());
        QCOMPARE(thumbs->count(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(list->item(i)->text(), expected[i]);
            QCOMPARE(thumbs->item(i)->text(), QString(expected[i]).replace("R#", "File "));
            QVERIFY(fs::exists(cache / expected[i].toStdString()));
        }
        // They can be put back: the user's trash holds them.
        const fs::path trash = home_->path() / "XDG_DATA_HOME" / "Trash" / "files";
        for (const auto& name : others) {
            QVERIFY(!fs::exists(cache / name));
            QVERIFY2(fs::exists(trash / name), name.c_str());
        }

        // Yes on the first question: the selected file and its thumbnail go.
        list->clearSelection();
        list->item(1)->setSelected(true);
        boxes_->answers = {QMessageBox::Yes};
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(w->foundNames(), QStringList({q(pictures[0]), q(pictures[2])}));
        QCOMPARE(thumbs->count(), 2);
        QVERIFY(fs::exists(trash / pictures[1]));
        QVERIFY(fs::exists(trash / "0003jpg.jpg"));
        w->CmdEnd_Click();
    }

    void aFileThatIsNoPictureGetsTheDesktopsThumbnailInTheGrid() {
        auto w = open({}, "desktop-thumbs");
        const fs::path folder = home_->path() / "Notes";
        hx::test::WriteFile(folder / "a.jpg", hx::test::MakeTestJpeg(4, 320, 240, 80));
        hx::test::WriteFile(folder / "b.txt", "a note\n");
        hx::test::WriteFile(folder / "c.txt", "another note\n");
        const fs::path thumbnailer = registerTextThumbnailer("blue.png", QColor(20, 120, 220));
        QVERIFY(!thumbnailer.empty());
        boxes_->inputs = {q(folder.string())};
        child<QPushButton>(*w, "CmdBrowse")->click();
        if (w->thumbnailsShown()) w->CmdShowThumbs_Click();
        w->CmdShowThumbs_Click();
        fs::remove(thumbnailer);
        auto* thumbs = child<QListWidget>(*w, "LvwFiles");
        QCOMPARE(thumbs->count(), 3);
        for (int row : {1, 2}) {
            const QImage icon = thumbs->item(row)->icon().pixmap(thumbs->iconSize()).toImage();
            QVERIFY(!icon.isNull());
            const QColor c = icon.pixelColor(icon.width() / 2, icon.height() / 2);
            QVERIFY2(std::abs(c.blue() - 220) < 12 && std::abs(c.red() - 20) < 12, qPrintable(c.name()));
        }
        // The right button on a thumbnail: the picture filters, inside the preview.
        auto* filters = child<QListWidget>(*w, "ListFilters");
        emit thumbs->customContextMenuRequested(thumbs->visualItemRect(thumbs->item(0)).center());
        QVERIFY(filters->isVisible());
        const QWidget* preview = child<QWidget>(*w, "previewPane");
        const QRect inside(preview->mapTo(w.get(), QPoint(0, 0)), preview->size());
        QVERIFY2(inside.contains(filters->geometry()), qPrintable(QString("%1,%2").arg(filters->x()).arg(filters->y())));
        w->CmdEnd_Click();
    }

    // Many finds: every thumbnail is made as a file, but the window holds the
    // pictures of the rows in and around the view only, and the rows that come
    // into view get theirs when the view moves.
    void manyThumbnailsAreFilesAndOnlyThoseNearTheViewAreHeld() {
        auto w = open({}, "many");
        w->resize(1000, 700);
        const fs::path cache = w->cacheFolder();
        const std::string photo = hx::test::MakeTestJpeg(5, 64, 48, 70);
        constexpr int kFiles = 1200;
        for (int i = 0; i < kFiles; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "R#%04d.jpg", i);
            hx::test::WriteFile(cache / name, photo);
        }
        w->FillCacheBrowser();
        child<QLineEdit>(*w, "TxtWidth")->setText("200");
        if (w->thumbnailsShown()) w->CmdShowThumbs_Click();  // from the list
        w->CmdShowThumbs_Click();
        QVERIFY(w->thumbnailsShown());
        QVERIFY(!w->isRendering());
        auto* thumbs = child<QListWidget>(*w, "LvwFiles");
        QCOMPARE(thumbs->count(), kFiles);
        int files = 0;
        for (const auto& e : fs::directory_iterator(w->activeThumbsFolder())) files += e.is_regular_file();
        QCOMPARE(files, kFiles);
        const auto held = [&] {
            int n = 0;
            for (int r = 0; r < thumbs->count(); ++r) n += !thumbs->item(r)->icon().isNull();
            return n;
        };
        const int cap = static_cast<int>(hx::viewing::ThumbnailBudget(200, kFiles));
        QVERIFY2(held() <= cap, qPrintable(QString::number(held())));
        // The first rows show; the last come when the view goes to them.
        QTRY_VERIFY(!thumbs->item(0)->icon().isNull());
        // Down to the end, once the grid is laid out (in batches).
        QTRY_VERIFY(thumbs->visualItemRect(thumbs->item(kFiles - 1)).isValid());
        thumbs->verticalScrollBar()->setValue(thumbs->verticalScrollBar()->maximum());
        QTRY_VERIFY(!thumbs->item(kFiles - 1)->icon().isNull());
        QVERIFY2(cap < kFiles / 2 && thumbs->item(0)->icon().isNull(), "the first row's picture is let go once the view is at the end");
        QVERIFY2(held() <= cap, qPrintable(QString::number(held())));
        w->CmdEnd_Click();
    }

    void renderingStopsAtAClickAndGoesOnWhereItStopped() {
        auto w = open({}, "render");
        const fs::path cache = w->cacheFolder();
        for (int i = 0; i < 12; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "R#%04d.jpg", i);
            hx::test::WriteFile(cache / name, hx::test::MakeTestJpeg(i, 640, 480, 85));
        }
        w->FillCacheBrowser();
        w->EnableButtons();
        auto* thumbs = child<QListWidget>(*w, "LvwFiles");
        auto* button = child<QPushButton>(*w, "CmdShowThumbs");
        if (w->thumbnailsShown()) w->CmdShowThumbs_Click();  // from the list
        QVERIFY(!w->thumbnailsShown());
        QVERIFY(button->isEnabled());

        // The button reads "Rendering..." while it works; a click stops it after a few files.
        QString captionWhileRendering;
        int yields = 0;
        QTimer clicker;
        connect(&clicker, &QTimer::timeout, [&] {
            if (!w->isRendering() || ++yields < 3) return;
            captionWhileRendering = button->text();
            clicker.stop();
            button->click();
        });
        clicker.start(0);
        button->click();
        QCOMPARE(captionWhileRendering, QString("Rendering..."));
        QVERIFY(!w->isRendering());
        QCOMPARE(button->text(), QString("FileList Scan"));
        const fs::path thumbFolder = w->activeThumbsFolder();
        std::map<std::string, fs::file_time_type> made;
        for (const auto& e : fs::directory_iterator(thumbFolder)) made[e.path().filename().string()] = e.last_write_time();
        QVERIFY(!made.empty());
        QVERIFY(made.size() < 12u);

        // Shown again: the rest are made, those made before are kept as they were.
        w->CmdShowThumbs_Click();
        QCOMPARE(button->text(), QString("Thumbs Scan"));
        w->CmdShowThumbs_Click();
        QVERIFY(!w->isRendering());
        for (int i = 0; i < thumbs->count(); ++i) QVERIFY(!thumbs->item(i)->icon().isNull());
        int files = 0;
        for (const auto& e : fs::directory_iterator(thumbFolder)) {
            ++files;
            const auto before = made.find(e.path().filename().string());
            if (before != made.end()) QVERIFY(e.last_write_time() == before->second);
        }
        QCOMPARE(files, 12);
        w->CmdEnd_Click();
    }

    void theLastTypeEntryAsksForTheSizeLimits() {
        auto w = open({}, "sizes");
        w->CmbTypeSelect_Click(presetIndex(*w, "Canon"));
        auto* combo = child<QComboBox>(*w, "CmbTypeSelect");
        const int last = combo->count() - 1;
        QVERIFY(combo->itemText(last).contains("file size"));
        boxes_->inputs = {QString("12"), QString("1,5-25")};
        w->CmbTypeSelect_Click(last);
        QCOMPARE(q(w->caption("lblStatus")), QString("Limited: file size 1.5-25 MB"));
        QCOMPARE(combo->itemText(last), QString("Limited file size: 1.5-25 MB"));
        // The ticks of the preset stay.
        auto* types = child<QTreeWidget>(*w, "LvwTypes");
        int ticked = 0;
        for (int i = 0; i < types->topLevelItemCount(); ++i) ticked += types->topLevelItem(i)->checkState(0) == Qt::Checked;
        QVERIFY(ticked >= 5);
        boxes_->inputs = {QString("0")};
        w->CmbTypeSelect_Click(last);
        QCOMPARE(q(w->caption("lblStatus")), QString("File sizes: unlimited"));
        w->CmdEnd_Click();
    }

    void scanWithoutTypesSaysSoAndLeavesTheCache() {
        auto w = open({}, "notypes");
        w->CmbTypeSelect_Click(presetIndex(*w, "Deselect"));
        hx::test::WriteFile(w->cacheFolder() / "R#0000.jpg", "kept");
        w->FillCacheBrowser();
        child<QPushButton>(*w, "CmdScan")->click();
        QVERIFY(boxes_->shownContaining("Please first check some types"));
        QVERIFY(fs::exists(w->cacheFolder() / "R#0000.jpg"));
        QCOMPARE(w->lastScanOutcome(), -1);
        w->CmdEnd_Click();
    }

    void colourSchemesAndLayoutFollowTheWindow() {
        auto w = open({}, "colours");
        auto* colours = child<QComboBox>(*w, "ListColors");
        // The window's margin shows its background.
        auto background = [&] { return w->grab().toImage().pixelColor(3, 300); };
        w->ApplyColourScheme(1);  // Layout Dark
        QCOMPARE(background(), QColor(0x80, 0x80, 0x80));
        w->ApplyColourScheme(3);  // System Theme
        QCOMPARE(background(), QApplication::palette().color(QPalette::Window));
        w->ApplyColourScheme(0);  // Hide Me
        QVERIFY(!colours->isVisible());

        // Every command stays inside the window and clear of the others, at the
        // smallest size too.
        for (QSize size : {QSize(1280, 800), w->minimumSize()}) {
            w->resize(size);
            QTest::qWait(50);
            std::vector<std::pair<QString, QRect>> placed;
            for (const char* name : kControls) {
                auto* c = w->findChild<QWidget*>(name);
                if (!c || !c->isVisible()) continue;
                const QRect r(c->mapTo(w.get(), QPoint(0, 0)), c->size());
                for (const auto& [other, rect] : placed)
                    QVERIFY2(!rect.intersects(r), qPrintable(QString("%1 overlaps %2").arg(name, other)));
                placed.emplace_back(name, r);
                QVERIFY2(w->rect().contains(r), qPrintable(QString("%1 outside at %2x%3")
                                                               .arg(name)
                                                               .arg(size.width())
                                                               .arg(size.height())));
                // Captions that name a drive may be shortened; the others never.
                if (auto* b = qobject_cast<QPushButton*>(c); b && !b->text().contains('/'))
                    QVERIFY2(b->width() >= b->fontMetrics().horizontalAdvance(b->text().trimmed()),
                             qPrintable(QString("%1 caption cut off").arg(name)));
            }
        }
        w->CmdEnd_Click();
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    hx::gui::ApplyAppStyle(app);
    FrmRecoverTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_frmRecover.moc"
