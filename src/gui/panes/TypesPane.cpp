#include "gui/panes/TypesPane.h"

#include <QComboBox>
#include <QFileIconProvider>
#include <QHBoxLayout>
#include <QLocale>
#include <QMap>
#include <QMimeDatabase>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/EventFilters.h"
#include "gui/QtText.h"
#include "scan/ScanState.h"
#include "formats/SignatureTable.h"
#include "formats/TypePresets.h"
#include "shell/Strings.h"
#include "shell/Text.h"
#include "shell/WindowCommandsText.h"

namespace hx::gui {

using shell::LoadStr;

namespace {

const QString kAdaptive = QStringLiteral("Adaptive");

bool learned(const QTreeWidgetItem* item) { return item->text(2) == kAdaptive; }

}  // namespace

TypesPane::TypesPane(QWidget* parent, Actions actions) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    presets_ = new QComboBox(this);
    presets_->setObjectName("CmbTypeSelect");
    presets_->setMinimumHeight(30);
    presets_->setMinimumWidth(260);
    auto* row = new QHBoxLayout;
    row->addWidget(presets_);
    row->addStretch(1);
    column->addLayout(row);
    list_ = new QTreeWidget(this);
    list_->setObjectName("LvwTypes");
    list_->setRootIsDecorated(false);
    list_->setAlternatingRowColors(true);
    list_->setUniformRowHeights(true);
    column->addWidget(list_);
    connect(presets_, qOverload<int>(&QComboBox::activated), this,
            [chosen = actions.presetChosen](int index) { chosen(index); });
    list_->installEventFilter(new KeyFilter(list_, [deleteKey = actions.deleteKey](int key, Qt::KeyboardModifiers) {
        if (key != Qt::Key_Delete) return false;
        deleteKey();
        return true;
    }));
}

void TypesPane::setTexts(double minMB, double maxMB) {
    presets_->setPlaceholderText(q(LoadStr(434, "Select File Types")));
    const int preset = presets_->currentIndex();
    presets_->clear();
    for (const auto& e : shell::TypePresetEntries()) presets_->addItem(q(LoadStr(e.id, e.english)));
    for (const std::string& maker : formats::CameraMakers()) presets_->addItem(q(maker));
    // The last entry asks for the size limits.
    presets_->addItem(QString(), QStringLiteral("size"));
    showSizeLimits(minMB, maxMB);
    presets_->setCurrentIndex(preset);

    QStringList headers;
    for (const auto& e : shell::TypeListHeaders()) headers << q(LoadStr(e.id, e.english));
    list_->setHeaderLabels(headers);
}

void TypesPane::showSizeLimits(double minMB, double maxMB) {
    presets_->setToolTip(q(shell::TypeSelectTooltip(minMB, maxMB)));
    if (presets_->count() > 0) presets_->setItemText(presets_->count() - 1, q(shell::SizeLimitEntry(minMB, maxMB)));
}

bool TypesPane::isSizeEntry(int index) const { return presets_->itemData(index).toString() == "size"; }

int TypesPane::presetIndex() const { return presets_->currentIndex(); }

void TypesPane::setPresetIndex(int index) { presets_->setCurrentIndex(index < presets_->count() ? index : -1); }

void TypesPane::showPresets(bool shown) { presets_->setVisible(shown); }

void TypesPane::applyPreset(int index) {
    if (presets_->currentIndex() != index) presets_->setCurrentIndex(index);
    // Presets are known by their English names; the camera brands have no other.
    const auto& localised = shell::TypePresetEntries();
    const std::string name =
        index < static_cast<int>(localised.size()) ? localised[index].english : s(presets_->itemText(index));
    const bool all = name == "All types possible";
    QSet<QString> wanted;
    for (const auto& t : formats::PresetTypes(name)) wanted.insert(q(t).toUpper());
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        item->setCheckState(0, all || wanted.contains(item->text(0).toUpper()) ? Qt::Checked : Qt::Unchecked);
    }
}

void TypesPane::fill(const std::filesystem::path& learnedFolder, const std::vector<shell::TypeListRow>& ticks) {
    list_->clear();
    const QString program = q(LoadStr(364, "Program"));
    QSet<QString> seen;
    for (const formats::SignatureRow& row : formats::EveryRow()) {
        if (row.Extension.size() < 2 || seen.contains(q(row.key()))) continue;
        seen.insert(q(row.key()));
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, q(row.Extension.substr(1)).toUpper());
        item->setText(1, q(row.Description.empty() ? formats::Described(row.DisplayName) : row.Description));
        item->setData(1, Qt::UserRole, q(row.DisplayName));
        item->setText(2, program);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    addLearnedRows(learnedFolder);
    for (int i = 0; i < list_->topLevelItemCount() && i < static_cast<int>(ticks.size()); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        if (item->text(0) == q(ticks[i].text)) item->setCheckState(0, ticks[i].checked ? Qt::Checked : Qt::Unchecked);
    }
    for (int c = 0; c < list_->columnCount(); ++c) list_->resizeColumnToContents(c);
}

void TypesPane::refill(const std::filesystem::path& learnedFolder, const std::vector<shell::TypeListRow>& ticks) {
    // A row is known by its type, its source and its learned slot.
    const auto key = [](const QTreeWidgetItem* item) {
        return item->text(0) + "|" + item->text(2) + "|" + item->data(0, Qt::UserRole).toString();
    };
    QMap<QString, Qt::CheckState> checks;
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        checks[key(list_->topLevelItem(i))] = list_->topLevelItem(i)->checkState(0);
    fill(learnedFolder, ticks);
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        const auto it = checks.find(key(item));
        if (it != checks.end()) item->setCheckState(0, it.value());
    }
}

void TypesPane::addLearnedRows(const std::filesystem::path& folder) {
    QMimeDatabase mimes;
    for (const auto& v : learning::ListLearnedVariants(folder)) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, q(shell::ToUpper(v.type)));
        item->setData(0, Qt::UserRole, v.slot);
        item->setText(1, q(shell::Trim(v.displayName)));
        item->setData(1, Qt::UserRole, q(v.displayName));
        item->setText(2, kAdaptive);
        item->setText(3, QLocale().toString(v.reliability, 'f', 1) + "%");
        item->setText(4, QString::number(v.head));
        item->setText(5, QString::number(v.body));
        item->setText(6, QString::number(v.tail));
        item->setText(7, QString::number(v.tailBody));
        item->setText(8, QString::number(v.samples));
        // The icon the desktop gives files of that type.
        const QMimeType mime = mimes.mimeTypeForFile("x." + q(v.type), QMimeDatabase::MatchExtension);
        item->setIcon(0, QIcon::fromTheme(mime.iconName(), QFileIconProvider().icon(QFileIconProvider::File)));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Checked);
    }
}

std::vector<shell::TypeListRow> TypesPane::ticks() const {
    std::vector<shell::TypeListRow> rows;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list_->topLevelItem(i);
        rows.push_back({s(item->text(0)), item->checkState(0) == Qt::Checked});
    }
    return rows;
}

void TypesPane::scrollToTop() { list_->scrollToTop(); }

std::string TypesPane::selection() const {
    const QString program = q(LoadStr(364, "Program"));
    std::string selection;
    for (bool builtIn : {false, true}) {
        for (int i = 0; i < list_->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list_->topLevelItem(i);
            if (item->checkState(0) != Qt::Checked || (item->text(2) == program) != builtIn) continue;
            selection += "." + s(item->text(0).toLower()) + s(item->data(1, Qt::UserRole).toString());
        }
        selection += "|";
    }
    return selection;
}

std::vector<learning::LearnedVariant> TypesPane::tickedLearned() const {
    std::vector<learning::LearnedVariant> ticked;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list_->topLevelItem(i);
        if (!learned(item) || item->checkState(0) != Qt::Checked) continue;
        learning::LearnedVariant v;
        v.type = s(item->text(0).toLower());
        v.slot = item->data(0, Qt::UserRole).toInt();
        ticked.push_back(v);
    }
    return ticked;
}

std::vector<std::string> TypesPane::tickedExtensions(bool& every) const {
    std::vector<std::string> extensions;
    every = true;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list_->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked) extensions.push_back(s(item->text(0).toLower()));
        else every = false;
    }
    return extensions;
}

void TypesPane::tickProgramTypes(const std::vector<std::string>& extensions) {
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        for (const auto& ext : extensions)
            if (!learned(item) && item->text(0).toLower() == q(ext.substr(1))) item->setCheckState(0, Qt::Checked);
    }
}

std::vector<std::string> TypesPane::learnedTypes(bool selectedOnly) const {
    std::vector<std::string> types;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list_->topLevelItem(i);
        if (!learned(item) || (selectedOnly && !item->isSelected())) continue;
        const std::string type = s(item->text(0).toLower());
        if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    }
    return types;
}

}  // namespace hx::gui
