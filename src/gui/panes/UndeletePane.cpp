#include "gui/panes/UndeletePane.h"

#include <QListWidget>

#include "gui/QtText.h"

namespace hx::gui {

UndeletePane::UndeletePane(QWidget* parent, Actions actions) : QSplitter(Qt::Horizontal, parent) {
    setObjectName("undeleteLists");
    listed_ = new QListWidget(this);
    listed_->setObjectName("List1");
    deleted_ = new QListWidget(this);
    deleted_->setObjectName("List2");
    for (auto [list, deleted] : {std::pair{listed_, false}, std::pair{deleted_, true}}) {
        QListWidget* const l = list;
        const bool d = deleted;
        l->setSelectionMode(QAbstractItemView::ExtendedSelection);
        l->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(l, &QListWidget::currentRowChanged, this, [l, d, chosen = actions.chosen] { chosen(l, d); });
        connect(l, &QWidget::customContextMenuRequested, this,
                [l, d, rightButton = actions.rightButton](const QPoint& at) { rightButton(l, d, at); });
        connect(l, &QListWidget::itemDoubleClicked, this, [l, d, opened = actions.opened](QListWidgetItem* item) {
            if (l->currentItem() != item) l->setCurrentItem(item);
            opened(l, d);
        });
    }
    setVisible(false);
}

void UndeletePane::show(const undelete::UndeleteLists& lists) {
    clear();
    for (const auto& row : lists.list1) listed_->addItem(q(row));
    for (const auto& row : lists.list2) deleted_->addItem(q(row));
    setVisible(true);
}

void UndeletePane::clear() {
    listed_->clear();
    deleted_->clear();
}

std::vector<std::string> UndeletePane::selectedRows() const {
    std::vector<std::string> rows;
    for (const QListWidget* list : {listed_, deleted_})
        for (const QListWidgetItem* item : list->selectedItems()) rows.push_back(s(item->text()));
    return rows;
}

void UndeletePane::clearSelection() {
    listed_->clearSelection();
    deleted_->clearSelection();
}

void UndeletePane::addNote(const QString& text) { deleted_->addItem(text); }

}  // namespace hx::gui
