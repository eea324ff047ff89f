#pragma once
// The file search window: "Find File(s)..." over the chosen drives and
// "Folder Info..." of a path, results one path per line in List1. The search
// itself is utilities::Zoekfiles; this window shows it and can stop it.
#include <QDialog>
#include <string>

#include "shell/Ui.h"
#include "utilities/FileSearch.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace hx::gui {

class frmSearchDrives : public QDialog {
    Q_OBJECT
public:
    // `ui` asks the questions (the main window).
    explicit frmSearchDrives(shell::Ui& ui, QWidget* parent = nullptr);

    // Fills List1 with every matching file on the drives (all when empty).
    utilities::SearchResult Zoekfiles(const std::string& spec, const std::string& drives);

    void mnuFindFiles_Click();
    void mnuFolderInfo_Click();
    bool running() const { return running_; }

private:
    class SearchUi;
    void showResult(const utilities::SearchResult& result);

    shell::Ui& ui_;
    bool running_ = false;
    bool stop_ = false;
    QListWidget* List1 = nullptr;
    QLabel* lblStatus = nullptr;
    QPushButton* CmdFind = nullptr;
    QPushButton* CmdFolderInfo = nullptr;
};

}  // namespace hx::gui
