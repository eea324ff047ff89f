#include "viewing/ClipPicture.h"
#include "gui/frmRecover.h"
#include "gui/panes/TypesPane.h"
#include "gui/panes/FoundFilesPane.h"
#include "gui/panes/DrivePane.h"
#include "gui/panes/PicturePane.h"
#include "gui/panes/UndeletePane.h"

#include <algorithm>

#include <QAction>
#include <QFile>
#include <QLibraryInfo>
#include <QTranslator>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QStackedWidget>
#include <QCoreApplication>

#include "gui/QtSettingsStore.h"
#include "gui/QtText.h"
#include "gui/frmRecoverInit.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/DriveInfoPanel.h"
#include "media/DriveRecord.h"
#include "output/ScanCommand.h"
#include "scan/ScanDisk.h"
#include "undelete/QuickUndelete.h"
#include "undelete/UndeleteLists.h"
#include "viewing/Exif.h"
#include "scan/ScanState.h"
#include "formats/SignatureTable.h"
#include "shell/MessageBoxRules.h"
#include "platform/Processes.h"
#include "shell/Startup.h"
#include "shell/WorkingFolders.h"
#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"
#include "volumes/DriveFiles.h"

namespace hx::gui {

bool frmRecover::defaultOpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

bool frmRecover::writeHelpPage(const std::filesystem::path& file) {
    const int language = shell::CurrentLanguage();
    const QString name = language == shell::kLangDutch    ? "Nederlands"
                         : language == shell::kLangGerman ? "Deutsch"
                                                          : "English";
    QFile page(":/help/" + name + ".htm");
    if (!page.open(QIODevice::ReadOnly)) return false;
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    QFile out(q(file.string()));
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(page.readAll()) > 0;
}

void InstallQtTranslation(int languageId) {
    // Qt's own texts (the Yes, No and Cancel of the boxes, the file dialogs)
    // from Debian's translations, beside our string table.
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    const char* code = languageId == shell::kLangDutch ? "nl" : languageId == shell::kLangGerman ? "de" : nullptr;
    if (!code || !QCoreApplication::instance()) return;
    auto* t = new QTranslator(QCoreApplication::instance());
    if (t->load(QString("qtbase_") + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(t);
        installed = t;
    } else {
        delete t;
    }
}

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

namespace {


// Screen-independent size unit of the old settings: 15 twips per pixel.
constexpr int kTwipsPerPixel = 15;

QColor colourOf(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

}  // namespace

frmRecover::frmRecover(shell::WindowOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
    setObjectName("frmRecover");
    buildWidgets();
    connectCommands();
    resize(1280, 800);
    // Nothing may be squeezed below its own minimum.
    setMinimumSize(QSize(1000, 640).expandedTo(minimumSizeHint()));
}

frmRecover::~frmRecover() = default;

void frmRecover::SetCaptions() {
    InstallQtTranslation(shell::CurrentLanguage());
    for (const auto& c : shell::WindowCaptions()) setCaption(c.control, LoadStr(c.id, c.english));
    for (const auto& t : shell::WindowTooltips())
        if (QWidget* w = control(t.control)) w->setToolTip(q(LoadStr(t.id, t.english)));
    drivePane_->setTexts(q(LoadStr(655, "Drive")), q(shell::Drive1Tooltip()));
    // Made with the layout, before the language was known.
    if (auto* tools = findChild<QPushButton*>("lblTools")) tools->setText(q(LoadStr(0, "Tools")));
    if (auto* find = findChild<QAction*>("mnuFindFiles")) find->setText(q(LoadStr(0, "&Find File(s)...")));
    if (auto* info = findChild<QAction*>("mnuFolderInfo")) info->setText(q(LoadStr(0, "&Folder Info...")));

    typesPane_->setTexts(minMB_, maxMB_);

    const int colour = ListColors->currentIndex();
    ListColors->clear();
    for (const auto& e : shell::ColourEntries()) ListColors->addItem(q(LoadStr(e.id, e.english)));
    ListColors->setCurrentIndex(colour < 0 ? ListColors->count() - 1 : colour);

    ListFilters->clear();
    for (const auto& e : shell::FilterEntries()) ListFilters->addItem(q(LoadStr(e.id, e.english)));
}

bool frmRecover::cacheHasFiles() const { return !foundPane_->empty(); }

void frmRecover::EnableButtons() {
    std::error_code ec;
    shell::EnableButtons(*this, cacheHasFiles(), !saveFolder_.empty() && fs::is_directory(saveFolder_, ec));
}

void frmRecover::ShowStartPage() {
    QString html = "<h2>" + q(shell::StartPageTitle()).toHtmlEscaped() + "</h2><p>";
    for (const auto& line : shell::StartPageLines()) html += q(line).toHtmlEscaped() + "<br>";
    html += "</p>";
    txtStart->clear();
    txtStart->setHtml(html);
    lblHelp->setToolTip(q(shell::StartPageHelp()));
    pages_->setCurrentWidget(pageStart_);
    picturePane_->setVisible(false);
    CmdShowScanTypes->setChecked(false);
    RefreshDriveInfo();
}

void frmRecover::ShowResults() {
    pages_->setCurrentWidget(pageResults_);
    picturePane_->setVisible(true);
    CmdShowScanTypes->setChecked(false);
}

void frmRecover::ApplyColourScheme(int index) {
    if (index < 0 || index >= ListColors->count()) return;
    const auto scheme = shell::SchemeFromEntry(s(ListColors->itemText(index)));
    if (scheme == shell::ColourScheme::Hide) {
        // The scheme in use stays, and so does its index for the next start.
        ListColors->setVisible(false);
        ListColors->setCurrentIndex(colourScheme_);
        return;
    }
    colourScheme_ = index;
    ListColors->setCurrentIndex(index);
    const auto colours = shell::ColoursOf(scheme);
    if (!colours) {
        setStyleSheet({});
        return;
    }
    const QString window = colourOf(colours->window).name(), text = colourOf(colours->text).name(),
                  infoBack = colourOf(colours->infoBack).name(), infoText = colourOf(colours->infoText).name();
    setStyleSheet(QString("QWidget#centralWidget { background: %1; }"
                          "QWidget#centralWidget QLabel, QWidget#centralWidget QCheckBox { color: %2; }"
                          "QFrame#sidebar { background: %1; border-color: %5; }"
                          "QLineEdit#txtSpecs { background: transparent; color: %2; }"
                          "QPushButton[link=\"true\"] { color: %2; }"
                          "QPlainTextEdit, QTextBrowser, QListWidget, QTreeWidget { background: %3; color: %4; }"
                          "QProgressBar { background: %5; } QProgressBar::chunk { background: %6; }")
                      .arg(window, text, infoBack, infoText, colourOf(colours->progressBack).name(),
                           colourOf(colours->progressBar).name()));
}

void frmRecover::RefreshDriveInfo() {
    if (currentDrive_.empty()) {
        drivePane_->setSpecs(q(LoadStr(407, "Please insert disk or suitable medium.")));
        return;
    }
    filesystems::RefreshDriveInfo(*this, driveSession_, currentDrive_);
}

// ---------------------------------------------------------------- drives

void frmRecover::selectDrive(const std::string& id) {
    if (drivePane_->choose(id)) Drive1_Change();
}

void frmRecover::Drive1_Change() {
    const std::string choice = drivePane_->chosen();
    if (choice.empty() || busy_.busy) return;
    const bool thumbs = foundPane_->thumbnailsShown();
    currentDrive_ = filesystems::Drive1_Change(*this, driveSession_, choice, currentDrive_, thumbs);
    if (currentDrive_ == choice) {
        // The command catalogues the drive only when the panel changes.
        if (driveSession_.record.Drive != choice) filesystems::GetDriveInfo(choice, driveSession_.record);
    }
    drivePane_->choose(currentDrive_);
}

void frmRecover::Timer1_Timer() {
    std::vector<platform::DriveEntry> hidden;
    if (!selectionPending_ && !busy_.busy) {
        hidden = volumes::EnumerateDrives();
        drivePane_->listHidden(hidden);
    }
    auto t = watcher_.tick(selectionPending_, busy_.busy, drivePane_->choosable(), drivePane_->count(), hidden);
    if (t.applyPendingSelection) {
        selectionPending_ = false;
        showFoundFile(foundPane_->currentRow());
    }
    if (t.refreshVisible || t.select) {
        drivePane_->list(hidden);
        if (t.select) {
            selectDrive(*t.select);
        } else if (!drivePane_->lists(currentDrive_)) {
            // The selected medium went away.
            selectDrive(shell::SelectRemovableDrive(hidden, {}));
        }
    }
    Timer1->start(t.intervalMs);
}

// ---------------------------------------------------------------- start-up

void frmRecover::FillCacheBrowser() {
    listFolder(cacheFolder_);
    // What the scan state says of finds that hold unreadable sectors, whichever run found them.
    std::set<std::string> withClip;
    damageOf_ = scan::DamagedFinds(cacheFolder_, &rebuiltOf_, &withClip);
    foundPane_->markDamaged(damageOf_, rebuiltOf_, withClip);
}

void frmRecover::listFolder(const fs::path& folder) {
    foundPane_->list(folder);
    foundPane_->setThumbsFolder(activeThumbsFolder());
}

void frmRecover::applySettings() {
    const shell::StoredSettings& st = state().settings;
    if (st.height > 0) {
        const long width = st.width == 0 ? shell::kDefaultWindowWidth : st.width;
        resize(std::max<int>(static_cast<int>(width / kTwipsPerPixel), minimumWidth()),
               std::max<int>(static_cast<int>(st.height / kTwipsPerPixel), minimumHeight()));
        move(static_cast<int>(st.left / kTwipsPerPixel), static_cast<int>(st.top / kTwipsPerPixel));
    }
    // A first start has no scheme stored: the system's colours.
    const int scheme = storeHasWindow() ? st.colourScheme : ListColors->count() - 1;
    if (scheme >= 0 && scheme < ListColors->count()) ListColors->setCurrentIndex(scheme);
    if (st.thumbWidth > 0) TxtWidth->setText(QString::number(st.thumbWidth));
    typesPane_->setPresetIndex(st.typeSelection);
    minMB_ = st.minMB;
    maxMB_ = st.maxMB;
    typesPane_->showSizeLimits(minMB_, maxMB_);
    foundPane_->showThumbnails(state().resultView == "1");
}

void frmRecover::collectSettings() {
    shell::StoredSettings& st = state().settings;
    const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
    st.top = g.y() * kTwipsPerPixel;
    st.left = g.x() * kTwipsPerPixel;
    st.width = g.width() * kTwipsPerPixel;
    st.height = g.height() * kTwipsPerPixel;
    st.colourScheme = ListColors->currentIndex();
    st.thumbWidth = TxtWidth->text().toInt();
    st.startDrive = currentDrive_;
    st.showSpecs = drivePane_->specsShown();
    st.typeSelection = typesPane_->presetIndex();
    st.minMB = minMB_;
    st.maxMB = maxMB_;
    st.typeRows = typesPane_->ticks();
    state().resultView = foundPane_->thumbnailsShown() ? "1" : "0";
}

void frmRecover::showLastPicture() {
    // The picture folder is known before the cache is settled.
    const QString path = lastPicturePathFor(state());
    QPixmap last;
    stopClip();
    if (!path.isEmpty() && last.load(path)) picturePane_->showPicture(last, QFileInfo(path).fileName());
}

void frmRecover::selectStartDrive() {
    const auto drives = volumes::EnumerateDrives();
    drivePane_->list(drives);
    drivePane_->listHidden(drives);
    std::string start;
    platform::DriveEntry stored;
    const std::string drve = state().settings.startDrive;
    if (!drve.empty() && drivePane_->lists(drve) && volumes::FindDrive(drve, stored) && stored.ready)
        start = drve;
    if (start.empty() || !cacheHasFiles()) start = shell::SelectRemovableDrive(drives, start);
    selectDrive(start);
}

shell::WorkingState& frmRecover::state() const { return shell::SharedState(); }

shell::StartupOptions frmRecover::startupOptions() const {
    shell::StartupOptions so;
    so.programName = "harvestrix";
    if (options_.singleInstance) so.instanceFile = platform::DefaultInstanceFile();
    so.endStrayProcesses = options_.singleInstance;
    so.systemLanguage = shell::SystemLanguageId();
    if (options_.language) {
        shell::SetCurrentLanguage(shell::IsSupportedLanguage(*options_.language) ? *options_.language
                                                                                 : shell::kLangEnglish);
        so.languageGiven = true;
    }
    if (options_.cacheDir) so.cacheFolder = *options_.cacheDir;
    return so;
}

void frmRecover::addWindowSteps(shell::StepSequence& steps, std::unique_ptr<frmRecoverInit>& splash) {
    using shell::StepResult;
    shell::WorkingState& st = state();
    const auto done = [](auto&& f) {
        return [f] {
            f();
            return StepResult::Done;
        };
    };
    steps.insertAfter("ChooseLanguage", "Splash", done([&splash, &st] {
        splash = std::make_unique<frmRecoverInit>(lastPicturePathFor(st));
        splash->show();
        QCoreApplication::processEvents();
    }));
    steps.insertAfter("StoreLanguage", "SetCaptions", done([this] { SetCaptions(); }));
    steps.insertBefore("CommandLineSwitches", "AttachImages", done([this] {
        for (const auto& spec : options_.attaches)
            if (!platform::AttachImage(spec))
                message("Cannot attach '" + spec + "': the image file does not exist.", LoadStr(31, "Harvestrix"),
                        {shell::Buttons::OK, shell::Icon::Exclamation, 0});
    }));
    steps.insertAfter("ReadSettings", "ApplySettings", done([this] { applySettings(); }));
    steps.insertBefore("SettleCache", "ShowLastPicture", done([this] { showLastPicture(); }));
    steps.add("FillCacheBrowser", done([this, &st] {
        cacheFolder_ = st.cache;
        saveFolder_ = st.save;
        browseFolder_ = st.browse;
        pictureFolder_ = st.picture;
        // The type list once the working folders are settled: the learned types live there.
        fillTypeList();
        FillCacheBrowser();
    }));
    steps.add("SelectStartDrive", done([this] { selectStartDrive(); }));
    steps.add("ShowStart", done([this, &st] {
        ApplyColourScheme(ListColors->currentIndex());
        if (cacheHasFiles()) ShowResults();
        else ShowStartPage();
        drivePane_->showSpecs(st.settings.showSpecs || !storeHasWindow());
    }));
    steps.add("CommandStates", done([this] {
        EnableButtons();
        status(LoadStr(51, "Status"));
    }));
    steps.add("StartTimer", done([this] { Timer1->start(shell::DriveWatcher::kIdleMs); }));
}

void frmRecover::Form_Load() {
    // Nothing of the window shows before it is complete.
    setWindowOpacity(0.0);
    shell::WorkingState& st = state();
    st = shell::WorkingState{};
    shell::InitWorkingState(st);
    st.commandLine = options_.commandLine;
    store_ = std::make_unique<QtSettingsStore>();
    st.store = store_.get();
    selfClosing_.reset();

    const shell::StartupOptions so = startupOptions();
    std::unique_ptr<frmRecoverInit> splash;
    auto steps = shell::EngineStartupSteps(st, *this, so);
    addWindowSteps(steps, splash);
    const bool go = steps.run();
    if (splash) splash->close();
    loaded_ = true;
    if (!go) {
        // The user chose to quit (another instance, uninstall, rights notice).
        exited_ = true;
        return;
    }
    setWindowOpacity(1.0);
    // The last step of the start: a read that the system ended is followed up.
    QTimer::singleShot(0, this, [this] { RecoverDamagedMedia(); });
}

bool frmRecover::usesPlainBoxes() const { return !selfClosing_.selfClosingAllowed(); }

bool frmRecover::storeHasWindow() const { return state().settings.height > 0; }

QString frmRecover::lastPicturePathFor(const shell::WorkingState& st) {
    QDir dir(q((st.programFolder / "QXRecdt").string()));
    if (QFileInfo::exists(dir.filePath("Lastpict.bmp"))) return dir.filePath("Lastpict.bmp");
    const auto backs = dir.entryList({"back.*"}, QDir::Files);
    return backs.isEmpty() ? QString() : dir.filePath(backs.first());
}

// ---------------------------------------------------------------- commands

void frmRecover::CmdEnd_Click() {
    if (closeCommand()) close();
}

bool frmRecover::closeCommand() {
    if (exited_) return true;
    rendering_ = false;  // the thumbnails stop after the file at hand
    if (shell::CloseCommand(*this, busy_) == shell::CloseStep::WaitForStop) {
        Timer2->start();
        return false;
    }
    Timer2->stop();
    ExitSequence();
    exited_ = true;
    return true;
}

void frmRecover::Timer2_Timer() {
    yield();
    if (!busy_.busy) {
        Timer2->stop();
        CmdEnd_Click();
    }
}

void frmRecover::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The layout settles first; then the picture is drawn to the new size.
    QTimer::singleShot(0, this, [this] { picturePane_->refit(); });
}

void frmRecover::closeEvent(QCloseEvent* event) {
    if (closeCommand()) event->accept();
    else event->ignore();
}

void frmRecover::ExitSequence() {
    using shell::StepResult;
    shell::WorkingState& st = state();
    if (!st.store) return;  // never loaded
    shell::StartupOptions so;
    if (options_.singleInstance) so.instanceFile = platform::DefaultInstanceFile();
    auto steps = shell::EngineExitSteps(st, *this, so);
    steps.insertBefore("EndDamagedRecovery", "SaveLastPicture", [&] {
        std::error_code ec;
        fs::create_directories(st.picture, ec);
        if (picturePane_->picture().isNull()) return StepResult::Done;
        return shell::Ok(picturePane_->picture().save(q((st.picture / "Lastpict.bmp").string()), "BMP"));
    });
    steps.insertBefore("SaveSettings", "Closing", [&] {
        setCaption("CmdEnd", LoadStr(756, "Closing..."));
        collectSettings();
        return StepResult::Done;
    });
    steps.insertAfter("ClearTemporaryFiles", "ClearLists", [&] {
        undeletePane_->clear();
        return StepResult::Done;
    });
    steps.insertBefore("RemoveEmptySaveFolder", "StopTimers", [&] {
        Timer1->stop();
        Timer2->stop();
        return StepResult::Done;
    });
    steps.run();
}

}  // namespace hx::gui
