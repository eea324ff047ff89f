#pragma once
#include <QMainWindow>
#include <QPixmap>
#include <QStringList>
#include <QUrl>
#include <filesystem>
#include <optional>
#include <set>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "filesystems/DriveInfoPanel.h"
#include "learning/AdaptiveTypes.h"
#include "platform/DriveCatalogue.h"
#include "shell/MessageBoxRules.h"
#include "shell/Ui.h"
#include "shell/WindowCommands.h"
#include "shell/WorkingState.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTextBrowser;
class QTimer;
class QTreeWidget;
namespace hx::viewing {
class ClipFrames;
}  // namespace hx::viewing

namespace hx::undelete {
class QuickUndelete;
}

namespace hx::shell {
class StepSequence;
struct StartupOptions;
}  // namespace hx::shell
namespace hx::learning {
struct LearnAnswer;
}  // namespace hx::learning

namespace hx::gui {

// Loads Qt's own translation of `languageId` (Dutch, German) in place of the last one.
void InstallQtTranslation(int languageId);

class frmRecoverInit;
class DrivePane;
class PicturePane;
class UndeletePane;
class frmSearchDrives;
class FoundFilesPane;
class TypesPane;
class QtSettingsStore;

// The main window. It carries the commands as click handlers, the working
// state of a run, and implements the Ui service with widgets; commands find
// controls by their object names (CmdScan, Drive1, List3, ...).
class frmRecover : public QMainWindow, public shell::Ui {
    Q_OBJECT
public:
    explicit frmRecover(shell::WindowOptions options = {}, QWidget* parent = nullptr);
    ~frmRecover() override;

    // Start-up: everything before the window is first shown (splash included).
    void Form_Load();

    // Ui service.
    shell::Answer message(const std::string& text, const std::string& title,
                          const shell::MessageOptions& options = {}) override;
    std::optional<std::string> input(const std::string& prompt, const std::string& title,
                                     const std::string& defaultText = {}) override;
    std::optional<std::string> chooseFolder(const std::string& title, const std::string& start) override;
    std::optional<std::string> openFile(const std::string& title, const std::string& filter,
                                        const std::string& start) override;
    std::optional<std::string> saveFile(const std::string& title, const std::string& filter,
                                        const std::string& start) override;
    void setCaption(const std::string& control, const std::string& text) override;
    std::string caption(const std::string& control) const override;
    void setEnabled(const std::string& control, bool enabled) override;
    void setVisible(const std::string& control, bool visible) override;
    void status(const std::string& text) override;
    void progress(double fraction, const std::string& text) override;
    void yield() override;
    bool servesWhileReading() const override { return true; }
    bool stopRequested() const override;
    void clearStop() override;
    // A file the scan finished: listed at once, its thumbnail drawn by the worker.
    void fileFound(const std::string& name) override;

    // Window state, for the commands and the tests.
    void SetCaptions();
    void EnableButtons();
    void ShowStartPage();
    void ShowResults();
    void FillCacheBrowser();
    void ApplyColourScheme(int index);
    void RefreshDriveInfo();
    const std::filesystem::path& cacheFolder() const { return cacheFolder_; }
    const std::filesystem::path& saveFolder() const { return saveFolder_; }
    const std::filesystem::path& activeFolder() const;
    const std::filesystem::path& pictureFolder() const { return pictureFolder_; }
    std::string currentDrive() const { return currentDrive_; }
    // What the window last catalogued of its drive.
    const media::DriveRecord& driveRecord() const { return driveSession_.record; }
    bool isBusy() const { return busy_.busy; }
    // How the last scan ended (scan::ScanOutcome), -1 before any.
    int lastScanOutcome() const { return lastScanOutcome_; }
    bool hasExited() const { return exited_; }
    const QStringList& foundNames() const;
    const shell::DriveWatcher& watcher() const { return watcher_; }
    // Answers of the last plain-box fallback of self-closing messages.
    bool usesPlainBoxes() const;

    // Opens a file or folder with the desktop's application; tests put their own opener here.
    bool openUrl(const QUrl& url) { return urlOpener_ ? urlOpener_(url) : defaultOpenUrl(url); }
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { urlOpener_ = std::move(opener); }
    // Writes the help page in the window's language to `file`.
    static bool writeHelpPage(const std::filesystem::path& file);

public slots:
    void CmdScan_Click();
    void CmdEnd_Click();
    void CmdShowFolder_Click();
    void CmdShowThumbs_Click();
    // "FileList Scan" while the thumbnails show, "Thumbs Scan" while the list does.
    void UpdateThumbsCaption();
    bool isRendering() const { return rendering_; }
    // Thumbnails of finds are still being drawn on the worker's thread.
    bool thumbnailsPending() const;
    bool thumbnailsShown() const;
    // Where the thumbnail files of the listed files are kept.
    std::filesystem::path activeThumbsFolder() const;
    void CmdShowScanTypes_Click();
    void CmdOpen_Click();
    void CmdBrowse_Click();
    void CmdMaxSpeed_Click();
    void CmdQuickUndelete_Click();
    void CmdSaveAll_Click();
    void CmdSaveAs_Click();
    void CmdRecoverAll_Click();
    void CmdLearn_Click();
    // Delete on the type list: the learned types of the selected rows go to the trash, after asking.
    void LvwTypes_KeyDown();
    // The undelete lists: the right button shows the file's properties, a
    // double click opens it.
    void UndeleteList_MouseDown(QListWidget* list, bool deleted, const QPoint& at);
    void UndeleteList_DblClick(QListWidget* list, bool deleted);
    void CmdBackup_Click();
    // R on the Backup button: an image written back onto the chosen card.
    bool CmdBackup_KeyPress(int key);
    // Chooses an image by its companion file and scans it.
    void CmdScanBackup_Click();
    // W wipes, R repairs, F formats the selected card (after asking); true when the key was one of them.
    bool Drive1_KeyPress(int key);
    void CmbTypeSelect_Click(int index);
    void Drive1_Change();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildWidgets();
    void buildSidebar(QWidget* host);
    void buildCentre(QWidget* host);
    void buildBottom(QWidget* host);
    void connectCommands();
    QWidget* control(const std::string& name) const;

    void Timer1_Timer();
    void Timer2_Timer();
    void selectDrive(const std::string& id);
    void applySettings();
    void collectSettings();
    static QString lastPicturePathFor(const shell::WorkingState& st);
    void selectStartDrive();
    // The sample files the user's answer names; none when the gathering was stopped or no folder chosen.
    std::optional<std::vector<std::filesystem::path>> gatherLearnFiles(const learning::LearnAnswer& answer);
    // What the engine's start-up is told of this window's options, and the
    // window's own steps put among the engine's.
    shell::StartupOptions startupOptions() const;
    void addWindowSteps(shell::StepSequence& steps, std::unique_ptr<frmRecoverInit>& splash);
    // The automated recovery after a read of a damaged medium that the system ended.
    void RecoverDamagedMedia();
    bool storeHasWindow() const;
    shell::WorkingState& state() const;
    void showLastPicture();
    void ExitSequence();
    // The close command; true when the window may close now.
    bool closeCommand();
    void notYetAvailable(const std::string& command);
    bool cacheHasFiles() const;
    // The scan command on `source` (the drive chosen, or an image), with the
    // companion files of images looked for in `imageFolder`.
    void runScan(const std::string& source, const std::filesystem::path& imageFolder, bool addToFound = false);
    std::string typeSelection() const;
    // The type list: the program's types, the learned ones, the ticks of the last run.
    void fillTypeList();
    // CmdLearn during a scan: the adaptive types learned again, silently.
    void learnDuringScan();
    void showFoundFile(int row);
    // Draws `file` in the preview with its facts in the panel; `rotationKey`
    // names it among the rotations chosen, `shown` is its name for the user.
    // `withClip`: whether it is a photo that carries a clip, when the scan
    // already said so; else the file is asked.
    void previewFile(const std::filesystem::path& file, const std::string& rotationKey, const QString& shown,
                     std::optional<bool> withClip = std::nullopt);
    // The button under a motion photo or a clip: the clip played in the
    // preview, or the photo (the clip's first picture) again.
    void toggleClipPicture();
    // The clip's next picture in the preview, as the clip's timer asks.
    void showNextClipPicture();
    void stopClip();
    // The Delete key (and S/C on the thumbnails) on a found-file list; true when handled.
    bool FoundList_KeyDown(bool thumbnails, int key, Qt::KeyboardModifiers modifiers);
    void List3_KeyDown();
    // Opens the current found file with its application (never a program).
    void openFoundFile(bool doubleClick);
    void openFile(const std::filesystem::path& file, bool doubleClick);
    void showFileProperties(const std::filesystem::path& file);
    // The preview of a file no picture could be made of: its icon and the reasons.
    void showUndrawable(const std::filesystem::path& file);
    // The desktop thumbnailer's picture of a file, kept in `thumbs` as its
    // thumbnail; null when there is none. Extensions found to have no
    // thumbnailer are noted, and their other files are passed over.
    QImage desktopThumbnail(const std::filesystem::path& file, const std::filesystem::path& thumbs, int width,
                            std::set<std::string>& noThumbnailer);
    static constexpr int kConverterTimeoutMs = 20000;
    static constexpr int kThumbnailerTimeoutMs = 10000;
    // The preview's pop-up list: rotations and filters (right button on the preview).
    void ListFilters_Click(int index);
    // Shows that list at `at` of `from`, kept inside the preview.
    void showFilterList(QWidget* from, const QPoint& at);
    // The preview's picture over the whole screen (a double click on the preview).
    void showFullPicture();
public:
    // A click on the preview's mode caption: the current find drawn whole (a
    // raw decoded in full by the converter).
    void requestFullFile();
    // A left click on the preview: the picture at full size, placed at `at`;
    // the next click shows it whole again.
    void zoomPicture(QPoint at);
    bool pictureZoomed() const;
private:
    // Thumbnails made again at the width typed in TxtWidth.
    void CmdRenderWidth_Click();
    void loadThumbnails();
    // Lists the files of a folder as found files (the cache, or a browsed folder).
    void listFolder(const std::filesystem::path& folder);
    void showEntryInfo(QListWidget* list, bool deleted);
    // A deleted picture restored into the temporary folder and shown.
    void previewDeletedEntry(std::size_t index);
    // The file behind the current row of List1 (on the mounted volume, else a
    // copy in the temporary folder) or List2 (a copy); nothing after saying why.
    std::optional<std::filesystem::path> entryFile(QListWidget* list, bool deleted);
    // Saving (frmRecoverSave.cpp).
    void saveFoundFiles(bool all);
    void saveUndeleteEntries(bool all);
    bool undeleteInView() const;
    bool refuseWhileBusy(const std::string& command);
    // The file search window, made on first use and shown.
    frmSearchDrives* searchWindow();

    shell::WindowOptions options_;
    std::unique_ptr<QtSettingsStore> store_;
    std::unique_ptr<undelete::QuickUndelete> undelete_;
    shell::BusyState busy_;
    shell::DriveWatcher watcher_;
    bool stopFlag_ = false;
    bool exited_ = false;
    bool loaded_ = false;
    bool selectionPending_ = false;
    std::string currentDrive_;
    filesystems::DriveSession driveSession_;
    bool rendering_ = false;  // thumbnails being made; cleared to stop
    bool learning_ = false;   // QX Adaptive at work; cleared to stop
    std::function<bool(const QUrl&)> urlOpener_;
    static bool defaultOpenUrl(const QUrl& url);
    shell::SelfClosingGuard selfClosing_;
    std::filesystem::path cacheFolder_, saveFolder_, pictureFolder_, browseFolder_;
    double minMB_ = 0, maxMB_ = 0;
    int colourScheme_ = 3;
    int lastScanOutcome_ = -1;  // ListColors index of the scheme in use

    // Controls, named as the commands know them.
    QComboBox* ListColors = nullptr;
    QListWidget* ListFilters = nullptr;
    QPushButton *CmdScan = nullptr, *CmdQuickUndelete = nullptr, *CmdEnd = nullptr, *CmdShowScanTypes = nullptr,
                *CmdShowFolder = nullptr, *CmdShowThumbs = nullptr, *CmdRenderWidth = nullptr;
    QCheckBox *ChkDeep = nullptr, *ChkDamaged = nullptr;
    QPushButton *lblHelp = nullptr, *lblAbout = nullptr;
    QLabel* lblStatus = nullptr;
    QTextBrowser* txtStart = nullptr;
    QLineEdit* TxtWidth = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QStackedWidget* pages_ = nullptr;
    QSplitter* centreSplit_ = nullptr;
    DrivePane* drivePane_ = nullptr;  // the drive chooser and its information
    PicturePane* picturePane_ = nullptr;  // the picture and its details
    UndeletePane* undeletePane_ = nullptr;  // the quick undelete's lists
    FoundFilesPane* foundPane_ = nullptr;  // the found files, as a list or as thumbnails
    QWidget* pageStart_ = nullptr;
    QWidget* pageResults_ = nullptr;
    TypesPane* typesPane_ = nullptr;  // the presets and the type list
    QTimer *Timer1 = nullptr, *Timer2 = nullptr;
    int shownRow_ = -1;
    // What the last scan said of finds that hold unreadable sectors, by name.
    std::map<std::string, std::string> damageOf_;
    std::map<std::string, std::string> rebuiltOf_;  // clips rebuilt from pieces, by name: what is said of each
    int thumbnailWidth_ = 160;
    frmSearchDrives* search_ = nullptr;
    std::filesystem::path lastRecoverReport_;
    // The window's own scan runs: its finds are listed as they come.
    bool liveScan_ = false;
    bool fullFile_ = false;  // set only while the whole picture is asked for
    // The motion photo or clip in the preview (as previewFile had it) and what of it is shown.
    struct ShownClip {
        std::filesystem::path file;  // the file in the preview, when it is or carries a clip
        std::string rotationKey;
        QString shown;
        bool inPhoto = true;     // a photo that carries the clip, not a clip file
        bool clipShown = false;  // the clip plays in the preview
    } clip_;
    std::unique_ptr<viewing::ClipFrames> clipFrames_;  // the clip playing
    QTimer* clipTimer_ = nullptr;

public:
    const std::filesystem::path& lastRecoverReport() const { return lastRecoverReport_; }
};

}  // namespace hx::gui
