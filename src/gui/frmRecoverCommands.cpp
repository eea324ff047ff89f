// The window's commands: scan, the type list and its presets, the found
// file preview, thumbnails, the speed test, the quick undelete, browsing.
// The rules live in the engine's command classes; here the widgets follow.
#include "gui/frmRecover.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QScrollBar>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QTimer>
#include <QTransform>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/ThumbnailWorker.h"
#include "gui/QtSettingsStore.h"
#include "gui/frmDirChoose.h"
#include "gui/frmSearchDrives.h"
#include "gui/frmRecoverInit.h"
#include "media/DriveInfo.h"
#include "media/DriveInfoPanel.h"
#include "media/DriveRecord.h"
#include "scan/ScanCommand.h"
#include "scan/ScanDisk.h"
#include "undelete/EntryFiles.h"
#include "undelete/QuickUndelete.h"
#include "undelete/UndeleteLists.h"
#include "viewing/Exif.h"
#include "scan/ScanState.h"
#include "scan/SignatureTable.h"
#include "shell/MessageBoxRules.h"
#include "platform/Processes.h"
#include "shell/Startup.h"
#include "shell/WorkingFolders.h"
#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"

#include "gui/QtText.h"
#include "gui/SmallPicture.h"
#include "gui/FrmFullPicture.h"
#include "viewing/ExifFullText.h"
#include "viewing/ThumbnailFiles.h"
#include "viewing/OpenFile.h"
#include "viewing/RawConverter.h"
#include "viewing/PictureThumbnail.h"
#include "shell/Text.h"
#include "platform/DesktopApps.h"
#include "platform/DesktopThumbnails.h"

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

std::string frmRecover::typeSelection() const {
    // Learned types first, then the built-in ones; each pass ends with "|".
    const QString program = q(LoadStr(364, "Program"));
    std::string selection;
    for (bool builtIn : {false, true}) {
        for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
            if (item->checkState(0) != Qt::Checked || (item->text(2) == program) != builtIn) continue;
            selection += "." + s(item->text(0).toLower()) + s(item->data(1, Qt::UserRole).toString());
        }
        selection += "|";
    }
    return selection;
}

void frmRecover::runScan(const std::string& source, const fs::path& imageFolder) {
    scan::ScanRequest request;
    request.source = source;
    request.cacheFolder = cacheFolder_;
    request.imageFolder = imageFolder;
    request.selection = typeSelection();
    request.learnedFolder = state().picture;
    request.learned = checkedLearnedTypes();
    request.settings = state().store;
    request.state = &state();
    request.options.deepScan = ChkDeep->isChecked();
    request.options.damaged = ChkDamaged->isChecked();
    request.options.minMB = minMB_;
    request.options.maxMB = maxMB_;
    if (undelete_) {
        request.listing = undelete_->listedNames();
        request.listingDrive = undelete_->drive();
    }
    // Types listed on the medium that were not chosen are offered; those taken are ticked.
    request.offerListedTypes = true;
    request.typesAdded = [this](const std::vector<std::string>& types) {
        for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
            for (const auto& ext : types)
                if (item->text(2) != "Adaptive" && item->text(0).toLower() == q(ext.substr(1)))
                    item->setCheckState(0, Qt::Checked);
        }
    };
    std::optional<shell::BusyGuard> busy;
    request.beforeScan = [this, &busy] {
        cacheFolder_ = state().cache;  // another may have been chosen for want of room
        FillCacheBrowser();  // the cache may just have been emptied
        busy.emplace(*this, busy_, "CmdScan", LoadStr(38, "Scan"));
        CmbTypeSelect->setVisible(false);
        ShowResults();
        // Finds are listed as they come; the picture's facts wait for one to be chosen.
        txtExif->clear();
        lblInfo->clear();
        liveIcons_.clear();
        liveScan_ = true;
    };
    scan::ScanCommand command(*this, std::move(request));
    const std::optional<scan::ScanOutcome> outcome = command.run();
    liveScan_ = false;
    if (thumbnailWorker_) thumbnailWorker_->clear();
    busy.reset();
    CmbTypeSelect->setVisible(true);
    if (!outcome) return;
    ProgressBar1->setVisible(false);
    lastScanOutcome_ = static_cast<int>(*outcome);
    FillCacheBrowser();
    EnableButtons();
    if (cacheHasFiles()) List3->setCurrentRow(0);
    else ShowStartPage();
}

void frmRecover::fillTypeList() {
    LvwTypes->clear();
    const QString program = q(LoadStr(364, "Program"));
    QSet<QString> seen;
    for (const scan::SignatureRow& row : scan::EveryRow()) {
        if (row.Extension.size() < 2 || seen.contains(q(row.key()))) continue;
        seen.insert(q(row.key()));
        auto* item = new QTreeWidgetItem(LvwTypes);
        item->setText(0, q(row.Extension.substr(1)).toUpper());
        item->setText(1, q(row.Description.empty() ? scan::Described(row.DisplayName) : row.Description));
        item->setData(1, Qt::UserRole, q(row.DisplayName));
        item->setText(2, program);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    addLearnedTypeRows();
    // The check marks of the last run, row for row.
    const auto& rows = state().settings.typeRows;
    for (int i = 0; i < LvwTypes->topLevelItemCount() && i < static_cast<int>(rows.size()); ++i) {
        QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        if (item->text(0) == q(rows[i].text)) item->setCheckState(0, rows[i].checked ? Qt::Checked : Qt::Unchecked);
    }
    for (int c = 0; c < LvwTypes->columnCount(); ++c) LvwTypes->resizeColumnToContents(c);
}

void frmRecover::requestFullFile() {
    const int row = shownRow_;
    if (row < 0 || row >= foundNames_.size() || busy_.busy) return;
    const QString stem = foundNames_[row].section('.', 0, 0);
    QListWidget* view = LvwFiles->isVisible() ? LvwFiles : List3;
    for (int r = 0; r < view->count() && r < static_cast<int>(foundSizes_.size()); ++r)
        if (r != row && view->item(r)->isSelected() && foundNames_[r].section('.', 0, 0) == stem)
            foundSizes_[static_cast<std::size_t>(r)] = foundSizes_[static_cast<std::size_t>(row)];
    fullFile_ = true;
    showFoundFile(row);
    fullFile_ = false;
}

void frmRecover::zoomPicture(QPoint at) {
    if (lastPicture_.isNull()) return;
    const QPixmap fitted = lastPicture_.scaled(Picture1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (zoomed_ || fitted.width() >= lastPicture_.width()) {
        Picture1->setPixmap(fitted);
        zoomed_ = false;
        return;
    }
    // The fitted picture lies in the middle of the preview: the point under
    // the mouse in the picture itself, then a preview-sized piece around it.
    const QPoint origin((Picture1->width() - fitted.width()) / 2, (Picture1->height() - fitted.height()) / 2);
    const double scale = static_cast<double>(lastPicture_.width()) / fitted.width();
    const QPoint centre((at - origin).x() * scale, (at - origin).y() * scale);
    QRect piece(QPoint(0, 0), Picture1->size().boundedTo(lastPicture_.size()));
    piece.moveCenter(centre);
    piece.moveLeft(std::clamp(piece.left(), 0, lastPicture_.width() - piece.width()));
    piece.moveTop(std::clamp(piece.top(), 0, lastPicture_.height() - piece.height()));
    Picture1->setPixmap(lastPicture_.copy(piece));
    zoomed_ = true;
}

void frmRecover::fileFound(const std::string& name) {
    if (!liveScan_ || activeFolder_ != cacheFolder_) return;
    const fs::path file = cacheFolder_ / name;
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec) return;
    const QString shown = q(name);
    foundNames_ << shown;
    foundSizes_.push_back(size);
    List3->addItem(shown);
    new QListWidgetItem(QString(shown).replace("R#", "File "), LvwFiles);
    if (resultViews_->currentWidget() != LvwFiles) return;
    // The thumbnails show: this one is drawn on the worker's thread.
    if (!thumbnailWorker_)
        thumbnailWorker_ = std::make_unique<ThumbnailWorker>(this, [this](const QString& done, const QImage& picture) {
            if (picture.isNull()) return;
            const QIcon icon(QPixmap::fromImage(picture));
            liveIcons_.insert(done, icon);
            const int row = foundNames_.indexOf(done);
            if (row >= 0 && row < LvwFiles->count()) LvwFiles->item(row)->setIcon(icon);
        });
    const int width = std::clamp(TxtWidth->text().toInt(), viewing::kMinThumbnailWidth, viewing::kMaxThumbnailWidth);
    thumbnailWorker_->request(shown, file, activeThumbsFolder(), QSize(width, width * 3 / 4));
}

void frmRecover::showFoundFile(int row) {
    // A find is shown while the scan goes on; other work shows it when done.
    if (busy_.busy && !liveScan_) {
        // Shown by the watcher once the operation is over.
        selectionPending_ = true;
        return;
    }
    if (row < 0 || row >= foundNames_.size()) return;
    shownRow_ = row;
    const QString path = q((activeFolder_ / s(foundNames_[row])).string());
    const QFileInfo info(path);
    const QString shown = QString(foundNames_[row]).replace("R#", "File ");
    if (info.size() == 0) {
        status(LoadStr(0, "File has no file length."));
        return;
    }
    lblInfo->setText(QLocale().toString(static_cast<double>(info.size()) / 1024.0, 'f', 0) + " kB " + shown);
    previewFile(s(path), s(foundNames_[row]), shown);
}

void frmRecover::previewFile(const fs::path& file, const std::string& rotationKey, const QString& shown) {
    const QString path = q(file.string());
    QImage picture;
    const bool whole = picture.load(path);
    std::string mode = whole ? LoadStr(0, "Display Full File") : LoadStr(0, "Display Embedded Thumb");
    int width = picture.width(), height = picture.height();
    if (!whole) {
        // HEIC, AVIF and camera raws: the picture libheif or the raw's own preview gives.
        picture = SmallPicture(s(path), std::max(Picture1->width(), 320));
        viewing::ExifValues size;
        viewing::ReadExifFile(s(path), size);
        width = size.width;
        height = size.height;
    }
    if (fullFile_ && viewing::IsConverterRawType(file.extension().string())) {
        // The whole picture asked for: the converter decodes it in full.
        const fs::path made = viewing::ConvertRaw(file, state().conv, viewing::RawOutput::Full, kConverterTimeoutMs,
                                                  [this] { yield(); });
        QImage full;
        if (!made.empty() && full.load(q(made.string()))) {
            picture = full;
            mode = LoadStr(0, "Display Full File");
            width = picture.width();
            height = picture.height();
        } else {
            status(FormatStr(LoadStr(0, "The raw converter could not decode %0 in full."), {file.filename().string()}));
        }
    }
    if (picture.isNull() && viewing::IsConverterRawType(file.extension().string())) {
        // A raw we cannot open ourselves: the converter's preview, else its half-size picture.
        const auto wait = [this] { yield(); };
        fs::path made = viewing::ConvertRaw(file, state().conv, viewing::RawOutput::EmbeddedPreview,
                                            kConverterTimeoutMs, wait);
        if (made.empty() || !picture.load(q(made.string()))) {
            made = viewing::ConvertRaw(file, state().conv, viewing::RawOutput::HalfSize, kConverterTimeoutMs, wait);
            if (!made.empty() && picture.load(q(made.string()))) mode = LoadStr(0, "Display Full File");
        }
    }
    if (picture.isNull()) {
        showUndrawable(file);
        return;
    }
    {
        lastPicture_ = QPixmap::fromImage(adjustedPicture(picture, rotationKey));
        Picture1->setPixmap(lastPicture_.scaled(Picture1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        zoomed_ = false;
        lblPictureMode->setText(q(mode));
        // The camera's facts, one "key value" line each.
        viewing::ExifValues exif;
        QStringList lines;
        lines << q(LoadStr(1416, "File:")) + " " + shown;
        if (viewing::ReadExifFile(s(path), exif)) {
            // Labels in the user's language.
            if (!exif.make.empty()) lines << q(LoadStr(1551, "Make")) + "  " + q(exif.make);
            if (!exif.model.empty()) lines << q(LoadStr(1552, "Model")) + "  " + q(exif.model);
            if (!exif.date.empty()) lines << q(LoadStr(1555, "DTOrigin")) + "  " + q(exif.date);
        }
        if (width > 0 && height > 0)
            lines << q(LoadStr(1549, "ImageWidth")) + QString("  %1").arg(width)
                  << q(LoadStr(1550, "ImageHeight")) + QString("  %1").arg(height);
        // Below them everything else the picture holds (maker notes, user comment, ...).
        const auto full = viewing::ExifFullText(s(path));
        if (!full.empty()) {
            lines << "";
            for (const auto& l : full) lines << q(l);
        }
        txtExif->setPlainText(lines.join('\n'));
    }
}

QImage frmRecover::desktopThumbnail(const fs::path& file, const fs::path& thumbs, int width,
                                    std::set<std::string>& noThumbnailer) {
    const std::string ext = shell::ToLower(file.extension().string());
    if (noThumbnailer.count(ext)) return {};
    const platform::DesktopThumb made = platform::MakeDesktopThumb(
        file, state().temp / "SystemThumbs", width, kThumbnailerTimeoutMs,
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    if (made.outcome == platform::DesktopThumbOutcome::NoThumbnailer) noThumbnailer.insert(ext);
    if (made.outcome != platform::DesktopThumbOutcome::Made) return {};
    QImage picture(q(made.picture.string()));
    std::error_code ec;
    fs::remove(made.picture, ec);
    if (picture.isNull()) return {};
    // Kept as the file's thumbnail, like those of the pictures: made once.
    if (picture.width() > width) picture = picture.scaledToWidth(width, Qt::SmoothTransformation);
    fs::create_directories(thumbs, ec);
    picture.save(q((thumbs / viewing::ThumbnailFileName(file.filename().string())).string()), "JPG", 98);
    return picture;
}

void frmRecover::showUndrawable(const fs::path& file) {
    // The file's icon, and why there is no picture, one reason per part.
    lastPicture_ = QPixmap();
    txtExif->clear();
    // The desktop's thumbnailer for the type, else the type's icon.
    const platform::DesktopThumb thumb = platform::MakeDesktopThumb(
        file, state().temp / "SystemThumbs", std::max(Picture1->width(), Picture1->height()), kThumbnailerTimeoutMs,
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    const QImage thumbPicture(q(thumb.picture.string()));
    if (thumb.outcome == platform::DesktopThumbOutcome::Made && !thumbPicture.isNull()) {
        Picture1->setPixmap(QPixmap::fromImage(thumbPicture).scaled(Picture1->size(), Qt::KeepAspectRatio,
                                                                    Qt::SmoothTransformation));
        lblPictureMode->setText(q(LoadStr(0, "Display System Thumb")));
    } else {
        Picture1->setPixmap(QFileIconProvider().icon(QFileInfo(q(file.string()))).pixmap(96, 96));
        lblPictureMode->setText(q(LoadStr(0, "Display System Icon")));
    }
    std::string ext = file.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    const bool pictureType = viewing::HasSmallPicture(file.extension().string()) ||
                             viewing::IsConverterRawType(file.extension().string()) ||
                             QImageReader::supportedImageFormats().contains(QByteArray::fromStdString(shell::ToLower(ext)));
    std::string why = pictureType ? LoadStr(0, "Failed rendering a picture.")
                                  : FormatStr(LoadStr(0, "Not able to render the %0 file type."), {shell::ToUpper(ext)});
    if (thumb.outcome != platform::DesktopThumbOutcome::Made || thumbPicture.isNull())
        why += "  " + (thumb.outcome == platform::DesktopThumbOutcome::NoThumbnailer
                           ? LoadStr(0, "No Windows thumbnailer is associated.")
                           : LoadStr(0, "Failed getting a system thumb."));
    const std::string app = platform::DefaultApplicationFor(file);
    why += "  " + (app.empty() ? LoadStr(0, "Also no Windows application associated.")
                               : LoadStr(0, "Double click for showing with") + " " + app);
    status(why);
}

QImage frmRecover::adjustedPicture(const QImage& picture, const std::string& file) const {
    QImage out = picture;
    if (const int turns = viewing::PreviewAdjustments::quarterTurns(adjustments_.rotation(file)))
        out = out.transformed(QTransform().rotate(90.0 * turns));
    if (adjustments_.filter) {
        out = out.convertToFormat(QImage::Format_RGB888);
        viewing::RgbPicture p;
        p.width = static_cast<unsigned>(out.width());
        p.height = static_cast<unsigned>(out.height());
        p.pixels.resize(static_cast<std::size_t>(p.width) * p.height * 3);
        for (int y = 0; y < out.height(); ++y)
            std::memcpy(&p.pixels[static_cast<std::size_t>(y) * p.width * 3], out.constScanLine(y), p.width * 3);
        viewing::ApplyPictureFilter(p, *adjustments_.filter);
        for (int y = 0; y < out.height(); ++y)
            std::memcpy(out.scanLine(y), &p.pixels[static_cast<std::size_t>(y) * p.width * 3], p.width * 3);
    }
    return out;
}

void frmRecover::showFullPicture() {
    if (lastPicture_.isNull() || shownRow_ < 0 || shownRow_ >= foundNames_.size()) return;
    const std::string folder = state().saveAs.empty() ? saveFolder_.string() : state().saveAs.string();
    auto* full = new FrmFullPicture(*this, lastPicture_, s(foundNames_[shownRow_]), folder, this);
    full->show();
    full->activateWindow();
    full->setFocus();
}

void frmRecover::ListFilters_Click(int index) {
    ListFilters->setVisible(false);
    const bool haveFile = shownRow_ >= 0 && shownRow_ < foundNames_.size();
    const std::string file = haveFile ? s(foundNames_[shownRow_]) : std::string();
    switch (index) {
        case 1:
            if (haveFile) {
                // The file's facts, as a file manager's properties would give them.
                const QFileInfo info(q((activeFolder_ / file).string()));
                message(s(info.fileName()) + "\n" + s(info.absolutePath()) + "\n" +
                            s(QLocale().toString(info.size())) + " bytes\n" +
                            s(QLocale().toString(info.lastModified(), QLocale::LongFormat)),
                        LoadStr(1501, "File Info"), {shell::Buttons::OK, shell::Icon::Information});
            }
            return;
        case 2: adjustments_.setRotation(file, 6); break;
        case 3: adjustments_.setRotation(file, 8); break;
        case 4: adjustments_.setRotation(file, 3); break;
        case 5: adjustments_.setRotation(file, 0); break;
        case 6: case 7: case 8: case 9:
            adjustments_.filter = viewing::PictureFilterNamed(s(ListFilters->item(index)->text()));
            break;
        case 10:
            if (!adjustments_.filter) return;
            adjustments_.filter.reset();
            break;
        default: return;
    }
    if (haveFile) showFoundFile(shownRow_);
}

void frmRecover::CmdShowScanTypes_Click() {
    if (pages_->currentWidget() == pageTypes_) {
        if (cacheHasFiles()) ShowResults();
        else ShowStartPage();
    } else {
        pages_->setCurrentWidget(pageTypes_);
        previewPane_->setVisible(false);
        CmdShowScanTypes->setChecked(true);
        // Choosing a drive hides the presets; with the list they are back.
        CmbTypeSelect->setVisible(true);
        LvwTypes->scrollToTop();
    }
}

void frmRecover::CmdShowThumbs_Click() {
    if (busy_.busy) return;  // a scan runs
    if (rendering_) {
        // Stops after the file at hand; the thumbnails made so far stay.
        rendering_ = false;
        return;
    }
    if (foundNames_.isEmpty()) {
        message(LoadStr(0, "Cache folders are empty."), LoadStr(0, "Show thumbs/files"), {});
        return;
    }
    ShowResults();
    const bool toThumbs = resultViews_->currentWidget() == List3;
    resultViews_->setCurrentWidget(toThumbs ? static_cast<QWidget*>(LvwFiles) : static_cast<QWidget*>(List3));
    if (toThumbs) loadThumbnails();
    UpdateThumbsCaption();
}

void frmRecover::UpdateThumbsCaption() {
    setCaption("CmdShowThumbs", resultViews_->currentWidget() == LvwFiles ? LoadStr(371, "FileList Scan")
                                                                          : LoadStr(282, "Thumbs Scan"));
}

void frmRecover::CmdRenderWidth_Click() {
    if (busy_.busy) return;
    const int width = viewing::AcceptedThumbnailWidth(TxtWidth->text().toInt());
    if (width == 0) {
        // Wider than the list can show: the width stays.
        TxtWidth->setText(QString::number(thumbnailWidth_));
        return;
    }
    TxtWidth->setText(QString::number(width));
    thumbnailWidth_ = width;
    viewing::RemoveThumbnailFiles(activeThumbsFolder());
    for (int i = 0; i < LvwFiles->count(); ++i) LvwFiles->item(i)->setIcon(QIcon());
    ShowResults();
    resultViews_->setCurrentWidget(LvwFiles);
    loadThumbnails();
}

void frmRecover::loadThumbnails() {
    const int width = std::clamp(TxtWidth->text().toInt(), viewing::kMinThumbnailWidth, viewing::kMaxThumbnailWidth);
    thumbnailWidth_ = width;
    LvwFiles->setIconSize(QSize(width, width * 3 / 4));
    LvwFiles->setGridSize(QSize(width + 24, width * 3 / 4 + 36));
    LvwFiles->doItemsLayout();
    // Pictures we draw ourselves are kept as thumbnail files, made once; other
    // pictures Qt reads (PNG, GIF, BMP, ...) are scaled as they are read.
    const fs::path thumbs = activeThumbsFolder();
    const std::size_t files = std::min<std::size_t>(LvwFiles->count(), foundNames_.size());
    const std::size_t budget = viewing::ThumbnailBudget(width, files);
    rendering_ = true;
    setCaption("CmdShowThumbs", LoadStr(0, "Rendering") + "...");
    QElapsedTimer clock;
    clock.start();
    qint64 nextReport = 10000;  // the first after 10 s, then every 3 s
    std::size_t done = 0;
    std::set<std::string> noThumbnailer;  // extensions whose first file had no desktop thumbnailer
    for (std::size_t i = 0; i < budget && rendering_; ++i) {
        QListWidgetItem* item = LvwFiles->item(static_cast<int>(i));
        if (clock.elapsed() >= nextReport) {
            const double elapsed = clock.elapsed() / 1000.0;
            const double toGo = done > 0 ? elapsed / static_cast<double>(done) * static_cast<double>(budget - i) : 0;
            progress(static_cast<double>(i) / static_cast<double>(budget),
                     FormatStr(LoadStr(0, "Elapsed: %0 && to go: %1 seconds"),
                               {std::to_string(std::lround(elapsed)), std::to_string(std::lround(toGo))}));
            nextReport = clock.elapsed() + 3000;
        }
        if (!item->icon().isNull()) continue;
        ++done;
        const fs::path file = activeFolder_ / s(foundNames_[static_cast<int>(i)]);
        QImage thumb;
        if (const fs::path made = viewing::ThumbnailFile(file, thumbs, width); !made.empty()) thumb.load(q(made.string()));
        if (thumb.isNull()) {
            QImageReader reader(q(file.string()));
            const QSize full = reader.size();
            if (full.isValid()) reader.setScaledSize(full.scaled(LvwFiles->iconSize(), Qt::KeepAspectRatio));
            thumb = reader.read();
        }
        if (thumb.isNull()) thumb = desktopThumbnail(file, thumbs, width, noThumbnailer);
        if (!thumb.isNull())
            item->setIcon(QIcon(QPixmap::fromImage(thumb.width() > width || thumb.height() > width * 3 / 4
                                                       ? thumb.scaled(LvwFiles->iconSize(), Qt::KeepAspectRatio,
                                                                      Qt::SmoothTransformation)
                                                       : thumb)));
        yield();
    }
    const bool stopped = !rendering_;
    rendering_ = false;
    ProgressBar1->setVisible(false);
    UpdateThumbsCaption();
    LvwFiles->doItemsLayout();
    LvwFiles->horizontalScrollBar()->setValue(0);
    if (files > budget && !stopped)
        message(LoadStr(0, "Ran out of memory for thumbnails.") + "\n" +
                    shell::FormatStr(LoadStr(0, "Please save or delete files for showing the remaining %0 thumbnails."),
                                     {std::to_string(files - budget)}),
                LoadStr(0, "Show thumbs/files"), {shell::Buttons::OK, shell::Icon::Information});
}

void frmRecover::CmdShowFolder_Click() {
    const bool cache = caption("CmdShowFolder") == shell::LocalCaption("CmdShowFolder");
    const fs::path folder = cache ? activeFolder_ : browseFolder_;
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
    const int row = List3->currentRow();
    if (row < 0 || row >= foundNames_.size()) return;
    shownRow_ = row;
    openFile(activeFolder_ / s(foundNames_[row]), doubleClick);
}

void frmRecover::openFile(const fs::path& file, bool doubleClick) {
    viewing::FileOpeners openers;
    openers.open = [this](const fs::path& p) { return openUrl(QUrl::fromLocalFile(q(p.string()))); };
    openers.application = [](const fs::path& p) { return platform::DefaultApplicationFor(p); };
    openers.properties = [this](const fs::path& p) { showFileProperties(p); };
    // A double click on a picture no application takes shows it large instead.
    if (doubleClick && !lastPicture_.isNull() && !platform::IsProgramFile(file) && openers.application(file).empty()) {
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
        media::CmdMaxSpeed_Click(*this, driveSession_, currentDrive_, false);
    }
    EnableButtons();
}

void frmRecover::CmdQuickUndelete_Click() {
    if (busy_.busy || currentDrive_.empty()) return;
    undelete::QuickUndeleteOptions o;
    o.drive = currentDrive_;
    std::vector<std::string> extensions;
    bool every = true;
    for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked) extensions.push_back(s(item->text(0).toLower()));
        else every = false;
    }
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
    List1->clear();
    List2->clear();
    if (!listed) return;
    for (const auto& row : undelete_->lists().list1) List1->addItem(q(row));
    for (const auto& row : undelete_->lists().list2) List2->addItem(q(row));
    findChild<QWidget*>("undeleteLists")->setVisible(true);
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
    txtExif->setPlainText(lines.join('\n'));
    if (deleted) previewDeletedEntry(static_cast<std::size_t>(index));
}

void frmRecover::previewDeletedEntry(std::size_t index) {
    const auto& e = undelete_->entries()[index];
    const std::string name = e.ListName.empty() ? e.FileName : e.ListName;
    const std::string ext = fs::path(name).extension().string();
    const bool picture = viewing::HasSmallPicture(ext) || viewing::IsConverterRawType(ext) ||
                         QImageReader::supportedImageFormats().contains(
                             QByteArray::fromStdString(shell::ToLower(ext.empty() ? ext : ext.substr(1))));
    if (!picture) return;
    // Restored under its record number into the temporary folder, and drawn from there.
    const auto copy = undelete::TemporaryCopy(*undelete_, index, state().temp);
    if (!copy) {
        status(LoadStr(0, "Cannot produce a picture"));
        return;
    }
    // The panel keeps the entry's facts; the picture is what is added.
    const QString facts = txtExif->toPlainText();
    previewFile(*copy, name, q(name));
    txtExif->setPlainText(facts);
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
                      {undelete::EntryPathText(e), undelete_->drive()}),
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
    if (foundNames_.isEmpty()) {
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
    List3->setCurrentRow(0);
}

void frmRecover::CmbTypeSelect_Click(int index) {
    if (index < 0 || busy_.busy) return;
    if (CmbTypeSelect->itemData(index).toString() == "size") {
        // The size limits, not a preset: the ticks stay as they are.
        if (shell::AskSizeLimits(*this, minMB_, maxMB_)) status(shell::SizeLimitStatus(minMB_, maxMB_));
        CmbTypeSelect->setItemText(index, q(shell::SizeLimitEntry(minMB_, maxMB_)));
        CmbTypeSelect->setToolTip(q(shell::TypeSelectTooltip(minMB_, maxMB_)));
        CmbTypeSelect->setCurrentIndex(-1);
        return;
    }
    if (CmbTypeSelect->currentIndex() != index) CmbTypeSelect->setCurrentIndex(index);
    // Presets are known by their English names; the camera brands have no other.
    const auto& localised = shell::TypePresetEntries();
    const std::string name = index < static_cast<int>(localised.size()) ? localised[index].english
                                                                        : s(CmbTypeSelect->itemText(index));
    const bool all = name == "All types possible";
    QSet<QString> wanted;
    for (const auto& t : scan::PresetTypes(name)) wanted.insert(q(t).toUpper());
    for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        item->setCheckState(0, all || wanted.contains(item->text(0).toUpper()) ? Qt::Checked : Qt::Unchecked);
    }
}

// ---------------------------------------------------------------- close

}  // namespace hx::gui
