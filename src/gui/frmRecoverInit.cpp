#include "gui/frmRecoverInit.h"

#include <QDate>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

#include "shell/Strings.h"

namespace hx::gui {

frmRecoverInit::frmRecoverInit(const QString& picturePath, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("frmRecoverInit");
    setAttribute(Qt::WA_DeleteOnClose, false);
    if (!picturePath.isEmpty()) picture_.load(picturePath);
    resize(520, 320);
    setWindowOpacity(1.0);
    if (auto* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
}

QString frmRecoverInit::loadingText() const {
    return QString::fromStdString(shell::LoadStr(1654, "loading")) + "....." + "  " +
           QString::fromStdString(shell::LoadStr(31, "Harvestrix"));
}

void frmRecoverInit::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!picture_.isNull()) {
        QPixmap scaled = picture_.scaled(size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        p.drawPixmap((width() - scaled.width()) / 2, (height() - scaled.height()) / 2, scaled);
    } else {
        QLinearGradient g(0, 0, width(), height());
        g.setColorAt(0, QColor(0x24, 0x3b, 0x55));
        g.setColorAt(1, QColor(0x14, 0x1e, 0x30));
        p.fillRect(rect(), g);
    }
    // A dark band keeps the text readable on any picture.
    QRect band(0, height() - 96, width(), 96);
    p.fillRect(band, QColor(0, 0, 0, 150));
    QFont title = font();
    title.setPointSizeF(title.pointSizeF() * 1.6);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(band.adjusted(20, 10, -20, -40), Qt::AlignLeft | Qt::AlignVCenter, loadingText());
    p.setFont(font());
    p.setPen(QColor(0xdd, 0xdd, 0xdd));
    p.drawText(band.adjusted(20, 52, -20, -10), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("\u00a9 %1 Morvenick").arg(QDate::currentDate().year()));
}

}  // namespace hx::gui
