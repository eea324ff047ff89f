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
#include <functional>
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
    // Asked first, with the box's text: an answer by what the box asks, or none (then the next of `answers`).
    std::function<std::optional<QMessageBox::StandardButton>(const QString& text)> answerFor;
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
