#include "gui/panes/ResultBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QVBoxLayout>

#include "gui/panes/CommandButton.h"

namespace hx::gui {

ResultBar::ResultBar(QWidget* parent) : QWidget(parent) {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(6);
    auto* h = new QHBoxLayout;
    h->setSpacing(6);
    h->addWidget(MakeCommandButton("CmdSaveAll", this, true));
    h->addWidget(MakeCommandButton("CmdSaveAs", this));
    h->addWidget(MakeCommandButton("CmdOpen", this));
    showFolder_ = MakeCommandButton("CmdShowFolder", this);
    h->addWidget(showFolder_);
    h->addStretch(1);
    showThumbs_ = MakeCommandButton("CmdShowThumbs", this);
    h->addWidget(showThumbs_);
    width_ = new QLineEdit(this);
    width_->setObjectName("TxtWidth");
    width_->setFixedWidth(60);
    width_->setMinimumHeight(30);
    width_->setAlignment(Qt::AlignRight);
    width_->setText("160");
    h->addWidget(width_);
    renderWidth_ = MakeCommandButton("CmdRenderWidth", this);
    h->addWidget(renderWidth_);
    v->addLayout(h);

    auto* st = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName("lblStatus");
    status_->setMinimumHeight(22);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    st->addWidget(status_, 1);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("ProgressBar1");
    progress_->setFixedWidth(260);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setVisible(false);
    st->addWidget(progress_);
    v->addLayout(st);
}

}  // namespace hx::gui
