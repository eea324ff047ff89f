#include "gui/frmRecover.h"

namespace hx::gui {

frmRecover::frmRecover(QWidget* parent) : QMainWindow(parent) {
    setObjectName("frmRecover");
    setWindowTitle("Harvestrix");
    resize(1280, 800);
}

}  // namespace hx::gui
