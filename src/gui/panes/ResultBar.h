#pragma once
// Under the results: saving, opening and exploring the found files, the
// switch between list and thumbnails with the thumbnails' width, and the
// status line with its progress bar. The pane makes them under the names
// the commands know them by; the window wires each name to its command.
#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace hx::gui {

class ResultBar : public QWidget {
public:
    explicit ResultBar(QWidget* parent);

    QPushButton* showFolder() const { return showFolder_; }
    QPushButton* showThumbs() const { return showThumbs_; }
    QPushButton* renderWidth() const { return renderWidth_; }
    QLineEdit* width() const { return width_; }
    QLabel* status() const { return status_; }
    QProgressBar* progress() const { return progress_; }

private:
    QPushButton *showFolder_ = nullptr, *showThumbs_ = nullptr, *renderWidth_ = nullptr;
    QLineEdit* width_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

}  // namespace hx::gui
