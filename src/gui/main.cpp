#include <QApplication>

#include "gui/frmRecover.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    hx::gui::frmRecover window;
    window.show();
    return app.exec();
}
