#pragma once
// The page of file types: the presets (and, last, the size limits) above,
// every type below with its tick, the program's own and the learned ones.
// The pane makes and fills both and says what is ticked; what choosing a
// preset and the Delete key ask of the rest of the window, the window says.
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "learning/AdaptiveTypes.h"
#include "shell/Settings.h"

class QComboBox;
class QTreeWidget;

namespace hx::gui {

class TypesPane : public QWidget {
public:
    struct Actions {
        std::function<void(int)> presetChosen;   // an entry of the presets, by its index
        std::function<void()> deleteKey;         // Delete on the list
    };
    TypesPane(QWidget* parent, Actions actions);

    // The presets in the window's language, with the size limits as the last entry; the choice stays.
    void setTexts(double minMB, double maxMB);
    void showSizeLimits(double minMB, double maxMB);
    bool isSizeEntry(int index) const;
    int presetIndex() const;
    void setPresetIndex(int index);
    void showPresets(bool shown);
    // Ticks the rows of the preset at `index` (a camera brand, "All types possible", ...).
    void applyPreset(int index);

    // Every type: the program's, then the variants learned in `learnedFolder`,
    // ticked row for row as `ticks` say (the last run's).
    void fill(const std::filesystem::path& learnedFolder, const std::vector<shell::TypeListRow>& ticks);
    // The same, and then each row that was there before keeps the tick it had.
    void refill(const std::filesystem::path& learnedFolder, const std::vector<shell::TypeListRow>& ticks);
    std::vector<shell::TypeListRow> ticks() const;
    void scrollToTop();

    // What the scan looks for: the ticked learned types, then "|", then the
    // program's, then "|"; each as ".ext" and its name.
    std::string selection() const;
    std::vector<learning::LearnedVariant> tickedLearned() const;
    // The extensions ticked ("jpg"); `every` when no row is left out.
    std::vector<std::string> tickedExtensions(bool& every) const;
    // Ticks the program's rows of these extensions (".jpg").
    void tickProgramTypes(const std::vector<std::string>& extensions);
    // The learned types of the list, or of its selected rows only.
    std::vector<std::string> learnedTypes(bool selectedOnly) const;

private:
    void addLearnedRows(const std::filesystem::path& folder);

    QComboBox* presets_ = nullptr;
    QTreeWidget* list_ = nullptr;
};

}  // namespace hx::gui
