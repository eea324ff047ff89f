#pragma once
// Answers the window's modal dialogs from a script while a test runs, and
// records every box that was shown.
#include <QMessageBox>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <optional>

namespace hx::test {

class DialogScript : public QObject {
    Q_OBJECT
public:
    struct Shown {
        QString title, text;
        QStringList buttons;
        QRect geometry;
    };

    DialogScript();
    // Next answers, in order; a box with no answer left is closed with its default button.
    std::deque<QMessageBox::StandardButton> answers;
    std::deque<std::optional<QString>> inputs;
    // How long a box stays before it is answered.
    int answerAfterMs = 100;
    std::vector<Shown> shown;

    bool shownContaining(const QString& part) const;

private:
    void poll();
    QTimer timer_;
    QWidget* current_ = nullptr;
    qint64 seenAt_ = 0;
};

}  // namespace hx::test
