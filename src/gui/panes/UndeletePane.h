#pragma once
// The quick undelete's two lists side by side: the files the medium lists
// (List1) and its deleted ones (List2). The pane makes them and fills them;
// what choosing, the right button and a double click on a row ask for, the
// window says.
#include <QSplitter>
#include <functional>
#include <string>
#include <vector>

#include "undelete/UndeleteLists.h"

class QListWidget;

namespace hx::gui {

class UndeletePane : public QSplitter {
public:
    // Each with the list the row is in and whether that is the deleted one.
    struct Actions {
        std::function<void(QListWidget*, bool)> chosen;
        std::function<void(QListWidget*, bool, QPoint)> rightButton;
        std::function<void(QListWidget*, bool)> opened;
    };
    UndeletePane(QWidget* parent, Actions actions);

    // The lists of a listing, shown; without one they are emptied and stay as they are shown.
    void show(const undelete::UndeleteLists& lists);
    void clear();
    // The text of every selected row of both lists.
    std::vector<std::string> selectedRows() const;
    void clearSelection();
    // A line under the deleted files (where they were saved, say).
    void addNote(const QString& text);

private:
    QListWidget* listed_ = nullptr;
    QListWidget* deleted_ = nullptr;
};

}  // namespace hx::gui
