#include "gui/panes/CommandButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

namespace hx::gui {

namespace {

class ElidingButton : public QPushButton {
public:
    using QPushButton::QPushButton;
    QSize minimumSizeHint() const override {
        QSize s = QPushButton::minimumSizeHint();
        s.setWidth(std::min(s.width(), 80));
        return s;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter p(this);
        QStyleOptionButton opt;
        initStyleOption(&opt);
        const int full = QPushButton::sizeHint().width();
        if (width() < full) {
            // Padding and border stay; only the text gives way.
            const int room = width() - (full - fontMetrics().horizontalAdvance(text()));
            opt.text = fontMetrics().elidedText(text(), Qt::ElideMiddle, std::max(room, 0));
        }
        p.drawControl(QStyle::CE_PushButton, opt);
    }
};

}  // namespace

QPushButton* MakeCommandButton(const char* name, QWidget* parent, bool primary) {
    auto* b = new ElidingButton(parent);
    b->setObjectName(name);
    b->setToolTipDuration(-1);
    b->setMinimumHeight(30);
    if (primary) b->setProperty("primary", true);
    return b;
}

}  // namespace hx::gui
