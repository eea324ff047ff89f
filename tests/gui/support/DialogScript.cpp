#include "support/DialogScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>

namespace hx::test {

DialogScript::DialogScript() {
    connect(&timer_, &QTimer::timeout, this, &DialogScript::poll);
    timer_.start(20);
}

bool DialogScript::shownContaining(const QString& part) const {
    for (const auto& s : shown)
        if (s.text.contains(part)) return true;
    return false;
}

void DialogScript::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
        current_ = nullptr;
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (modal != current_) {
        current_ = modal;
        seenAt_ = now;
        Shown s;
        s.title = modal->windowTitle();
        s.geometry = modal->frameGeometry();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            s.text = box->text();
            for (auto* b : box->buttons()) s.buttons << b->text();
        } else if (auto* in = qobject_cast<QInputDialog*>(modal)) {
            s.text = in->labelText();
        } else if (auto* path = modal->findChild<QLineEdit*>("TxtPath")) {
            s.text = path->text();
        }
        shown.push_back(s);
    }
    if (now - seenAt_ < answerAfterMs) return;
    // Takes the next scripted input, letting go of the box it will answer.
    const auto nextInput = [this] {
        std::optional<QString> value;
        if (!inputs.empty()) {
            value = inputs.front();
            inputs.pop_front();
        }
        current_ = nullptr;
        return value;
    };
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        QAbstractButton* button = nullptr;
        if (answerFor)
            if (const auto chosen = answerFor(box->text())) button = box->button(*chosen);
        if (!button && !answers.empty()) {
            button = box->button(answers.front());
            answers.pop_front();
        }
        if (!button) button = box->defaultButton();
        if (!button) button = box->buttons().value(0);
        current_ = nullptr;
        if (button) button->click();
    } else if (modal->objectName() == "frmDirChoose" || qobject_cast<QFileDialog*>(modal)) {
        // The folder chooser and the save dialog take the next input as the path; none cancels.
        const std::optional<QString> value = nextInput();
        if (auto* file = qobject_cast<QFileDialog*>(modal)) {
            if (value) {
                const QFileInfo info(*value);
                file->setDirectory(info.absolutePath());
                if (auto* name = file->findChild<QLineEdit*>("fileNameEdit")) name->setText(info.fileName());
                else file->selectFile(info.fileName());
                QMetaObject::invokeMethod(file, "accept");
            } else {
                file->reject();
            }
        } else if (value) {
            modal->findChild<QLineEdit*>("TxtPath")->setText(*value);
            modal->findChild<QPushButton*>("CmdOK")->click();
        } else {
            modal->findChild<QPushButton*>("CmdCancel")->click();
        }
    } else if (auto* in = qobject_cast<QInputDialog*>(modal)) {
        const std::optional<QString> value = nextInput();
        if (value) {
            in->setTextValue(*value);
            in->accept();
        } else {
            in->reject();
        }
    }
}

}  // namespace hx::test
