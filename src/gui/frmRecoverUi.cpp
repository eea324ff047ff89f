// The window as the engine's Ui service: message boxes with the program's
// buttons and icons, input boxes, file and folder choosers, captions,
// enabled and visible states, status, progress and the stop request.
#include "gui/frmRecover.h"

#include <algorithm>

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <QProgressBar>
#include <QEventLoop>
#include <QCoreApplication>

#include "gui/QtSettingsStore.h"
#include "gui/dialogs/frmDirChoose.h"
#include "gui/frmRecoverInit.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/DriveInfoPanel.h"
#include "media/DriveRecord.h"
#include "output/ScanCommand.h"
#include "scan/ScanDisk.h"
#include "undelete/QuickUndelete.h"
#include "undelete/UndeleteLists.h"
#include "viewing/Exif.h"
#include "scan/ScanState.h"
#include "formats/SignatureTable.h"
#include "shell/MessageBoxRules.h"
#include "platform/Processes.h"
#include "shell/Startup.h"
#include "shell/WorkingFolders.h"
#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"

#include "gui/QtText.h"

namespace hx::gui {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

namespace {

QMessageBox::StandardButtons buttonsOf(shell::Buttons b) {
    switch (b) {
        case shell::Buttons::OK: return QMessageBox::Ok;
        case shell::Buttons::OKCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case shell::Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
        case shell::Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case shell::Buttons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
        case shell::Buttons::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon iconOf(shell::Icon i) {
    switch (i) {
        case shell::Icon::Information: return QMessageBox::Information;
        case shell::Icon::Question: return QMessageBox::Question;
        case shell::Icon::Exclamation: return QMessageBox::Warning;
        case shell::Icon::Critical: return QMessageBox::Critical;
        case shell::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

shell::Answer answerOf(int button, shell::Buttons set) {
    switch (button) {
        case QMessageBox::Ok: return shell::Answer::OK;
        case QMessageBox::Yes: return shell::Answer::Yes;
        case QMessageBox::No: return shell::Answer::No;
        case QMessageBox::Retry: return shell::Answer::Retry;
        case QMessageBox::Abort: return shell::Answer::Abort;
        case QMessageBox::Ignore: return shell::Answer::Ignore;
        case QMessageBox::Cancel: return shell::Answer::Cancel;
        default: break;
    }
    // Closed with Escape or the title bar: the safe answer of the set.
    switch (set) {
        case shell::Buttons::OK: return shell::Answer::OK;
        case shell::Buttons::YesNo: return shell::Answer::No;
        case shell::Buttons::AbortRetryIgnore: return shell::Answer::Abort;
        default: return shell::Answer::Cancel;
    }
}

}  // namespace

QWidget* frmRecover::control(const std::string& name) const {
    if (name == "frmRecover") return const_cast<frmRecover*>(this);
    return findChild<QWidget*>(q(name));
}

// ---------------------------------------------------------------- Ui service

shell::Answer frmRecover::message(const std::string& text, const std::string& title,
                                  const shell::MessageOptions& asked) {
    auto& guard = selfClosing_;
    const shell::MessageOptions options = shell::EffectiveOptions(asked, guard);
    const bool selfClosing = options.selfClosingStyle != 0;
    QMessageBox box(iconOf(options.icon), q(title), q(text),
                    selfClosing ? QMessageBox::Ok : buttonsOf(options.buttons), isVisible() ? this : nullptr);
    box.setObjectName("MessageBox");
    if (selfClosing) {
        box.button(QMessageBox::Ok)->setText(q(shell::SelfClosingCaption()));
        QTimer::singleShot(shell::SelfClosingSeconds(options.selfClosingStyle) * 1000, &box, &QMessageBox::accept);
    }
    // Centred on the window, never off the top or left of the screen.
    box.adjustSize();
    QRect area = screen() ? screen()->availableGeometry() : QRect();
    QPoint pos = geometry().center() - QPoint(box.width() / 2, box.height() / 2);
    pos.setX(std::max(pos.x(), area.left()));
    pos.setY(std::max(pos.y(), area.top()));
    box.move(pos);
    QElapsedTimer shown;
    shown.start();
    const int button = box.exec();
    if (selfClosing) {
        if (guard.returnedAfter(static_cast<double>(shown.elapsed()) / 1000.0))
            return message(text, title, {asked.buttons, asked.icon, 0});
        return shell::Answer::OK;
    }
    return answerOf(button, options.buttons);
}

std::optional<std::string> frmRecover::input(const std::string& prompt, const std::string& title,
                                             const std::string& defaultText) {
    QInputDialog dlg(this);
    dlg.setObjectName("InputBox");
    dlg.setWindowTitle(q(title));
    dlg.setLabelText(q(prompt));
    dlg.setTextValue(q(defaultText));
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return s(dlg.textValue());
}

std::optional<std::string> frmRecover::chooseFolder(const std::string& title, const std::string& start) {
    const std::string chosen = frmDirChoose::Choose(*this, title, start, state().homeFolder.string(), this);
    if (chosen == utilities::FolderChooser::cancelled()) return std::nullopt;
    return chosen;
}

std::optional<std::string> frmRecover::openFile(const std::string& title, const std::string& filter,
                                                const std::string& start) {
    QString f = QFileDialog::getOpenFileName(this, q(title), q(start), q(filter));
    if (f.isEmpty()) return std::nullopt;
    return s(f);
}

std::optional<std::string> frmRecover::saveFile(const std::string& title, const std::string& filter,
                                                const std::string& start) {
    // A name that exists is asked about by the command itself, with its own choices.
    QString f = QFileDialog::getSaveFileName(this, q(title), q(start), q(filter), nullptr,
                                             QFileDialog::DontConfirmOverwrite);
    if (f.isEmpty()) return std::nullopt;
    return s(f);
}

void frmRecover::setCaption(const std::string& name, const std::string& text) {
    QWidget* w = control(name);
    if (!w) return;
    if (w == this) setWindowTitle(q(text));
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(q(text));
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(q(text).remove('\r'));
    else if (auto* e = qobject_cast<QPlainTextEdit*>(w)) e->setPlainText(q(text).remove('\r'));
    else if (auto* c = qobject_cast<QComboBox*>(w)) {
        // A list's caption is its chosen entry: the drive id or the entry's text.
        int i = c->findData(q(text));
        if (i < 0) i = c->findText(q(text));
        if (i >= 0) {
            QSignalBlocker block(c);
            c->setCurrentIndex(i);
        }
    }
    else if (auto* t = qobject_cast<QLineEdit*>(w)) t->setText(q(text));
    else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(q(text));
}

std::string frmRecover::caption(const std::string& name) const {
    QWidget* w = control(name);
    if (!w) return {};
    if (w == this) return s(windowTitle());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return s(b->text());
    if (auto* l = qobject_cast<QLabel*>(w)) return s(l->text());
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return s(e->toPlainText());
    if (auto* t = qobject_cast<QLineEdit*>(w)) return s(t->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) return s(g->title());
    if (auto* c = qobject_cast<QComboBox*>(w))
        return s(c->currentData().isValid() ? c->currentData().toString() : c->currentText());
    return {};
}

void frmRecover::setEnabled(const std::string& name, bool enabled) {
    if (auto* t = findChild<QTimer*>(q(name))) {
        enabled ? t->start() : t->stop();
        return;
    }
    if (QWidget* w = control(name)) w->setEnabled(enabled);
}

void frmRecover::setVisible(const std::string& name, bool visible) {
    if (QWidget* w = control(name); w && w != this) w->setVisible(visible);
}

void frmRecover::status(const std::string& text) { lblStatus->setText(q(text)); }

void frmRecover::progress(double fraction, const std::string& text) {
    if (fraction < 0) {
        ProgressBar1->setRange(0, 0);
    } else {
        ProgressBar1->setRange(0, 1000);
        ProgressBar1->setValue(static_cast<int>(std::min(1.0, fraction) * 1000));
    }
    ProgressBar1->setVisible(busy_.busy || fraction >= 0);
    if (!text.empty()) lblStatus->setText(q(text));
}

void frmRecover::yield() { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); }

bool frmRecover::stopRequested() const { return stopFlag_ || busy_.stopping; }

void frmRecover::clearStop() {
    stopFlag_ = false;
    busy_.stopping = false;
}

// ---------------------------------------------------------------- captions and states

}  // namespace hx::gui
