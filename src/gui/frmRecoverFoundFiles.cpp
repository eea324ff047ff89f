// The keys of the found-file lists (List3 and the thumbnails LvwFiles), and
// removing found files from them.
#include "gui/frmRecover.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QStackedWidget>

#include "gui/QtText.h"
#include "shell/WorkingState.h"
#include "viewing/FoundFileRemoval.h"

namespace hx::gui {

namespace fs = std::filesystem;

fs::path frmRecover::activeThumbsFolder() const {
    return shell::SharedState().activeThumbs.empty() ? activeFolder_ / "Thumbs" : shell::SharedState().activeThumbs;
}

bool frmRecover::thumbnailsShown() const { return resultViews_->currentWidget() == LvwFiles; }

bool frmRecover::FoundList_KeyDown(QListWidget* list, int key, Qt::KeyboardModifiers modifiers) {
    if (busy_.busy) return false;
    if (key == Qt::Key_Delete) {
        List3_KeyDown(list);
        return true;
    }
    // On the thumbnails, S or C saves the current file as.
    const bool plain = !(modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
    if (list == LvwFiles && plain && (key == Qt::Key_S || key == Qt::Key_C)) {
        CmdSaveAs_Click();
        return true;
    }
    return false;
}

void frmRecover::List3_KeyDown(QListWidget* view) {
    // Only the cache's own found files; a browsed folder is the user's.
    if (activeFolder_.empty() || (!browseFolder_.empty() && activeFolder_ == browseFolder_)) return;
    std::vector<std::string> names;
    std::vector<bool> selected;
    for (int i = 0; i < foundNames_.size(); ++i) {
        names.push_back(s(foundNames_[i]));
        const QListWidgetItem* item = i < view->count() ? view->item(i) : nullptr;
        selected.push_back(item != nullptr && item->isSelected());
    }
    const auto removed = viewing::CmdRemoveFoundFiles(*this, activeFolder_, activeThumbsFolder(), names, selected);
    // From the last row up, so the earlier rows keep their places.
    for (auto it = removed.rbegin(); it != removed.rend(); ++it) {
        const int row = static_cast<int>(*it);
        foundNames_.removeAt(row);
        if (*it < foundSizes_.size()) foundSizes_.erase(foundSizes_.begin() + static_cast<std::ptrdiff_t>(row));
        if (row < List3->count()) delete List3->takeItem(row);
        if (row < LvwFiles->count()) delete LvwFiles->takeItem(row);
    }
    if (removed.empty()) return;
    shownRow_ = -1;
    if (List3->count() > 0) List3->setCurrentRow(std::min<int>(static_cast<int>(removed.front()), List3->count() - 1));
    if (resultViews_->currentWidget() == LvwFiles) loadThumbnails();
}

}  // namespace hx::gui
