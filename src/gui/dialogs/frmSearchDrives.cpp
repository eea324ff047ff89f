#include "gui/dialogs/frmSearchDrives.h"
#include "gui/QtText.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

#include "shell/ForwardingUi.h"
#include "shell/Strings.h"

namespace hx::gui {

using shell::LoadStr;

namespace {
}  // namespace

// The search's own status, yield and stop; questions go to the main window.
class frmSearchDrives::SearchUi : public shell::ForwardingUi {
public:
    SearchUi(frmSearchDrives& w, shell::Ui& base) : ForwardingUi(base), w_(w) {}
    void setCaption(const std::string&, const std::string&) override {}
    void setEnabled(const std::string&, bool) override {}
    void setVisible(const std::string&, bool) override {}
    void status(const std::string& text) override { w_.lblStatus->setText(q(text)); }
    void progress(double, const std::string&) override {}
    void yield() override { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); }
    bool stopRequested() const override { return w_.stop_; }
    void clearStop() override { w_.stop_ = false; }

private:
    frmSearchDrives& w_;
};

frmSearchDrives::frmSearchDrives(shell::Ui& ui, QWidget* parent) : QDialog(parent), ui_(ui) {
    setObjectName("frmSearchDrives");
    setWindowTitle(q(LoadStr(0, "File search")));
    resize(640, 420);
    List1 = new QListWidget(this);
    List1->setObjectName("List1");
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    CmdFind = new QPushButton(q(LoadStr(0, "&Find File(s)...")), this);
    CmdFind->setObjectName("mnuFindFiles");
    CmdFolderInfo = new QPushButton(q(LoadStr(0, "&Folder Info...")), this);
    CmdFolderInfo->setObjectName("mnuFolderInfo");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CmdFind);
    buttons->addWidget(CmdFolderInfo);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(List1, 1);
    layout->addWidget(lblStatus);
    layout->addLayout(buttons);
    // While a search runs its button reads "&Stop!" and stops it.
    connect(CmdFind, &QPushButton::clicked, this, [this] {
        if (running_) stop_ = true;
        else mnuFindFiles_Click();
    });
    connect(CmdFolderInfo, &QPushButton::clicked, this, [this] {
        if (running_) stop_ = true;
        else mnuFolderInfo_Click();
    });
}

utilities::SearchResult frmSearchDrives::Zoekfiles(const std::string& spec, const std::string& drives) {
    SearchUi ui(*this, ui_);
    running_ = true;
    stop_ = false;
    CmdFind->setText(q(LoadStr(0, "&Stop!")));
    const utilities::SearchResult r = utilities::Zoekfiles(spec, drives, ui);
    CmdFind->setText(q(LoadStr(0, "&Find File(s)...")));
    running_ = false;
    showResult(r);
    return r;
}

void frmSearchDrives::showResult(const utilities::SearchResult& result) {
    List1->setUpdatesEnabled(false);
    List1->clear();
    for (const auto& line : result.lines) List1->addItem(q(line));
    List1->scrollToBottom();
    List1->setUpdatesEnabled(true);
}

void frmSearchDrives::mnuFindFiles_Click() {
    const auto text = ui_.input(LoadStr(0, "Enter a search specification:") + "\n" +
                                    LoadStr(0, "Extensive search. Default on all drives.") + "\n" +
                                    LoadStr(0, "Wildcards * and ? can be used."),
                                LoadStr(0, "Find File(s)"), "*.jpg");
    if (!text || text->empty()) return;
    std::string spec, drives;
    utilities::SplitSearchText(*text, spec, drives);
    const auto r = Zoekfiles(spec, drives);
    lblStatus->setText(q(std::to_string(r.lines.size()) + LoadStr(0, " files found matching ") + "\"" + spec + "\""));
}

void frmSearchDrives::mnuFolderInfo_Click() {
    const auto path = ui_.input(LoadStr(0, "Enter a valid explicit path:"), LoadStr(0, "Folder Info"), "/");
    if (!path || path->empty()) return;
    std::error_code ec;
    if (!std::filesystem::is_directory(*path, ec)) {
        ui_.message(LoadStr(0, "Path is invalid"), LoadStr(0, "Folder Info"), {shell::Buttons::OK, shell::Icon::Exclamation});
        return;
    }
    SearchUi ui(*this, ui_);
    running_ = true;
    stop_ = false;
    CmdFolderInfo->setText(q(LoadStr(0, "&Stop!")));
    const auto r = utilities::FolderInfo(*path, ui);
    CmdFolderInfo->setText(q(LoadStr(0, "&Folder Info...")));
    running_ = false;
    lblStatus->setText(q(LoadStr(0, "Folder Info for: ") + *path + "   " + LoadStr(0, "Total folders: ") +
                         std::to_string(r.folders) + "   " + LoadStr(0, "Total files: ") + std::to_string(r.files)));
}

}  // namespace hx::gui
