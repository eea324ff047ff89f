#include "gui/dialogs/frmDirChoose.h"
#include "gui/QtText.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeView>
#include <QVBoxLayout>

#include "shell/Strings.h"

namespace hx::gui {

using shell::LoadStr;

namespace {
}  // namespace

frmDirChoose::frmDirChoose(shell::Ui& ui, const std::string& title, const std::string& start, const std::string& home,
                           QWidget* parent)
    : QDialog(parent), chooser_(ui, start, home), result_(utilities::FolderChooser::cancelled()) {
    setObjectName("frmDirChoose");
    setWindowTitle(q(title.empty() ? LoadStr(19, "Select folder") : title));
    setModal(true);
    resize(520, 460);

    Drive1 = new QComboBox(this);
    Drive1->setObjectName("Drive1");
    for (const auto& d : chooser_.drives()) Drive1->addItem(q(d), q(d));
    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model_->setRootPath("/");
    Dir1 = new QTreeView(this);
    Dir1->setObjectName("Dir1");
    Dir1->setModel(model_);
    for (int c = 1; c < model_->columnCount(); ++c) Dir1->hideColumn(c);
    Dir1->header()->hide();
    TxtPath = new QLineEdit(this);
    TxtPath->setObjectName("TxtPath");

    auto button = [this](const char* name, int id, const char* text) {
        auto* b = new QPushButton(q(LoadStr(id, text)), this);
        b->setObjectName(name);
        return b;
    };
    QPushButton* ok = button("CmdOK", 1573, "OK");
    QPushButton* cancel = button("CmdCancel", 24, "Cancel");
    QPushButton* create = button("CmdCreate", 23, "Create new");
    QPushButton* remove = button("CmdDelete", 21, "Delete");
    QPushButton* extend = button("CmndExtend", 20, "Extend");
    ok->setDefault(true);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(q(LoadStr(22, "Path")), this));
    pathRow->addWidget(TxtPath, 1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {create, remove, extend}) buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Drive1);
    layout->addWidget(Dir1, 1);
    layout->addLayout(pathRow);
    layout->addLayout(buttons);

    connect(Drive1, qOverload<int>(&QComboBox::activated), this, &frmDirChoose::Drive1_Change);
    connect(Dir1, &QTreeView::clicked, this, [this](const QModelIndex& index) {
        chooser_.setPath(s(model_->filePath(index)));
        showChooserPath();
    });
    connect(TxtPath, &QLineEdit::editingFinished, this, [this] {
        chooser_.setPath(s(TxtPath->text()));
        showChooserPath();
    });
    connect(ok, &QPushButton::clicked, this, &frmDirChoose::CmdOK_Click);
    connect(cancel, &QPushButton::clicked, this, &frmDirChoose::CmdCancel_Click);
    connect(create, &QPushButton::clicked, this, &frmDirChoose::CmdCreate_Click);
    connect(remove, &QPushButton::clicked, this, &frmDirChoose::CmdDelete_Click);
    connect(extend, &QPushButton::clicked, this, &frmDirChoose::CmndExtend_Click);
    showChooserPath();
}

frmDirChoose::~frmDirChoose() = default;

void frmDirChoose::showChooserPath() {
    TxtPath->setText(q(chooser_.path()));
    {
        QSignalBlocker block(Drive1);
        const int i = Drive1->findData(q(chooser_.drive()));
        if (i >= 0) Drive1->setCurrentIndex(i);
    }
    const QModelIndex index = model_->index(q(chooser_.path()));
    if (index.isValid()) {
        Dir1->setCurrentIndex(index);
        Dir1->scrollTo(index);
    }
}

void frmDirChoose::Drive1_Change(int index) {
    chooser_.selectDrive(s(Drive1->itemData(index).toString()));
    showChooserPath();
}

void frmDirChoose::CmdOK_Click() {
    // What is typed counts, even without leaving the field first.
    chooser_.setPath(s(TxtPath->text()));
    result_ = chooser_.ok();
    accept();
}

void frmDirChoose::CmdCancel_Click() {
    result_ = utilities::FolderChooser::cancelled();
    reject();
}

void frmDirChoose::CmdCreate_Click() {
    chooser_.setPath(s(TxtPath->text()));
    if (chooser_.create()) showChooserPath();
}

void frmDirChoose::CmdDelete_Click() {
    chooser_.setPath(s(TxtPath->text()));
    chooser_.remove();
    showChooserPath();
}

void frmDirChoose::CmndExtend_Click() {
    const QString dir = QFileDialog::getExistingDirectory(this, q(LoadStr(217, "Extended Browse")), q(chooser_.drive()));
    if (dir.isEmpty()) return;
    chooser_.setPath(s(dir));
    showChooserPath();
}

std::string frmDirChoose::Choose(shell::Ui& ui, const std::string& title, const std::string& start,
                                 const std::string& home, QWidget* parent) {
    frmDirChoose dialog(ui, title, start, home, parent);
    dialog.exec();
    return dialog.result();
}

}  // namespace hx::gui
