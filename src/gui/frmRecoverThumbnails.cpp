// The thumbnails of the window: drawn as finds come while a scan runs (on
// the worker's thread), made for a whole folder on request, the desktop's
// own thumbnailer for files we cannot draw.
#include "gui/frmRecover.h"
#include "gui/panes/FoundFilesPane.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <QElapsedTimer>
#include <QImageReader>
#include <QWidget>
#include <QProgressBar>
#include <QListWidget>
#include <QLineEdit>

#include "gui/QtSettingsStore.h"
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

namespace hx::gui {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

void frmRecover::fileFound(const std::string& name) {
    if (!liveScan_ || foundPane_->folder() != cacheFolder_) return;
    std::error_code ec;
    if (!fs::is_regular_file(cacheFolder_ / name, ec)) return;
    foundPane_->add(q(name));
    if (!foundPane_->thumbnailsShown()) return;
    // The thumbnails show: this one is drawn on the worker's thread.
    const int width = std::clamp(TxtWidth->text().toInt(), viewing::kMinThumbnailWidth, viewing::kMaxThumbnailWidth);
    foundPane_->drawLive(q(name), activeThumbsFolder(), QSize(width, width * 3 / 4));
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

void frmRecover::CmdShowThumbs_Click() {
    if (busy_.busy) return;  // a scan runs
    if (rendering_) {
        // Stops after the file at hand; the thumbnails made so far stay.
        rendering_ = false;
        return;
    }
    if (foundPane_->empty()) {
        message(LoadStr(0, "Cache folders are empty."), LoadStr(0, "Show thumbs/files"), {});
        return;
    }
    ShowResults();
    const bool toThumbs = !foundPane_->thumbnailsShown();
    foundPane_->showThumbnails(toThumbs);
    if (toThumbs) loadThumbnails();
    UpdateThumbsCaption();
}

void frmRecover::UpdateThumbsCaption() {
    setCaption("CmdShowThumbs", foundPane_->thumbnailsShown() ? LoadStr(371, "FileList Scan")
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
    foundPane_->setThumbnailWidth(width, true);
    ShowResults();
    foundPane_->showThumbnails(true);
    loadThumbnails();
}

void frmRecover::loadThumbnails() {
    const int width = std::clamp(TxtWidth->text().toInt(), viewing::kMinThumbnailWidth, viewing::kMaxThumbnailWidth);
    thumbnailWidth_ = width;
    foundPane_->setThumbnailWidth(width);
    // Pictures we draw ourselves are kept as thumbnail files, made once; other
    // pictures Qt reads (PNG, GIF, BMP, ...) are scaled as they are read.
    const fs::path thumbs = activeThumbsFolder();
    foundPane_->setThumbsFolder(thumbs);
    // Every thumbnail becomes a file; the window holds only those in view.
    const std::size_t budget = static_cast<std::size_t>(foundPane_->count());
    rendering_ = true;
    setCaption("CmdShowThumbs", LoadStr(0, "Rendering") + "...");
    QElapsedTimer clock;
    clock.start();
    qint64 nextReport = 10000;  // the first after 10 s, then every 3 s
    std::size_t done = 0;
    std::set<std::string> noThumbnailer;  // extensions whose first file had no desktop thumbnailer
    for (std::size_t i = 0; i < budget && rendering_; ++i) {
        const int row = static_cast<int>(i);
        if (clock.elapsed() >= nextReport) {
            const double elapsed = clock.elapsed() / 1000.0;
            const double toGo = done > 0 ? elapsed / static_cast<double>(done) * static_cast<double>(budget - i) : 0;
            progress(static_cast<double>(i) / static_cast<double>(budget),
                     FormatStr(LoadStr(0, "Elapsed: %0 & to go: %1 seconds"),
                               {std::to_string(std::lround(elapsed)), std::to_string(std::lround(toGo))}));
            nextReport = clock.elapsed() + 3000;
        }
        if (foundPane_->hasThumbnail(row)) continue;
        ++done;
        const fs::path file = foundPane_->file(row);
        QImage thumb;
        if (const fs::path made = viewing::ThumbnailFile(file, thumbs, width); !made.empty()) thumb.load(q(made.string()));
        if (thumb.isNull()) {
            QImageReader reader(q(file.string()));
            const QSize full = reader.size();
            if (full.isValid()) reader.setScaledSize(full.scaled(foundPane_->thumbnailBox(), Qt::KeepAspectRatio));
            thumb = reader.read();
        }
        if (thumb.isNull()) thumb = desktopThumbnail(file, thumbs, width, noThumbnailer);
        foundPane_->setThumbnail(row, thumb);
        yield();
    }
    rendering_ = false;
    ProgressBar1->setVisible(false);
    UpdateThumbsCaption();
    foundPane_->relayOut();
}

}  // namespace hx::gui
