// The window's Save All and Save As: found files out of the cache, or
// undelete entries restored from the drive. The rules live in
// output::SaveCommand and undelete::QuickUndelete; here the lists follow.
#include <QCheckBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "gui/frmRecover.h"
#include "gui/panes/FoundFilesPane.h"
#include "gui/panes/UndeletePane.h"
#include "gui/QtText.h"
#include "output/RecoverAll.h"
#include "output/SaveFiles.h"
#include "scan/ScanState.h"
#include "shell/Strings.h"
#include "undelete/QuickUndelete.h"

namespace hx::gui {

namespace fs = std::filesystem;
using shell::LoadStr;

namespace {


}  // namespace

bool frmRecover::refuseWhileBusy(const std::string& command) {
    if (!busy_.busy) return false;
    // The command's own button reads "Stop" while it runs.
    if (busy_.operation == command) {
        busy_.stopping = true;
        return true;
    }
    message(LoadStr(619, "Still busy"), "....  " + caption(busy_.operation), {shell::Buttons::OK, shell::Icon::Information});
    return true;
}

bool frmRecover::undeleteInView() const {
    const QWidget* lists = findChild<QWidget*>("undeleteLists");
    return undelete_ && lists && lists->isVisible();
}

void frmRecover::CmdSaveAll_Click() {
    if (refuseWhileBusy("CmdSaveAll")) return;
    if (undeleteInView()) saveUndeleteEntries(true);
    else saveFoundFiles(true);
}

void frmRecover::CmdSaveAs_Click() {
    if (refuseWhileBusy("CmdSaveAs")) return;
    if (undeleteInView()) saveUndeleteEntries(false);
    else saveFoundFiles(false);
}

void frmRecover::saveFoundFiles(bool all) {
    output::SaveRequest req;
    req.cacheFolder = foundPane_->folder().empty() ? cacheFolder_ : foundPane_->folder();
    for (const QString& name : foundPane_->names()) req.names.push_back(s(name));
    // The cache remembers the drive its files came from.
    std::string drive;
    if (scan::ReadSearchedFile(cacheFolder_, currentDrive_.size(), drive, req.scanned.serial) && drive == currentDrive_)
        req.scanned.drive = drive;
    else
        req.scanned = {currentDrive_, 0};
    req.saveFolder = saveFolder_;
    req.saveAsFolder = state().saveAs.empty() ? saveFolder_ : state().saveAs;
    req.productName = state().productName;
    req.byDate = findChild<QCheckBox*>("ChkByDate")->isChecked();

    const std::vector<std::size_t> rows = foundPane_->selectedRows();

    output::SaveCommand command(*this, req);
    output::SaveOutcome out;
    {
        const std::string button = all ? "CmdSaveAll" : "CmdSaveAs";
        shell::BusyGuard busy(*this, busy_, button, all ? LoadStr(394, "Save All") : LoadStr(0, "Save As"));
        out = all ? command.SaveAll() : command.SaveAs(rows);
    }
    saveFolder_ = command.saveFolder();
    state().save = saveFolder_;
    state().saveAs = command.saveAsFolder();
    ProgressBar1->setVisible(false);
    if (!out.moved.empty())
        status(shell::FormatStr(LoadStr(0, "%0 files saved in %1"),
                                {std::to_string(out.moved.size()), command.saveFolder().string()}));
    // Moved files are gone from the cache: the lists show what is left.
    listFolder(req.cacheFolder);
    EnableButtons();
    if (!cacheHasFiles()) ShowStartPage();
}

void frmRecover::saveUndeleteEntries(bool all) {
    std::vector<std::size_t> entries;
    if (all) {
        entries = undelete_->SaveAllSelection();
    } else {
        for (const std::string& row : undeletePane_->selectedRows())
            if (long i = undelete::RowEntryIndex(row); i >= 0) entries.push_back(static_cast<std::size_t>(i));
    }
    if (entries.empty()) {
        message(all ? LoadStr(621, "No recoverable files detected yet.") : LoadStr(620, "Please select a file and try again."),
                LoadStr(394, "Save All"), {shell::Buttons::OK, shell::Icon::Information});
        return;
    }
    output::SaveRequest req;
    req.scanned = {undelete_->drive(), 0};
    req.saveFolder = saveFolder_;
    req.productName = state().productName;
    output::SaveCommand chooser(*this, req);
    if (!chooser.ChooseSaveFolder(LoadStr(0, "Save All. Please select a folder for saving.") + "  " + req.productName))
        return;
    saveFolder_ = chooser.saveFolder();
    state().save = saveFolder_;
    undelete::QuickUndelete::SaveResult result;
    {
        shell::BusyGuard busy(*this, busy_, all ? "CmdSaveAll" : "CmdSaveAs",
                       all ? LoadStr(394, "Save All") : LoadStr(0, "Save As"));
        setCaption(all ? "CmdSaveAll" : "CmdSaveAs", LoadStr(0, "Saving") + "...");
        result = undelete_->SaveUndeleteEntries(entries, saveFolder_);
    }
    ProgressBar1->setVisible(false);
    undeletePane_->addNote(q(LoadStr(0, "Files saved in folder: ") + saveFolder_.string()));
    undeletePane_->clearSelection();
    setCaption("CmdShowFolder", LoadStr(0, "Explore Folder"));
    EnableButtons();
}

void frmRecover::CmdRecoverAll_Click() {
    if (refuseWhileBusy("CmdRecoverAll") || currentDrive_.empty()) return;
    const std::string title = LoadStr(0, "Recover everything");
    // The folder chooser with the source-disk rule, as for saving.
    output::SaveRequest where;
    where.scanned = {currentDrive_, 0};
    where.saveFolder = saveFolder_;
    where.productName = state().productName;
    output::SaveCommand chooser(*this, where);
    if (!chooser.ChooseSaveFolder(title + ". " + LoadStr(0, "Please select a folder for everything found.") + "  " +
                                  where.productName))
        return;
    output::RecoverRequest req;
    req.source = currentDrive_;
    req.target = chooser.saveFolder();
    req.selection = typeSelection();
    req.includePresent = findChild<QCheckBox*>("ChkIncludePresent")->isChecked();
    req.layout = findChild<QCheckBox*>("ChkByDate")->isChecked() ? output::RecoverRequest::Layout::Date
                                                                  : output::RecoverRequest::Layout::Found;
    std::optional<output::RecoverReport> report;
    {
        shell::BusyGuard busy(*this, busy_, "CmdRecoverAll", LoadStr(0, "Recover everything…"));
        report = output::RecoverCommand(*this, req).run();
    }
    ProgressBar1->setVisible(false);
    if (!report) return;
    output::WriteRecoverReport(*report, req.target);
    int undeleted = 0, carved = 0, copied = 0;
    for (const auto& f : report->files) (f.origin == "undeleted" ? undeleted : f.origin == "carved" ? carved : copied)++;
    std::string text = shell::FormatStr(LoadStr(0, "%0 files undeleted, %1 carved, %2 copied into %3."),
                                        {std::to_string(undeleted), std::to_string(carved), std::to_string(copied),
                                         req.target.string()});
    for (const auto& note : report->notes) text += "\n" + note;
    text += "\n" + LoadStr(0, "The report is report.html in that folder.");
    message(text, title, {shell::Buttons::OK, shell::Icon::Information});
    lastRecoverReport_ = req.target / "report.html";
    FillCacheBrowser();
    EnableButtons();
}

}  // namespace hx::gui
