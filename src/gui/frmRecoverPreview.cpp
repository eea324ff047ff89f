// The preview of the window: a found file drawn with its camera values, the
// whole raw on request, the zoom, the rotations and filters, the full view.
#include "gui/frmRecover.h"
#include "gui/panes/FoundFilesPane.h"
#include "gui/panes/PicturePane.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <QElapsedTimer>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QImageReader>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTimer>

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
#include "formats/Formats.h"
#include "formats/SignatureTable.h"
#include "shell/MessageBoxRules.h"
#include "platform/Processes.h"
#include "shell/Startup.h"
#include "shell/WorkingFolders.h"
#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"

#include "gui/QtText.h"
#include "gui/SmallPicture.h"
#include "gui/dialogs/FrmFullPicture.h"
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

void frmRecover::requestFullFile() {
    const int row = shownRow_;
    if (row < 0 || row >= foundPane_->count() || busy_.busy) return;
    fullFile_ = true;
    showFoundFile(row);
    fullFile_ = false;
}

void frmRecover::zoomPicture(QPoint at) { picturePane_->zoom(at); }

bool frmRecover::pictureZoomed() const { return picturePane_->zoomed(); }

void frmRecover::showFoundFile(int row) {
    // A find is shown while the scan goes on; other work shows it when done.
    if (busy_.busy && !liveScan_) {
        // Shown by the watcher once the operation is over.
        selectionPending_ = true;
        return;
    }
    if (row < 0 || row >= foundPane_->count()) return;
    shownRow_ = row;
    const QString name = foundPane_->names()[row];
    const QString path = q(foundPane_->file(row).string());
    const QFileInfo info(path);
    const QString shown = QString(name).replace("R#", "File ");
    if (info.size() == 0) {
        stopClip();
        clip_ = {};
        picturePane_->offerClip({});
        status(LoadStr(0, "File has no file length."));
        return;
    }
    QString facts = QLocale().toString(static_cast<double>(info.size()) / 1024.0, 'f', 0) + " kB " + shown;
    if (const auto rebuilt = rebuiltOf_.find(s(name)); rebuilt != rebuiltOf_.end()) facts += " — " + q(rebuilt->second);
    if (const auto damage = damageOf_.find(s(name)); damage != damageOf_.end()) facts += " — " + q(damage->second);
    picturePane_->setInfo(facts);
    previewFile(s(path), s(name), shown, foundPane_->markedWithClip(row));
}

void frmRecover::previewFile(const fs::path& file, const std::string& rotationKey, const QString& shown,
                             std::optional<bool> withClip) {
    const QString path = q(file.string());
    // A clip of its own is played where its first picture is shown.
    const formats::Format* format = formats::FormatOf(file.extension().string());
    const bool clipFile = format && format->family == formats::Family::Movie;
    if (!withClip) withClip = !clipFile && viewing::HasPhotoClip(file);
    stopClip();
    clip_ = {*withClip || clipFile ? file : fs::path(), rotationKey, shown, !clipFile, false};
    picturePane_->offerClip(clip_.file.empty() ? QString()
                            : clipFile         ? q(LoadStr(0, "Play the clip"))
                                               : q(LoadStr(0, "Show the clip")));
    QImage picture;
    const bool whole = picture.load(path);
    std::string mode = whole ? LoadStr(0, "Display Full File") : LoadStr(0, "Display Embedded Thumb");
    int width = picture.width(), height = picture.height();
    if (!whole) {
        // HEIC, AVIF and camera raws: the picture libheif or the raw's own preview gives.
        picture = SmallPicture(s(path), std::max(picturePane_->pictureSize().width(), 320));
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
        picturePane_->showAdjusted(picture, rotationKey, q(mode));
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
        picturePane_->setFacts(lines.join('\n'));
    }
}

void frmRecover::toggleClipPicture() {
    if (clip_.file.empty()) return;
    if (clip_.clipShown) {
        const ShownClip shown = clip_;
        previewFile(shown.file, shown.rotationKey, shown.shown, shown.inPhoto);
        return;
    }
    const int width = std::max(picturePane_->pictureSize().width(), 320);
    clipFrames_ = viewing::OpenClipFrames(clip_.file, clip_.inPhoto, static_cast<unsigned>(width));
    viewing::RgbPicture first;
    if (!clipFrames_ || !clipFrames_->next(first)) {
        clipFrames_.reset();
        status(FormatStr(LoadStr(0, "The clip of %0 could not be drawn."), {s(clip_.shown)}));
        return;
    }
    picturePane_->showPicture(QPixmap::fromImage(ToQImage(first)), q(LoadStr(0, "Playing the clip")));
    picturePane_->offerClip(q(clip_.inPhoto ? LoadStr(0, "Show the photo") : LoadStr(0, "Stop the clip")));
    clip_.clipShown = true;
    clipTimer_->start(clipFrames_->millisecondsEach());
}

void frmRecover::showNextClipPicture() {
    QElapsedTimer spent;
    spent.start();
    viewing::RgbPicture next;
    // The picture shown last stays when none follows.
    if (!clip_.clipShown || !clipFrames_ || !clipFrames_->next(next)) return;
    picturePane_->showPicture(QPixmap::fromImage(ToQImage(next)), q(LoadStr(0, "Playing the clip")));
    // A clip too large to draw at its pace plays slower: the window keeps at
    // least half of its time.
    const int took = static_cast<int>(spent.elapsed());
    clipTimer_->start(std::max(clipFrames_->millisecondsEach() - took, took));
}

void frmRecover::stopClip() {
    clipTimer_->stop();
    clipFrames_.reset();
}

void frmRecover::showUndrawable(const fs::path& file) {
    // The file's icon, and why there is no picture, one reason per part.
    picturePane_->setFacts({});
    // The desktop's thumbnailer for the type, else the type's icon.
    const platform::DesktopThumb thumb = platform::MakeDesktopThumb(
        file, state().temp / "SystemThumbs", std::max(picturePane_->pictureSize().width(), picturePane_->pictureSize().height()), kThumbnailerTimeoutMs,
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    const QImage thumbPicture(q(thumb.picture.string()));
    if (thumb.outcome == platform::DesktopThumbOutcome::Made && !thumbPicture.isNull()) {
        picturePane_->showStandIn(QPixmap::fromImage(thumbPicture).scaled(picturePane_->pictureSize(), Qt::KeepAspectRatio,
                                                                          Qt::SmoothTransformation),
                                  q(LoadStr(0, "Display System Thumb")));
    } else {
        picturePane_->showStandIn(QFileIconProvider().icon(QFileInfo(q(file.string()))).pixmap(96, 96),
                                  q(LoadStr(0, "Display System Icon")));
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
                           ? LoadStr(0, "No thumbnailer of the desktop is associated.")
                           : LoadStr(0, "Failed getting a system thumb."));
    const std::string app = platform::DefaultApplicationFor(file);
    why += "  " + (app.empty() ? LoadStr(0, "Also no application is associated.")
                               : LoadStr(0, "Double click for showing with") + " " + app);
    status(why);
}

void frmRecover::showFullPicture() {
    if (picturePane_->picture().isNull() || shownRow_ < 0 || shownRow_ >= foundPane_->count()) return;
    const std::string folder = state().saveAs.empty() ? saveFolder_.string() : state().saveAs.string();
    auto* full = new FrmFullPicture(*this, picturePane_->picture(), s(foundPane_->names()[shownRow_]), folder, this);
    full->show();
    full->activateWindow();
    full->setFocus();
}

void frmRecover::ListFilters_Click(int index) {
    ListFilters->setVisible(false);
    const bool haveFile = shownRow_ >= 0 && shownRow_ < foundPane_->count();
    const std::string file = haveFile ? s(foundPane_->names()[shownRow_]) : std::string();
    viewing::PreviewAdjustments& adjustments = picturePane_->adjustments();
    switch (index) {
        case 1:
            if (haveFile) {
                // The file's facts, as a file manager's properties would give them.
                const QFileInfo info(q((foundPane_->folder() / file).string()));
                message(s(info.fileName()) + "\n" + s(info.absolutePath()) + "\n" +
                            s(QLocale().toString(info.size())) + " bytes\n" +
                            s(QLocale().toString(info.lastModified(), QLocale::LongFormat)),
                        LoadStr(1501, "File Info"), {shell::Buttons::OK, shell::Icon::Information});
            }
            return;
        case 2: adjustments.setRotation(file, 6); break;
        case 3: adjustments.setRotation(file, 8); break;
        case 4: adjustments.setRotation(file, 3); break;
        case 5: adjustments.setRotation(file, 0); break;
        case 6: case 7: case 8: case 9:
            adjustments.filter = viewing::PictureFilterNamed(s(ListFilters->item(index)->text()));
            break;
        case 10:
            if (!adjustments.filter) return;
            adjustments.filter.reset();
            break;
        default: return;
    }
    if (haveFile) showFoundFile(shownRow_);
}

}  // namespace hx::gui
