#include "gui/dialogs/FrmFullPicture.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "gui/QtText.h"
#include "shell/Strings.h"
#include "viewing/ScreenCopy.h"

namespace hx::gui {

using shell::LoadStr;

FrmFullPicture::FrmFullPicture(shell::Ui& ui, const QPixmap& picture, std::string shownFile, std::string folder,
                               QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(ui), picture_(picture), shownFile_(std::move(shownFile)), folder_(std::move(folder)) {
    setObjectName("FrmFullPicture");
    setAttribute(Qt::WA_DeleteOnClose);
    setStyleSheet("background: black;");
    if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->geometry());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Picture1 = new QLabel(this);
    Picture1->setObjectName("Picture1");
    Picture1->setAlignment(Qt::AlignCenter);
    Picture1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    Picture1->setPixmap(picture_.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    Picture1->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(Picture1);

    List1 = new QListWidget(this);
    List1->setObjectName("List1");
    List1->setStyleSheet("background: white;");
    for (const auto& [id, text] : {std::pair{1495, "Hide Me"}, {1496, "Close Full View"}, {1497, "Copy Screen!"}})
        List1->addItem(q(LoadStr(id, text)));
    List1->setVisible(false);
    connect(Picture1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        List1->resize(List1->sizeHintForColumn(0) + 24, List1->sizeHintForRow(0) * List1->count() + 6);
        // At the mouse, kept inside the window.
        const QPoint p = Picture1->mapTo(this, at);
        List1->move(std::clamp(p.x(), 0, std::max(0, width() - List1->width())),
                    std::clamp(p.y(), 0, std::max(0, height() - List1->height())));
        List1->setVisible(true);
        List1->raise();
    });
    connect(List1, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { List1_Click(List1->row(item)); });
}

void FrmFullPicture::List1_Click(int index) {
    List1->setVisible(false);
    if (index == 1) {
        close();
    } else if (index == 2) {
        const auto chosen = ui_.saveFile(LoadStr(0, "Save"), "Harvestrix Screen Copy (*.bmp)",
                                         (std::filesystem::path(folder_) / viewing::ScreenCopyOffer(shownFile_)).string());
        if (!chosen || chosen->empty()) return;
        const auto target = viewing::ScreenCopyTarget(*chosen);
        if (grab().save(q(target.string()), "BMP")) savedCopy_ = target.string();
        else
            ui_.message(LoadStr(0, "The screen copy could not be written to ") + target.string() + ".",
                        LoadStr(1497, "Copy Screen!"), {shell::Buttons::OK, shell::Icon::Exclamation});
    }
}

void FrmFullPicture::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace hx::gui
