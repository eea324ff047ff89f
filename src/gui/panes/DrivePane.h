#pragma once
// The drive chooser at the top of the side bar: the list of drives and
// images (Drive1), the watcher's hidden list of them (Drive2) and the drive
// information panel under its heading, which a box shows or hides. The pane
// fills and keeps its lists; what a choice and a key on the list ask for,
// the window says.
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/DriveCatalogue.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace hx::gui {

class DrivePane : public QWidget {
public:
    struct Actions {
        std::function<void()> chosen;     // the user chose another drive
        std::function<bool(int)> key;     // a key on the list (W, R, F): true when it was handled
    };
    DrivePane(QWidget* parent, Actions actions);

    // The drives listed, the current one kept where it is still there.
    void list(const std::vector<platform::DriveEntry>& drives);
    // The watcher's list, never shown: what it holds now.
    void listHidden(const std::vector<platform::DriveEntry>& drives);
    // The drive chosen in the list (its id); empty when none.
    std::string chosen() const;
    // Makes `id` the chosen one without telling anyone; false when it is not listed.
    bool choose(const std::string& id);
    bool lists(const std::string& id) const;
    std::size_t count() const;
    // The list takes choices (a long command disables it by its name).
    bool choosable() const;

    void setTexts(const QString& heading, const QString& tooltip);
    void setSpecs(const QString& text);
    bool specsShown() const;
    void showSpecs(bool shown);

private:
    QLabel* heading_ = nullptr;
    QComboBox* drives_ = nullptr;
    QComboBox* hidden_ = nullptr;
    QCheckBox* showSpecs_ = nullptr;
    QLineEdit* specsHeading_ = nullptr;
    QLabel* specs_ = nullptr;
};

}  // namespace hx::gui
