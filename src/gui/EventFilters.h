#pragma once
// Small event filters the window's panes hang on their widgets.
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QObject>
#include <functional>

namespace hx::gui {

// Calls `action` on a double click on the widget it watches.
class DoubleClickFilter : public QObject {
public:
    DoubleClickFilter(QObject* parent, std::function<void()> action) : QObject(parent), action_(std::move(action)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick) {
            action_();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> action_;
};

// Calls `action` with the place of a left-button press on the widget it watches.
class LeftPressFilter : public QObject {
public:
    LeftPressFilter(QObject* parent, std::function<void(QPoint)> action) : QObject(parent), action_(std::move(action)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) action_(mouse->position().toPoint());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(QPoint)> action_;
};

// Hands the key presses of the widget it watches to `action`; a press the
// action handled goes no further.
class KeyFilter : public QObject {
public:
    KeyFilter(QObject* parent, std::function<bool(int, Qt::KeyboardModifiers)> action)
        : QObject(parent), action_(std::move(action)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (action_(key->key(), key->modifiers())) return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<bool(int, Qt::KeyboardModifiers)> action_;
};

}  // namespace hx::gui
