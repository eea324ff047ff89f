// The window's commands: scan, the type list and its presets, opening a
// found file, the speed test, the quick undelete, browsing. The preview is in
// frmRecoverPreview.cpp, the thumbnails in frmRecoverThumbnails.cpp.
// The rules live in the engine's command classes; here the widgets follow.
#include "gui/frmRecover.h"
#include "gui/panes/TypesPane.h"
#include "gui/panes/FoundFilesPane.h"
#include "gui/panes/PicturePane.h"
#include "gui/panes/UndeletePane.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <QFileInfo>
#include <QImageReader>
#include <QListWidget>
#include <QLocale>
#include <QUrl>
#include <QStackedWidget>
#include <QPushButton>
#include <QProgressBar>
#include <QPlainTextEdit>
#include <QLabel>
#include <QComboBox>
#include <QCheckBox>

#include "gui/QtSettingsStore.h"
#include "gui/dialogs/frmSearchDrives.h"
#include "gui/frmRecoverInit.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/DriveInfoPanel.h"
#include "media/DriveRecord.h"
#include "output/ScanCommand.h"
#include "scan/ScanDisk.h"
#include "undelete/EntryFiles.h"
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

#include "gui/QtText.h"
#include "gui/SmallPicture.h"
#include "viewing/ExifFullText.h"
#include "viewing/ThumbnailFiles.h"
#include "viewing/OpenFile.h"
#include "viewing/RawConverter.h"
#include "viewing/PictureThumbnail.h"
#include "shell/Text.h"
#include "platform/DesktopApps.h"
#include "platform/DesktopThumbnails.h"
#include "formats/Formats.h"

namespace hx::gui {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

frmSearchDrives* frmRecover::searchWindow() {
    if (!search_) search_ = new frmSearchDrives(*this, this);
    search_->show();
    search_->raise();
    return search_;
}

void frmRecover::notYetAvailable(const std::string& command) {
    const std::string what = caption(command).empty() ? command : caption(command);
    message("'" + what + "' is not yet available in this version.", LoadStr(31, "Harvestrix"),
            {shell::Buttons::OK, shell::Icon::Information, 0});
}

void frmRecover::CmdScan_Click() {
    if (busy_.busy) {
        if (busy_.operation == "CmdScan") {
            busy_.stopping = true;
            yield();
        }
        return;
    }
    runScan(currentDrive_, state().image);
}

std::string frmRecover::typeSelection() const { return typesPane_->selection(); }

void frmRecover::runScan(const std::string& source, const fs::path& imageFolder, bool addToFound) {
    output::ScanRequest request;
    request.source = source;
    request.cacheFolder = cacheFolder_;
    request.imageFolder = imageFolder;
    request.selection = typeSelection();
    request.learnedFolder = state().picture;
    request.learned = typesPane_->tickedLearned();
    request.settings = state().store;
    request.state = &state();
    request.options.deepScan = ChkDeep->isChecked();
    request.options.damaged = ChkDamaged->isChecked();
    request.options.minMB = minMB_;
    request.options.maxMB = maxMB_;
    request.options.addToFound = addToFound;
    if (undelete_) {
        request.listing = undelete_->listedNames();
        request.listingDrive = undelete_->drive();
    }
    // Types listed on the medium that were not chosen are offered; those taken are ticked.
    request.offerListedTypes = true;
    request.typesAdded = [this](const std::vector<std::string>& types) { typesPane_->tickProgramTypes(types); };
    std::optional<shell::BusyGuard> busy;
    request.beforeScan = [this, &busy] {
        cacheFolder_ = state().cache;  // another may have been chosen for want of room
        FillCacheBrowser();  // the cache may just have been emptied
        busy.emplace(*this, busy_, "CmdScan", LoadStr(38, "Scan"));
        typesPane_->showPresets(false);
        ShowResults();
        // Finds are listed as they come; the picture's facts wait for one to be chosen.
        picturePane_->clearText();
        stopClip();
        foundPane_->forgetLiveThumbnails();
        liveScan_ = true;
    };
    output::ScanCommand command(*this, std::move(request));
    const std::optional<scan::ScanOutcome> outcome = command.run();
    liveScan_ = false;
    foundPane_->stopDrawing();
    busy.reset();
    typesPane_->showPresets(true);
    if (!outcome) return;
    ProgressBar1->setVisible(false);
    lastScanOutcome_ = static_cast<int>(*outcome);
    FillCacheBrowser();
    EnableButtons();
    // The end's word on what could not be read stays in view.
    if (!command.context().damageText.empty())
        status(command.context().finishedText + " " + command.context().damageText);
    if (cacheHasFiles()) foundPane_->setCurrentRow(0);
    else ShowStartPage();
}

void frmRecover::fillTypeList() { typesPane_->fill(state().picture, state().settings.typeRows); }

void frmRecover::CmdShowScanTypes_Click() {
    if (pages_->currentWidget() == typesPane_) {
        if (cacheHasFiles()) ShowResults();
        else ShowStartPage();
    } else {
        pages_->setCurrentWidget(typesPane_);
        picturePane_->setVisible(false);
        CmdShowScanTypes->setChecked(true);
        // Choosing a drive hides the presets; with the list they are back.
        typesPane_->showPresets(true);
        typesPane_->scrollToTop();
    }
}

void frmRecover::CmdShowFolder_Click() {
    const bool cache = caption("CmdShowFolder") == shell::LocalCaption("CmdShowFolder");
    const fs::path folder = cache ? foundPane_->folder() : browseFolder_;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        message("Folders are empty.", "Explore  " + LoadStr(31, "Harvestrix"), {});
        return;
    }
    openUrl(QUrl::fromLocalFile(q(folder.string())));
}

void frmRecover::CmdOpen_Click() { openFoundFile(false); }

void frmRecover::openFoundFile(bool doubleClick) {
    if (busy_.busy) return;
    const int row = foundPane_->currentRow();
    if (row < 0 || row >= foundPane_->count()) return;
    shownRow_ = row;
    openFile(foundPane_->file(row), doubleClick);
}

void frmRecover::openFile(const fs::path& file, bool doubleClick) {
    viewing::FileOpeners openers;
    openers.open = [this](const fs::path& p) { return openUrl(QUrl::fromLocalFile(q(p.string()))); };
    openers.application = [](const fs::path& p) { return platform::DefaultApplicationFor(p); };
    openers.properties = [this](const fs::path& p) { showFileProperties(p); };
    // A double click on a picture no application takes shows it large instead.
    if (doubleClick && !picturePane_->picture().isNull() && !platform::IsProgramFile(file) && openers.application(file).empty()) {
        showFullPicture();
        return;
    }
    viewing::OpenWithApplication(*this, file, openers);
}

void frmRecover::showFileProperties(const fs::path& file) {
    const QFileInfo info(q(file.string()));
    const QString text = QString("%1\n%2\n%3 %4\n%5 %6")
                             .arg(info.fileName(), info.absolutePath(), q(LoadStr(0, "File size:")),
                                  QLocale().toString(info.size()) + " bytes", q(LoadStr(0, "Last modified:")),
                                  QLocale().toString(info.lastModified(), QLocale::ShortFormat));
    message(s(text), LoadStr(0, "Properties"), {shell::Buttons::OK, shell::Icon::Information});
}

void frmRecover::CmdMaxSpeed_Click() {
    if (busy_.busy) return;
    {
        // Not stoppable, but other long commands wait for it.
        shell::QuietBusyGuard busy(*this, busy_, "CmdMaxSpeed");
        filesystems::CmdMaxSpeed_Click(*this, driveSession_, currentDrive_, false);
    }
    EnableButtons();
}

void frmRecover::CmdQuickUndelete_Click() {
    if (busy_.busy || currentDrive_.empty()) return;
    filesystems::QuickUndeleteOptions o;
    o.drive = currentDrive_;
    bool every = true;
    const std::vector<std::string> extensions = typesPane_->tickedExtensions(every);
    o.typeFilter = undelete::UndeleteTypeFilter(extensions, every,
                                                 driveSession_.record.DriveType == media::DriveKind::Removable);
    o.minMB = minMB_;
    o.maxMB = maxMB_;
    o.workFolder = cacheFolder_;
    bool listed = false;
    {
        // Listing is quick but may read a whole MFT: other long commands wait.
        shell::QuietBusyGuard busy(*this, busy_, "CmdQuickUndelete");
        undelete_ = std::make_unique<undelete::QuickUndelete>(*this);
        listed = undelete_->run(o);
    }
    EnableButtons();
    if (!listed) {
        undeletePane_->clear();
        return;
    }
    undeletePane_->show(undelete_->lists());
    ShowResults();
}

void frmRecover::showEntryInfo(QListWidget* list, bool deleted) {
    if (!undelete_ || busy_.busy) return;
    const int row = list->currentRow();
    if (row < 0) return;
    const long index = undelete::RowEntryIndex(s(list->item(row)->text()));
    if (index < 0) {
        // Header and spacer stand for the first entry.
        if (row < 2 && list->count() > 2) list->setCurrentRow(2);
        return;
    }
    QStringList lines;
    for (const auto& line :
         undelete::EntryInfoLines(undelete_->drive(), undelete_->entries(), static_cast<std::size_t>(index), deleted))
        lines << q(line);
    picturePane_->setFacts(lines.join('\n'));
    if (deleted) previewDeletedEntry(static_cast<std::size_t>(index));
}

void frmRecover::previewDeletedEntry(std::size_t index) {
    const auto& e = undelete_->entries()[index];
    const std::string name = e.ListName.empty() ? e.FileName : e.ListName;
    const std::string ext = fs::path(name).extension().string();
    const bool picture = viewing::HasSmallPicture(ext) || viewing::IsConverterRawType(ext) ||
                         QImageReader::supportedImageFormats().contains(
                             QByteArray::fromStdString(shell::ToLower(ext.empty() ? ext : ext.substr(1))));
    // A clip is restored whole to draw its first picture: not one of many hundred MB.
    constexpr std::uint64_t kMaxClipPreviewed = 256ull << 20;
    const formats::Format* format = formats::FormatOf(ext);
    if (!picture || (format && format->family == formats::Family::Movie && e.Size > kMaxClipPreviewed)) return;
    // Restored under its record number into the temporary folder, and drawn from there.
    const auto copy = undelete::TemporaryCopy(*undelete_, index, state().temp);
    if (!copy) {
        status(LoadStr(0, "Cannot produce a picture"));
        return;
    }
    // The panel keeps the entry's facts; the picture is what is added.
    const QString facts = picturePane_->facts();
    previewFile(*copy, name, q(name));
    picturePane_->setFacts(facts);
}

std::optional<fs::path> frmRecover::entryFile(QListWidget* list, bool deleted) {
    if (!undelete_ || busy_.busy || list->currentRow() < 0) return std::nullopt;
    const long index = undelete::RowEntryIndex(s(list->currentItem()->text()));
    if (index < 0 || static_cast<std::size_t>(index) >= undelete_->entries().size()) return std::nullopt;
    const auto& e = undelete_->entries()[static_cast<std::size_t>(index)];
    if (e.isFolder()) return std::nullopt;
    if (!deleted)
        if (auto onVolume = undelete::ListedFileOnVolume(e, driveSession_.record.MountPoint)) return onVolume;
    // A card that is not mounted (or a deleted file): its copy, made from the medium.
    if (auto copy = undelete::TemporaryCopy(*undelete_, static_cast<std::size_t>(index), state().temp)) return copy;
    message(FormatStr(LoadStr(0, "%0 could not be read from drive %1. Try Save to restore it with its details."),
                      {undelete::ShownEntryPath(e), undelete_->drive()}),
            LoadStr(0, "Open File"), {shell::Buttons::OK, shell::Icon::Exclamation});
    return std::nullopt;
}

void frmRecover::UndeleteList_MouseDown(QListWidget* list, bool deleted, const QPoint& at) {
    QListWidgetItem* item = list->itemAt(at);
    if (!item) return;
    list->setCurrentItem(item);
    if (auto file = entryFile(list, deleted)) showFileProperties(*file);
}

void frmRecover::UndeleteList_DblClick(QListWidget* list, bool deleted) {
    // One deleted file at a time: a selection of many is for saving.
    if (deleted) {
        int entries = 0;
        for (const QListWidgetItem* item : list->selectedItems())
            entries += undelete::RowEntryIndex(s(item->text())) >= 0 ? 1 : 0;
        if (entries > 1) return;
    }
    if (auto file = entryFile(list, deleted)) openFile(*file, false);
}

void frmRecover::CmdBrowse_Click() {
    if (busy_.busy) return;
    auto chosen = chooseFolder(LoadStr(1531, "Browse"), browseFolder_.string());
    if (!chosen) return;
    std::string path = *chosen;
    for (std::size_t at; (at = path.find("//")) != std::string::npos;) path.erase(at, 1);
    const fs::path folder(path);
    listFolder(folder);
    if (foundPane_->empty()) {
        message(FormatStr(LoadStr(0, "Folder %0 is empty."), {path}), LoadStr(1531, "Browse"), {});
        FillCacheBrowser();
        return;
    }
    browseFolder_ = folder;
    state().browse = folder;
    // Outside the cache the thumbnails come from the file list, not from a scan.
    if (path.find("QXCache") == std::string::npos) setCaption("CmdShowThumbs", LoadStr(371, "FileList Scan"));
    EnableButtons();
    ShowResults();
    foundPane_->setCurrentRow(0);
}

void frmRecover::CmbTypeSelect_Click(int index) {
    if (index < 0 || busy_.busy) return;
    if (typesPane_->isSizeEntry(index)) {
        // The size limits, not a preset: the ticks stay as they are.
        if (shell::AskSizeLimits(*this, minMB_, maxMB_)) status(shell::SizeLimitStatus(minMB_, maxMB_));
        typesPane_->showSizeLimits(minMB_, maxMB_);
        typesPane_->setPresetIndex(-1);
        return;
    }
    typesPane_->applyPreset(index);
}

// ---------------------------------------------------------------- close

}  // namespace hx::gui
