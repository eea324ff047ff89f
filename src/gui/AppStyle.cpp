#include "gui/AppStyle.h"

#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

// Resources of a static library must be pulled in by name, from the global namespace.
static void initResources() { Q_INIT_RESOURCE(harvestrix); }

namespace hx::gui {

void ApplyAppStyle(QApplication& app) {
    initResources();
    app.setWindowIcon(QIcon(":/harvestrix.png"));
    app.setStyle(QStyleFactory::create("Fusion"));
    QPalette p = app.style()->standardPalette();
    p.setColor(QPalette::Window, QColor(0xf3, 0xf4, 0xf6));
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xf7, 0xf8, 0xfa));
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xb3));
    p.setColor(QPalette::Button, QColor(0xfb, 0xfb, 0xfc));
    app.setPalette(p);
    app.setStyleSheet(R"(
        QFrame#sidebar { background: palette(base); border: 1px solid #d9dde3; border-radius: 6px; padding: 10px; }
        QFrame#bottomBar { background: transparent; }
        QPushButton { padding: 4px 12px; border: 1px solid #c5cbd3; border-radius: 4px; background: #fbfbfc; }
        QPushButton:hover { background: #eef3f9; border-color: #9fb6d1; }
        QPushButton:pressed, QPushButton:checked { background: #dde7f3; }
        QPushButton:disabled { color: #a0a6ad; background: #f1f2f4; border-color: #dde0e4; }
        QPushButton[primary="true"] { background: #2f6fb3; color: white; border-color: #285f9a; font-weight: bold; }
        QPushButton[primary="true"]:hover { background: #3a7cc2; }
        QPushButton[primary="true"]:disabled { background: #9fb8d3; color: #eef2f7; }
        QPushButton[link="true"] { border: none; background: transparent; color: #2f6fb3; padding: 4px 2px; text-decoration: underline; }
        QLabel[heading="true"] { font-weight: bold; color: #3a4450; }
        QPlainTextEdit, QTextBrowser, QListWidget, QTreeWidget { border: 1px solid #d9dde3; border-radius: 4px; background: white; }
        QListWidget#List3::item, QListWidget#List1::item, QListWidget#List2::item { padding: 3px 6px; }
        QTreeWidget::item { padding: 2px 0; }
        QTextBrowser#txtStart { padding: 18px 24px; font-size: 11pt; }
        QLabel#Picture1 { background: #2b2f36; border-radius: 4px; color: #c8ccd2; }
        QProgressBar { border: 1px solid #c5cbd3; border-radius: 3px; background: #e9ecef; height: 12px; }
        QProgressBar::chunk { background: #2f6fb3; }
    )");
}

}  // namespace hx::gui
