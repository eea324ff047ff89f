#pragma once
// The folder chooser dialog: drive list, folder tree, editable path, and the
// buttons to make, delete and browse for folders. Its rules live in
// utilities::FolderChooser; this is their look.
#include <QDialog>
#include <memory>
#include <string>

#include "shell/Ui.h"
#include "utilities/FolderChooser.h"

class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QTreeView;

namespace hx::gui {

class frmDirChoose : public QDialog {
    Q_OBJECT
public:
    frmDirChoose(shell::Ui& ui, const std::string& title, const std::string& start, const std::string& home,
                 QWidget* parent = nullptr);
    ~frmDirChoose() override;

    // The result: the chosen path ending in '/', or the localised "Cancel".
    const std::string& result() const { return result_; }

    // Shows it modally and returns its result.
    static std::string Choose(shell::Ui& ui, const std::string& title, const std::string& start,
                              const std::string& home, QWidget* parent);

private:
    void showChooserPath();
    void Drive1_Change(int index);
    void CmdOK_Click();
    void CmdCancel_Click();
    void CmdCreate_Click();
    void CmdDelete_Click();
    void CmndExtend_Click();

    utilities::FolderChooser chooser_;
    std::string result_;
    QComboBox* Drive1 = nullptr;
    QTreeView* Dir1 = nullptr;
    QFileSystemModel* model_ = nullptr;
    QLineEdit* TxtPath = nullptr;
};

}  // namespace hx::gui
