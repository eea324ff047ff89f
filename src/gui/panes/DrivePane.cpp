#include "gui/panes/DrivePane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "gui/EventFilters.h"
#include "gui/QtText.h"
#include "shell/Strings.h"

namespace hx::gui {

namespace {

QString sizeText(std::uint64_t bytes) {
    return QLocale().toString(static_cast<double>(bytes) / 1048576.0, 'f', bytes < 10 * 1048576ULL ? 1 : 0) + " MB";
}

void fill(QComboBox* list, const std::vector<platform::DriveEntry>& drives) {
    const QString keep = list->currentData().toString();
    QSignalBlocker block(list);
    list->clear();
    for (const auto& d : drives) {
        // Images by their file name: their folders would crowd out the rest.
        QString text = d.isImage ? QFileInfo(q(d.id)).fileName() : q(platform::DriveDisplayName(d));
        if (d.isImage && !d.label.empty()) text = q(d.label) + "  (" + text + ")";
        if (d.sizeBytes) text += "  \u00b7  " + sizeText(d.sizeBytes);
        if (d.isSystem) text += "  \u00b7  " + q(shell::LoadStr(0, "system disk"));
        list->addItem(text, q(d.id));
        list->setItemData(list->count() - 1, q(d.id), Qt::ToolTipRole);
    }
    const int i = list->findData(keep);
    if (i >= 0) list->setCurrentIndex(i);
}


}  // namespace

DrivePane::DrivePane(QWidget* parent, Actions actions) : QWidget(parent) {
    setObjectName("drivePane");
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(6);
    heading_ = new QLabel(this);
    heading_->setObjectName("lblDrive");
    heading_->setProperty("heading", true);
    v->addWidget(heading_);
    drives_ = new QComboBox(this);
    drives_->setObjectName("Drive1");
    drives_->setMinimumHeight(30);
    drives_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    drives_->setMinimumContentsLength(16);
    drives_->installEventFilter(new KeyFilter(drives_, [key = actions.key](int k, Qt::KeyboardModifiers modifiers) {
        return !(modifiers & (Qt::ControlModifier | Qt::AltModifier)) && key(k);
    }));
    connect(drives_, qOverload<int>(&QComboBox::activated), this, [chosen = actions.chosen](int) { chosen(); });
    v->addWidget(drives_);
    hidden_ = new QComboBox(this);
    hidden_->setObjectName("Drive2");
    hidden_->setVisible(false);

    // The drive information panel under its heading; the box shows or hides it.
    auto* specsHead = new QHBoxLayout;
    specsHead->setSpacing(4);
    showSpecs_ = new QCheckBox(this);
    showSpecs_->setObjectName("CheckSpecs");
    showSpecs_->setChecked(true);
    specsHead->addWidget(showSpecs_);
    specsHeading_ = new QLineEdit(this);
    specsHeading_->setObjectName("txtSpecs");
    specsHeading_->setReadOnly(true);
    specsHeading_->setFrame(false);
    specsHeading_->setFocusPolicy(Qt::NoFocus);
    specsHead->addWidget(specsHeading_, 1);
    v->addLayout(specsHead);
    specs_ = new QLabel(this);
    specs_->setObjectName("lblSpecs");
    specs_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    specs_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for the panel's eleven lines.
    specs_->setFixedHeight(specs_->fontMetrics().lineSpacing() * 11 + 6);
    specs_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    v->addWidget(specs_);
    connect(showSpecs_, &QCheckBox::toggled, specs_, &QWidget::setVisible);
}

void DrivePane::list(const std::vector<platform::DriveEntry>& drives) { fill(drives_, drives); }
void DrivePane::listHidden(const std::vector<platform::DriveEntry>& drives) { fill(hidden_, drives); }

std::string DrivePane::chosen() const { return s(drives_->currentData().toString()); }

bool DrivePane::choose(const std::string& id) {
    const int i = drives_->findData(q(id));
    if (i < 0) return false;
    if (i != drives_->currentIndex()) {
        QSignalBlocker block(drives_);
        drives_->setCurrentIndex(i);
    }
    return true;
}

bool DrivePane::lists(const std::string& id) const { return drives_->findData(q(id)) >= 0; }
std::size_t DrivePane::count() const { return static_cast<std::size_t>(drives_->count()); }
bool DrivePane::choosable() const { return drives_->isEnabled(); }

void DrivePane::setTexts(const QString& heading, const QString& tooltip) {
    heading_->setText(heading);
    drives_->setToolTip(tooltip);
}

void DrivePane::setSpecs(const QString& text) { specs_->setText(text); }
bool DrivePane::specsShown() const { return showSpecs_->isChecked(); }
void DrivePane::showSpecs(bool shown) { showSpecs_->setChecked(shown); }

}  // namespace hx::gui
