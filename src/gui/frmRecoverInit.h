#pragma once
#include <QPixmap>
#include <QWidget>

namespace hx::gui {

// The splash shown while the main window loads: the last picture (or the
// background picture) with the "loading" line and the product title.
class frmRecoverInit : public QWidget {
    Q_OBJECT
public:
    explicit frmRecoverInit(const QString& picturePath, QWidget* parent = nullptr);
    QString loadingText() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPixmap picture_;
};

}  // namespace hx::gui
