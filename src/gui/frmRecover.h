#pragma once
#include <QMainWindow>

namespace hx::gui {

// The main window.
class frmRecover : public QMainWindow {
    Q_OBJECT
public:
    explicit frmRecover(QWidget* parent = nullptr);
};

}  // namespace hx::gui
