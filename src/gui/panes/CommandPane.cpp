#include "gui/panes/CommandPane.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QVBoxLayout>

#include "gui/panes/CommandButton.h"

namespace hx::gui {

namespace {

QCheckBox* box(const char* name, QWidget* parent) {
    auto* b = new QCheckBox(parent);
    b->setObjectName(name);
    return b;
}

QGridLayout* grid() {
    auto* g = new QGridLayout;
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(6);
    return g;
}

}  // namespace

CommandPane::CommandPane(QWidget* parent) : QWidget(parent) {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(6);

    auto* recover = grid();
    scan_ = MakeCommandButton("CmdScan", this, true);
    scan_->setMinimumHeight(38);
    recover->addWidget(scan_, 0, 0, 1, 2);
    quickUndelete_ = MakeCommandButton("CmdQuickUndelete", this);
    recover->addWidget(quickUndelete_, 1, 0);
    scanTypes_ = MakeCommandButton("CmdShowScanTypes", this);
    scanTypes_->setCheckable(true);
    recover->addWidget(scanTypes_, 1, 1);
    deep_ = box("ChkDeep", this);
    damaged_ = box("ChkDamaged", this);
    recover->addWidget(deep_, 2, 0);
    recover->addWidget(damaged_, 2, 1);
    recover->addWidget(MakeCommandButton("CmdRecoverAll", this), 3, 0);
    recover->addWidget(box("ChkIncludePresent", this), 3, 1);
    QCheckBox* byDate = box("ChkByDate", this);
    byDate->setChecked(true);
    recover->addWidget(byDate, 4, 1);
    recover->setColumnStretch(0, 3);
    recover->setColumnStretch(1, 2);
    v->addLayout(recover);

    v->addSpacing(6);
    auto* tools = grid();
    tools->addWidget(MakeCommandButton("CmdMaxSpeed", this), 0, 0);
    tools->addWidget(MakeCommandButton("CmdLearn", this), 0, 1);
    // Its caption names the drive: give it the whole row.
    tools->addWidget(MakeCommandButton("CmdBackup", this), 1, 0, 1, 2);
    tools->addWidget(MakeCommandButton("CmdScanBackup", this), 2, 0);
    tools->addWidget(MakeCommandButton("CmdBrowse", this), 2, 1);
    v->addLayout(tools);
}

}  // namespace hx::gui
