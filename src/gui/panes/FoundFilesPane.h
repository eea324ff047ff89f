#pragma once
// The found files: a list of names (List3) or a grid of thumbnails
// (LvwFiles), one row per file of the folder shown (the cache, or a folder
// browsed). The pane keeps the rows and their names; thumbnails are files in
// the thumbnail folder (drawn while a scan runs on a thread of its own), and
// only the rows in and around the view hold theirs as pictures, so that a
// hundred thousand finds take no more memory than a screenful. What choosing,
// a double click, the right button and a key ask for, the window says.
#include <QIcon>
#include <QStackedWidget>
#include <QStringList>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

class QListWidget;
class QTimer;

namespace hx::gui {

class ThumbnailWorker;

class FoundFilesPane : public QStackedWidget {
public:
    struct Actions {
        std::function<void(int)> chosen;                  // the current row changed
        std::function<void()> opened;                     // a double click on a row
        std::function<void(int)> properties;              // the right button on a row of the list
        std::function<void(QWidget*, QPoint)> filterList; // the right button on the thumbnails, where
        // A key on either view (with the thumbnails' flag); true when handled.
        std::function<bool(bool, int, Qt::KeyboardModifiers)> key;
    };
    FoundFilesPane(QWidget* parent, Actions actions);
    ~FoundFilesPane() override;

    // The files of `folder` as rows, in name order, but the `.dat` bookkeeping.
    // A thumbnail drawn while the scan ran stays with its file.
    void list(const std::filesystem::path& folder);
    // One more find, as the scan writes it.
    void add(const QString& name);
    const std::filesystem::path& folder() const { return folder_; }
    const QStringList& names() const { return names_; }
    int count() const { return static_cast<int>(names_.size()); }
    bool empty() const { return names_.isEmpty(); }
    // The file of a row; empty for a row that is not there.
    std::filesystem::path file(int row) const;

    int currentRow() const;
    void setCurrentRow(int row);
    // The rows selected in the view shown.
    std::vector<std::size_t> selectedRows() const;
    // Removes rows, given in rising order.
    void removeRows(const std::vector<std::size_t>& rows);
    // The rows of the files named hold unreadable sectors: drawn in the
    // warning colour, with what the damage is as their tip; the clips
    // rebuilt from pieces say so in theirs, and the motion photos (`withClip`)
    // carry a play mark on their thumbnail.
    void markDamaged(const std::map<std::string, std::string>& damageOf,
                     const std::map<std::string, std::string>& rebuiltOf = {},
                     const std::set<std::string>& withClip = {});
    bool markedWithClip(int row) const { return withClip_.count(row) > 0; }

    bool thumbnailsShown() const;
    void showThumbnails(bool shown);
    // Thumbnails `width` pixels wide, in a grid of that size; every icon forgotten when `forget`.
    void setThumbnailWidth(int width, bool forget = false);
    QSize thumbnailBox() const;
    // Where the thumbnail files of the rows are.
    void setThumbsFolder(const std::filesystem::path& thumbs);
    // The row's thumbnail is made (a file, or a picture held).
    bool hasThumbnail(int row) const;
    // The row's thumbnail: kept as its file when it has none, shown when the row is near the view.
    void setThumbnail(int row, const QImage& picture);
    // Lays out the grid again and scrolls it back to its start.
    void relayOut();

    // While a scan runs: the thumbnail of a new find, drawn on the worker's thread.
    void drawLive(const QString& name, const std::filesystem::path& thumbs, QSize box);
    // A new scan: the thumbnails of the last one are forgotten; an ended one: those asked and not begun.
    void forgetLiveThumbnails();
    void stopDrawing();
    // Thumbnails are asked of the worker and not yet drawn.
    bool drawing() const;
    // How many rows hold their thumbnail as a picture now.
    int picturesHeld() const { return static_cast<int>(held_.size()); }

private:
    std::filesystem::path thumbFile(int row) const;
    // Shows `icon` on the row, letting go of the pictures of the rows furthest from the view.
    void hold(int row, const QIcon& icon);
    // The rows in view, first and last (-1 when none is laid out yet).
    std::pair<int, int> rowsInView() const;
    // The rows in view get their pictures from their files; soon after the view moves.
    void showRowsInView();
    void scheduleShow();

    QListWidget* list_ = nullptr;        // List3
    QListWidget* thumbnails_ = nullptr;  // LvwFiles
    std::filesystem::path folder_;
    QStringList names_;
    std::filesystem::path thumbs_;
    std::set<int> held_;        // the rows whose item holds its picture
    std::set<int> marked_;      // the rows marked as holding unreadable sectors
    std::set<int> withClip_;    // the rows of motion photos: their thumbnails carry a play mark
    QTimer* showTimer_ = nullptr;
    std::unique_ptr<ThumbnailWorker> worker_;
};

}  // namespace hx::gui
