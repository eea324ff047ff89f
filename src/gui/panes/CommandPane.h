#pragma once
// The commands beside the drive: the scan and its options, the quick
// undelete, the types to search, recover everything, the speed test,
// learning types, the backup and browsing. The pane makes the buttons and
// boxes under the names the commands know them by; the window wires each
// name to its command.
#include <QWidget>

class QCheckBox;
class QPushButton;

namespace hx::gui {

class CommandPane : public QWidget {
public:
    explicit CommandPane(QWidget* parent);

    QPushButton* scan() const { return scan_; }
    QPushButton* quickUndelete() const { return quickUndelete_; }
    QPushButton* scanTypes() const { return scanTypes_; }
    QCheckBox* deep() const { return deep_; }
    QCheckBox* damaged() const { return damaged_; }

private:
    QPushButton *scan_ = nullptr, *quickUndelete_ = nullptr, *scanTypes_ = nullptr;
    QCheckBox *deep_ = nullptr, *damaged_ = nullptr;
};

}  // namespace hx::gui
