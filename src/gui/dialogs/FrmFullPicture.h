#pragma once
// The full view of the preview's picture, over the whole screen: Escape
// closes it, the right button shows its pop-up list ("Hide Me", "Close
// Full View", "Copy Screen!").
#include <QLabel>
#include <QListWidget>
#include <QWidget>
#include <string>

#include "shell/Ui.h"

namespace hx::gui {

class FrmFullPicture : public QWidget {
    Q_OBJECT
public:
    // `shownFile` names the copy offered; `folder` is where the save dialog starts.
    FrmFullPicture(shell::Ui& ui, const QPixmap& picture, std::string shownFile, std::string folder,
                   QWidget* parent = nullptr);
    void List1_Click(int index);
    // Where the last screen copy went; empty before one was saved.
    const std::string& savedCopy() const { return savedCopy_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    shell::Ui& ui_;
    QPixmap picture_;
    std::string shownFile_, folder_, savedCopy_;
    QLabel* Picture1 = nullptr;
    QListWidget* List1 = nullptr;
};

}  // namespace hx::gui
