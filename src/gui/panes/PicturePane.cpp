#include "gui/panes/PicturePane.h"

#include <QImage>
#include <QLabel>
#include <QTransform>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "gui/EventFilters.h"

namespace hx::gui {

namespace {

QImage adjusted(const QImage& picture, const viewing::PreviewAdjustments& adjustments, const std::string& key) {
    QImage out = picture;
    if (const int turns = viewing::PreviewAdjustments::quarterTurns(adjustments.rotation(key)))
        out = out.transformed(QTransform().rotate(90.0 * turns));
    if (adjustments.filter) {
        out = out.convertToFormat(QImage::Format_RGB888);
        viewing::RgbPicture p;
        p.width = static_cast<unsigned>(out.width());
        p.height = static_cast<unsigned>(out.height());
        p.pixels.resize(static_cast<std::size_t>(p.width) * p.height * 3);
        for (int y = 0; y < out.height(); ++y)
            std::memcpy(&p.pixels[static_cast<std::size_t>(y) * p.width * 3], out.constScanLine(y), p.width * 3);
        viewing::ApplyPictureFilter(p, *adjustments.filter);
        for (int y = 0; y < out.height(); ++y)
            std::memcpy(out.scanLine(y), &p.pixels[static_cast<std::size_t>(y) * p.width * 3], p.width * 3);
    }
    return out;
}

}  // namespace

PicturePane::PicturePane(QWidget* parent, Actions actions) : QWidget(parent) {
    setObjectName("previewPane");
    auto* pv = new QVBoxLayout(this);
    pv->setContentsMargins(0, 0, 0, 0);
    pv->setSpacing(4);
    picture1_ = new QLabel(this);
    picture1_->setObjectName("Picture1");
    picture1_->setAlignment(Qt::AlignCenter);
    picture1_->setMinimumSize(240, 180);
    picture1_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    picture1_->setContextMenuPolicy(Qt::CustomContextMenu);
    picture1_->installEventFilter(new DoubleClickFilter(picture1_, actions.fullScreen));
    picture1_->installEventFilter(new LeftPressFilter(picture1_, [this](QPoint at) { zoom(at); }));
    connect(picture1_, &QWidget::customContextMenuRequested, this,
            [this, filterList = actions.filterList](const QPoint& at) { filterList(picture1_, at); });
    pv->addWidget(picture1_, 3);
    mode_ = new QLabel(this);
    mode_->setObjectName("lblPictureMode");
    mode_->setAlignment(Qt::AlignCenter);
    mode_->setCursor(Qt::PointingHandCursor);
    mode_->installEventFilter(new LeftPressFilter(mode_, [wholePicture = actions.wholePicture](QPoint) { wholePicture(); }));
    pv->addWidget(mode_);
    clip_ = new QPushButton(this);
    clip_->setObjectName("cmdClip");
    clip_->setVisible(false);
    connect(clip_, &QPushButton::clicked, this, [clip = actions.clip] {
        if (clip) clip();
    });
    pv->addWidget(clip_, 0, Qt::AlignHCenter);
    info_ = new QLabel(this);
    info_->setObjectName("lblInfo");
    info_->setWordWrap(true);
    pv->addWidget(info_);
    facts_ = new QPlainTextEdit(this);
    facts_->setObjectName("txtExif");
    facts_->setReadOnly(true);
    pv->addWidget(facts_, 2);
    auto* picture2 = new QLabel(this);  // named for the commands that ask for it; never shown
    picture2->setObjectName("Picture2");
    picture2->setVisible(false);
}

void PicturePane::showAdjusted(const QImage& picture, const std::string& key, const QString& mode) {
    showPicture(QPixmap::fromImage(adjusted(picture, adjustments_, key)), mode);
}

void PicturePane::showPicture(const QPixmap& picture, const QString& mode) {
    picture_ = picture;
    zoomed_ = false;
    picture1_->setPixmap(picture_.scaled(picture1_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    mode_->setText(mode);
}

void PicturePane::showStandIn(const QPixmap& standIn, const QString& mode) {
    picture_ = QPixmap();
    zoomed_ = false;
    picture1_->setPixmap(standIn);
    mode_->setText(mode);
}

void PicturePane::zoom(QPoint at) {
    if (picture_.isNull()) return;
    const QPixmap fitted = picture_.scaled(picture1_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (zoomed_ || fitted.width() >= picture_.width()) {
        picture1_->setPixmap(fitted);
        zoomed_ = false;
        return;
    }
    // The fitted picture lies in the middle of the preview: the point under
    // the mouse in the picture itself, then a preview-sized piece around it.
    const QPoint origin((picture1_->width() - fitted.width()) / 2, (picture1_->height() - fitted.height()) / 2);
    const double scale = static_cast<double>(picture_.width()) / fitted.width();
    const QPoint centre((at - origin).x() * scale, (at - origin).y() * scale);
    QRect piece(QPoint(0, 0), picture1_->size().boundedTo(picture_.size()));
    piece.moveCenter(centre);
    piece.moveLeft(std::clamp(piece.left(), 0, picture_.width() - piece.width()));
    piece.moveTop(std::clamp(piece.top(), 0, picture_.height() - piece.height()));
    picture1_->setPixmap(picture_.copy(piece));
    zoomed_ = true;
}

void PicturePane::refit() {
    if (picture_.isNull()) return;
    picture1_->setPixmap(picture_.scaled(picture1_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    zoomed_ = false;
}

QSize PicturePane::pictureSize() const { return picture1_->size(); }

void PicturePane::offerClip(const QString& text) {
    clip_->setText(text);
    clip_->setVisible(!text.isEmpty());
}

QString PicturePane::clipOffer() const { return clip_->isHidden() ? QString() : clip_->text(); }

void PicturePane::setInfo(const QString& text) { info_->setText(text); }
void PicturePane::setFacts(const QString& text) { facts_->setPlainText(text); }
QString PicturePane::facts() const { return facts_->toPlainText(); }

void PicturePane::clearText() {
    info_->clear();
    facts_->clear();
}

}  // namespace hx::gui
