#include "gui/panes/FoundFilesPane.h"

#include <QColor>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <limits>

#include "gui/EventFilters.h"
#include "gui/QtText.h"
#include "gui/ThumbnailWorker.h"
#include "viewing/ThumbnailFiles.h"

namespace hx::gui {

namespace fs = std::filesystem;

namespace {

QString thumbnailCaption(const QString& name) { return QString(name).replace("R#", "File "); }

// Calls back when the object it watches is resized.
class ResizeWatcher : public QObject {
public:
    ResizeWatcher(QObject* parent, std::function<void()> resized) : QObject(parent), resized_(std::move(resized)) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Resize || e->type() == QEvent::Show) resized_();
        return false;
    }

private:
    std::function<void()> resized_;
};

// Pictures loaded from their files in one go before the window answers again.
constexpr int kLoadsAtOnce = 200;

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
    // The rows that come into view get their pictures once the view rests.
    showTimer_ = new QTimer(this);
    showTimer_->setSingleShot(true);
    showTimer_->setInterval(30);
    connect(showTimer_, &QTimer::timeout, this, [this] { showRowsInView(); });
    for (QScrollBar* bar : {thumbnails_->verticalScrollBar(), thumbnails_->horizontalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, [this] { scheduleShow(); });
    thumbnails_->viewport()->installEventFilter(new ResizeWatcher(thumbnails_, [this] { scheduleShow(); }));

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
    QStringList names;
    if (!folder.empty())
        for (const QString& name : QDir(q(folder.string())).entryList(QDir::Files, QDir::Name))
            if (!name.endsWith(".dat", Qt::CaseInsensitive)) names << name;
    // The finds a scan listed as it went are listed already: their rows stay.
    if (folder == folder_ && names == names_) {
        scheduleShow();
        return;
    }
    names_.clear();
    list_->clear();
    thumbnails_->clear();
    held_.clear();
    marked_.clear();
    folder_ = folder;
    for (const QString& name : names) add(name);
    scheduleShow();  // the thumbnails made before, of the rows in view
}

void FoundFilesPane::add(const QString& name) {
    names_ << name;
    list_->addItem(name);
    new QListWidgetItem(thumbnailCaption(name), thumbnails_);
    if (thumbnailsShown()) scheduleShow();
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
    // The pictures held go with their rows' places; those in view come back from their files.
    for (int row : held_)
        if (row < thumbnails_->count()) thumbnails_->item(row)->setIcon(QIcon());
    held_.clear();
    scheduleShow();
    // From the last row up, so the earlier rows keep their places.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        const int row = static_cast<int>(*it);
        if (row >= count()) continue;
        names_.removeAt(row);
        delete list_->takeItem(row);
        delete thumbnails_->takeItem(row);
    }
}

void FoundFilesPane::markDamaged(const std::map<std::string, std::string>& damageOf,
                                 const std::map<std::string, std::string>& rebuiltOf,
                                 const std::set<std::string>& withClip) {
    const std::set<int> hadClip = std::move(withClip_);
    withClip_.clear();
    for (int row = 0; row < count() && !withClip.empty(); ++row)
        if (withClip.count(s(names_[row]))) withClip_.insert(row);
    // Thumbnails already drawn get their mark, or lose it, now.
    for (auto it = held_.begin(); it != held_.end();) {
        if (hadClip.count(*it) == withClip_.count(*it)) {
            ++it;
            continue;
        }
        if (*it < thumbnails_->count()) thumbnails_->item(*it)->setIcon(QIcon());
        it = held_.erase(it);
    }
    if (hadClip != withClip_) scheduleShow();
    // A row marked before whose file has nothing said of it now (a new
    // scan's find of the same name) loses its mark.
    for (int row : marked_) {
        if (row >= count() || damageOf.count(s(names_[row])) || rebuiltOf.count(s(names_[row]))) continue;
        for (QListWidgetItem* item : {list_->item(row), thumbnails_->item(row)}) {
            item->setData(Qt::ForegroundRole, QVariant());
            item->setToolTip(QString());
        }
    }
    marked_.clear();
    if (damageOf.empty() && rebuiltOf.empty()) return;
    for (int row = 0; row < count(); ++row) {
        const std::string name = s(names_[row]);
        const auto damage = damageOf.find(name);
        const auto rebuilt = rebuiltOf.find(name);
        if (damage == damageOf.end() && rebuilt == rebuiltOf.end()) continue;
        // A clip put together from pieces says so; what holds zeros is in the warning colour.
        std::string said = rebuilt == rebuiltOf.end() ? std::string() : rebuilt->second;
        if (damage != damageOf.end()) said += (said.empty() ? "" : "; ") + damage->second;
        for (QListWidgetItem* item : {list_->item(row), thumbnails_->item(row)}) {
            if (damage != damageOf.end()) item->setForeground(QColor(0xB0, 0x30, 0x20));
            item->setToolTip(q(said));
        }
        marked_.insert(row);
    }
}

bool FoundFilesPane::thumbnailsShown() const { return currentWidget() == thumbnails_; }

void FoundFilesPane::showThumbnails(bool shown) {
    setCurrentWidget(shown ? static_cast<QWidget*>(thumbnails_) : static_cast<QWidget*>(list_));
}

void FoundFilesPane::setThumbnailWidth(int width, bool forget) {
    if (forget) {
        for (int row : held_)
            if (row < thumbnails_->count()) thumbnails_->item(row)->setIcon(QIcon());
        held_.clear();
    }
    thumbnails_->setIconSize(QSize(width, width * 3 / 4));
    thumbnails_->setGridSize(QSize(width + 24, width * 3 / 4 + 36));
    thumbnails_->doItemsLayout();
    scheduleShow();
}

QSize FoundFilesPane::thumbnailBox() const { return thumbnails_->iconSize(); }

void FoundFilesPane::setThumbsFolder(const fs::path& thumbs) { thumbs_ = thumbs; }

fs::path FoundFilesPane::thumbFile(int row) const {
    if (thumbs_.empty() || row < 0 || row >= count()) return {};
    return thumbs_ / viewing::ThumbnailFileName(s(names_[row]));
}

bool FoundFilesPane::hasThumbnail(int row) const {
    if (row < 0 || row >= thumbnails_->count()) return false;
    if (held_.count(row)) return true;
    std::error_code ec;
    const fs::path file = thumbFile(row);
    return !file.empty() && fs::is_regular_file(file, ec);
}

void FoundFilesPane::setThumbnail(int row, const QImage& picture) {
    if (row < 0 || row >= thumbnails_->count() || picture.isNull()) return;
    const QSize box = thumbnails_->iconSize();
    const bool larger = picture.width() > box.width() || picture.height() > box.height();
    const QImage shown = larger ? picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation) : picture;
    std::error_code ec;
    if (const fs::path file = thumbFile(row); !file.empty() && !fs::is_regular_file(file, ec)) ThumbnailWorker::keep(shown, file);
    hold(row, QIcon(QPixmap::fromImage(shown)));
}

std::pair<int, int> FoundFilesPane::rowsInView() const {
    if (!thumbnailsShown() || thumbnails_->count() == 0) return {-1, -1};
    // The grid is laid out left to right, a line of cells under the other.
    const QSize grid = thumbnails_->gridSize();
    if (grid.width() <= 0 || grid.height() <= 0) return {-1, -1};
    const QRect view = thumbnails_->viewport()->rect();
    const int columns = std::max(1, view.width() / grid.width());
    const int top = thumbnails_->verticalScrollBar()->value() / grid.height();
    const int lines = view.height() / grid.height() + 2;
    const int first = std::min(top * columns, thumbnails_->count() - 1);
    const int last = std::min((top + lines) * columns - 1, thumbnails_->count() - 1);
    return {first, last};
}

// A motion photo's thumbnail: a play mark in its lower left corner.
static QIcon withPlayMark(const QIcon& icon, QSize box) {
    QPixmap picture = icon.pixmap(box);
    if (picture.isNull()) return icon;
    QPainter paint(&picture);
    paint.setRenderHint(QPainter::Antialiasing);
    const int d = std::max(12, std::min(picture.width(), picture.height()) / 4);
    const QRectF disc(4, picture.height() - d - 4, d, d);
    paint.setPen(Qt::NoPen);
    paint.setBrush(QColor(0, 0, 0, 150));
    paint.drawEllipse(disc);
    paint.setBrush(Qt::white);
    const QPointF c = disc.center();
    const double r = d * 0.28;
    paint.drawPolygon(QPolygonF({QPointF(c.x() - r * 0.7, c.y() - r), QPointF(c.x() - r * 0.7, c.y() + r),
                                 QPointF(c.x() + r, c.y())}));
    return QIcon(picture);
}

void FoundFilesPane::hold(int row, const QIcon& icon) {
    thumbnails_->item(row)->setIcon(withClip_.count(row) ? withPlayMark(icon, thumbnails_->iconSize()) : icon);
    held_.insert(row);
    const auto cap = viewing::ThumbnailBudget(thumbnails_->iconSize().width(), std::numeric_limits<std::size_t>::max());
    if (held_.size() <= cap) return;
    // Let go of the rows furthest from the view: at either end of those held.
    const auto [first, last] = rowsInView();
    const int middle = first < 0 ? row : (first + last) / 2;
    while (held_.size() > cap) {
        const int low = *held_.begin(), high = *held_.rbegin();
        const int gone = middle - low >= high - middle ? low : high;
        if (gone < thumbnails_->count()) thumbnails_->item(gone)->setIcon(QIcon());
        held_.erase(gone);
    }
}

void FoundFilesPane::scheduleShow() {
    if (!showTimer_->isActive()) showTimer_->start();
}

void FoundFilesPane::showRowsInView() {
    const auto [first, last] = rowsInView();
    if (first < 0) return;
    int loads = 0;
    for (int row = first; row <= last; ++row) {
        if (held_.count(row)) continue;
        if (++loads > kLoadsAtOnce) {
            scheduleShow();  // the rest once the window has answered
            return;
        }
        QPixmap picture;
        const fs::path file = thumbFile(row);
        if (!file.empty() && picture.load(q(file.string()))) hold(row, QIcon(picture));
    }
}

void FoundFilesPane::relayOut() {
    thumbnails_->doItemsLayout();
    thumbnails_->horizontalScrollBar()->setValue(0);
    scheduleShow();
}

void FoundFilesPane::drawLive(const QString& name, const fs::path& thumbs, QSize box) {
    thumbs_ = thumbs;
    if (!worker_)
        worker_ = std::make_unique<ThumbnailWorker>(this, [this](const QString& done, const QImage& picture) {
            if (picture.isNull()) return;
            // The newest find is at the end: held while it is near the view,
            // else its file waits until the view comes to it.
            const int row = static_cast<int>(names_.lastIndexOf(done));
            if (row >= 0 && row < thumbnails_->count()) hold(row, QIcon(QPixmap::fromImage(picture)));
        });
    worker_->request(name, folder_ / s(name), thumbs, box);
}

void FoundFilesPane::forgetLiveThumbnails() {
    for (int row : held_)
        if (row < thumbnails_->count()) thumbnails_->item(row)->setIcon(QIcon());
    held_.clear();
}

void FoundFilesPane::stopDrawing() {
    if (worker_) worker_->clear();
}

bool FoundFilesPane::drawing() const { return worker_ && worker_->busy(); }

}  // namespace hx::gui
