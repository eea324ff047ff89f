// The keys of the found-file lists (List3 and the thumbnails LvwFiles), and
// removing found files from them.
#include "gui/frmRecover.h"

#include "gui/QtText.h"
#include "gui/panes/FoundFilesPane.h"
#include "shell/WorkingState.h"
#include "viewing/FoundFileRemoval.h"

namespace hx::gui {

namespace fs = std::filesystem;

const fs::path& frmRecover::activeFolder() const { return foundPane_->folder(); }

const QStringList& frmRecover::foundNames() const { return foundPane_->names(); }

fs::path frmRecover::activeThumbsFolder() const {
    return shell::SharedState().activeThumbs.empty() ? foundPane_->folder() / "Thumbs" : shell::SharedState().activeThumbs;
}

bool frmRecover::thumbnailsShown() const { return foundPane_->thumbnailsShown(); }

bool frmRecover::thumbnailsPending() const { return foundPane_->drawing(); }

bool frmRecover::FoundList_KeyDown(bool thumbnails, int key, Qt::KeyboardModifiers modifiers) {
    if (busy_.busy) return false;
    if (key == Qt::Key_Delete) {
        List3_KeyDown();
        return true;
    }
    // On the thumbnails, S or C saves the current file as.
    const bool plain = !(modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
    if (thumbnails && plain && (key == Qt::Key_S || key == Qt::Key_C)) {
        CmdSaveAs_Click();
        return true;
    }
    return false;
}

void frmRecover::List3_KeyDown() {
    // Only the cache's own found files; a browsed folder is the user's.
    const fs::path& folder = foundPane_->folder();
    if (folder.empty() || (!browseFolder_.empty() && folder == browseFolder_)) return;
    std::vector<std::string> names;
    for (const QString& name : foundPane_->names()) names.push_back(s(name));
    std::vector<bool> selected(names.size());
    for (std::size_t row : foundPane_->selectedRows()) selected[row] = true;
    const auto removed = viewing::CmdRemoveFoundFiles(*this, folder, activeThumbsFolder(), names, selected);
    foundPane_->removeRows(removed);
    if (removed.empty()) return;
    shownRow_ = -1;
    if (!foundPane_->empty())
        foundPane_->setCurrentRow(std::min<int>(static_cast<int>(removed.front()), foundPane_->count() - 1));
    if (foundPane_->thumbnailsShown()) loadThumbnails();
}

}  // namespace hx::gui
