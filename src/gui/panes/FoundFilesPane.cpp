#include "gui/panes/FoundFilesPane.h"

#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QScrollBar>

#include "gui/EventFilters.h"
#include "gui/QtText.h"
#include "gui/ThumbnailWorker.h"

namespace hx::gui {

namespace fs = std::filesystem;

namespace {

QString thumbnailCaption(const QString& name) { return QString(name).replace("R#", "File "); }

}  // namespace

FoundFilesPane::FoundFilesPane(QWidget* parent, Actions actions) : QStackedWidget(parent) {
    list_ = new QListWidget(this);
    list_->setObjectName("List3");
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Thousands of finds arrive one by one while a scan runs: rows of one
    // height, and the thumbnails laid out in batches, keep each cheap.
    list_->setUniformItemSizes(true);
    thumbnails_ = new QListWidget(this);
    thumbnails_->setObjectName("LvwFiles");
    thumbnails_->setViewMode(QListView::IconMode);
    thumbnails_->setResizeMode(QListView::Adjust);
    thumbnails_->setIconSize(QSize(128, 96));
    thumbnails_->setMovement(QListView::Static);
    thumbnails_->setFlow(QListView::LeftToRight);
    thumbnails_->setUniformItemSizes(true);
    thumbnails_->setLayoutMode(QListView::Batched);
    thumbnails_->setBatchSize(200);
    thumbnails_->setWrapping(true);
    thumbnails_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    addWidget(list_);
    addWidget(thumbnails_);

    // The two views keep one current row; the list's says which file is chosen.
    connect(list_, &QListWidget::currentRowChanged, this, [this, chosen = actions.chosen](int row) {
        if (row >= 0 && row < thumbnails_->count()) thumbnails_->setCurrentRow(row);
        chosen(row);
    });
    connect(thumbnails_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < list_->count()) list_->setCurrentRow(row);
    });
    for (QListWidget* view : {list_, thumbnails_}) {
        connect(view, &QListWidget::itemDoubleClicked, this, [opened = actions.opened] { opened(); });
        view->installEventFilter(new KeyFilter(view, [view, this, key = actions.key](int k, Qt::KeyboardModifiers m) {
            return key(view == thumbnails_, k, m);
        }));
        view->setContextMenuPolicy(Qt::CustomContextMenu);
    }
    connect(thumbnails_, &QWidget::customContextMenuRequested, this,
            [this, filterList = actions.filterList](const QPoint& at) { filterList(thumbnails_->viewport(), at); });
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this, properties = actions.properties](const QPoint& at) {
                const int row = list_->row(list_->itemAt(at));
                if (row >= 0 && row < count()) properties(row);
            });
}

// The worker's thread ends before the pane it hands pictures to.
FoundFilesPane::~FoundFilesPane() { worker_.reset(); }

void FoundFilesPane::list(const fs::path& folder) {
    names_.clear();
    list_->clear();
    thumbnails_->clear();
    folder_ = folder;
    if (folder.empty()) return;
    for (const QFileInfo& fi : QDir(q(folder.string())).entryInfoList(QDir::Files, QDir::Name)) {
        if (fi.fileName().endsWith(".dat", Qt::CaseInsensitive)) continue;
        add(fi.fileName());
        if (auto icon = liveIcons_.constFind(fi.fileName()); icon != liveIcons_.constEnd())
            thumbnails_->item(thumbnails_->count() - 1)->setIcon(*icon);
    }
}

void FoundFilesPane::add(const QString& name) {
    names_ << name;
    list_->addItem(name);
    new QListWidgetItem(thumbnailCaption(name), thumbnails_);
}

fs::path FoundFilesPane::file(int row) const {
    if (row < 0 || row >= count()) return {};
    return folder_ / s(names_[row]);
}

int FoundFilesPane::currentRow() const { return list_->currentRow(); }

void FoundFilesPane::setCurrentRow(int row) { list_->setCurrentRow(row); }

std::vector<std::size_t> FoundFilesPane::selectedRows() const {
    // The thumbnails' selection counts as the list's.
    const QListWidget* view = thumbnailsShown() ? thumbnails_ : list_;
    std::vector<std::size_t> rows;
    for (int r = 0; r < view->count() && r < count(); ++r)
        if (view->item(r)->isSelected()) rows.push_back(static_cast<std::size_t>(r));
    return rows;
}

void FoundFilesPane::removeRows(const std::vector<std::size_t>& rows) {
    // From the last row up, so the earlier rows keep their places.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        const int row = static_cast<int>(*it);
        if (row >= count()) continue;
        names_.removeAt(row);
        delete list_->takeItem(row);
        delete thumbnails_->takeItem(row);
    }
}

bool FoundFilesPane::thumbnailsShown() const { return currentWidget() == thumbnails_; }

void FoundFilesPane::showThumbnails(bool shown) {
    setCurrentWidget(shown ? static_cast<QWidget*>(thumbnails_) : static_cast<QWidget*>(list_));
}

void FoundFilesPane::setThumbnailWidth(int width, bool forget) {
    if (forget)
        for (int i = 0; i < thumbnails_->count(); ++i) thumbnails_->item(i)->setIcon(QIcon());
    thumbnails_->setIconSize(QSize(width, width * 3 / 4));
    thumbnails_->setGridSize(QSize(width + 24, width * 3 / 4 + 36));
    thumbnails_->doItemsLayout();
}

QSize FoundFilesPane::thumbnailBox() const { return thumbnails_->iconSize(); }

bool FoundFilesPane::hasThumbnail(int row) const {
    return row >= 0 && row < thumbnails_->count() && !thumbnails_->item(row)->icon().isNull();
}

void FoundFilesPane::setThumbnail(int row, const QImage& picture) {
    if (row < 0 || row >= thumbnails_->count() || picture.isNull()) return;
    const QSize box = thumbnails_->iconSize();
    const bool larger = picture.width() > box.width() || picture.height() > box.height();
    thumbnails_->item(row)->setIcon(QIcon(QPixmap::fromImage(
        larger ? picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation) : picture)));
}

void FoundFilesPane::relayOut() {
    thumbnails_->doItemsLayout();
    thumbnails_->horizontalScrollBar()->setValue(0);
}

void FoundFilesPane::drawLive(const QString& name, const fs::path& thumbs, QSize box) {
    if (!worker_)
        worker_ = std::make_unique<ThumbnailWorker>(this, [this](const QString& done, const QImage& picture) {
            if (picture.isNull()) return;
            const QIcon icon(QPixmap::fromImage(picture));
            liveIcons_.insert(done, icon);
            const int row = static_cast<int>(names_.indexOf(done));
            if (row >= 0 && row < thumbnails_->count()) thumbnails_->item(row)->setIcon(icon);
        });
    worker_->request(name, folder_ / s(name), thumbs, box);
}

void FoundFilesPane::forgetLiveThumbnails() { liveIcons_.clear(); }

void FoundFilesPane::stopDrawing() {
    if (worker_) worker_->clear();
}

}  // namespace hx::gui
