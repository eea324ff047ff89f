// QX Adaptive in the window: the learned types in the type list, and the
// learn command (types to look for, or a folder of samples).
#include "gui/frmRecover.h"

#include <map>

#include <QApplication>
#include <algorithm>
#include <sstream>
#include <QCursor>
#include <QFileIconProvider>
#include <QLocale>
#include <QMimeDatabase>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include "gui/QtText.h"
#include "scan/AdaptiveLearning.h"
#include "scan/AdaptiveTypes.h"
#include "shell/Strings.h"
#include "shell/Text.h"
#include "shell/WorkingState.h"

namespace hx::gui {

namespace fs = std::filesystem;
using shell::LoadStr;

void frmRecover::addLearnedTypeRows() {
    const QString adaptive = "Adaptive";
    QMimeDatabase mimes;
    for (const auto& v : scan::ListLearnedVariants(shell::SharedState().picture)) {
        auto* item = new QTreeWidgetItem(LvwTypes);
        item->setText(0, q(shell::ToUpper(v.type)));
        item->setData(0, Qt::UserRole, v.slot);
        item->setText(1, q(shell::Trim(v.displayName)));
        item->setData(1, Qt::UserRole, q(v.displayName));
        item->setText(2, adaptive);
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

std::vector<scan::LearnedVariant> frmRecover::checkedLearnedTypes() const {
    std::vector<scan::LearnedVariant> checked;
    for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        if (item->text(2) != "Adaptive" || item->checkState(0) != Qt::Checked) continue;
        scan::LearnedVariant v;
        v.type = s(item->text(0).toLower());
        v.slot = item->data(0, Qt::UserRole).toInt();
        checked.push_back(v);
    }
    return checked;
}

void frmRecover::LvwTypes_KeyDown() {
    if (busy_.busy) return;
    std::vector<std::string> types;
    for (const QTreeWidgetItem* item : LvwTypes->selectedItems()) {
        const std::string type = s(item->text(0).toLower());
        if (item->text(2) == "Adaptive" && std::find(types.begin(), types.end(), type) == types.end())
            types.push_back(type);
    }
    if (scan::RemoveAdaptiveTypes(*this, state().picture, types) > 0) fillTypeList();
}

void frmRecover::learnDuringScan() {
    // The adaptive types of the list, learned again from the scanned drive's
    // own files: about 200 samples, at most 30 seconds, nothing shown.
    std::vector<std::string> types;
    std::map<QString, Qt::CheckState> checks;
    for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        checks[item->text(0) + "|" + item->text(2) + "|" + item->data(0, Qt::UserRole).toString()] = item->checkState(0);
        const std::string type = s(item->text(0).toLower());
        if (item->text(2) == "Adaptive" && std::find(types.begin(), types.end(), type) == types.end())
            types.push_back(type);
    }
    const std::string mount = driveSession_.record.MountPoint;
    if (learning_ || types.empty() || mount.empty()) return;
    learning_ = true;
    scan::LearnOptions options;
    options.automatic = true;
    // A whole disk may be mounted there: what a quarter minute's walk finds is enough.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    scan::LearnFromFiles(state().picture, scan::GatherTypes({fs::path(mount)}, types, until), options);
    learning_ = false;
    // The list again, with the ticks as they were.
    fillTypeList();
    for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        const auto it = checks.find(item->text(0) + "|" + item->text(2) + "|" + item->data(0, Qt::UserRole).toString());
        if (it != checks.end()) item->setCheckState(0, it->second);
    }
}

void frmRecover::CmdLearn_Click() {
    const std::string idle = LoadStr(42, "QX Adaptive");
    if (busy_.busy && busy_.operation == "CmdScan") {
        learnDuringScan();
        return;
    }
    if (learning_) {
        // A second press while gathering or learning: stop it at the next file?
        if (message(LoadStr(288, "Do you want to stop analyzing?"), idle + " " + LoadStr(31, "Harvestrix"),
                    {shell::Buttons::YesNo, shell::Icon::Question}) == shell::Answer::Yes) {
            learning_ = false;
            stopFlag_ = true;  // the file search looks at this one
        }
        return;
    }
    if (busy_.busy) return;
    std::string prompt;
    for (int id : {1398, 290}) prompt += LoadStr(id, "") + " ";
    prompt += "\n\n";
    for (int id : {291, 292}) prompt += LoadStr(id, "") + " ";
    prompt += "\n\n";
    for (int id : {293, 294}) prompt += LoadStr(id, "") + " ";
    prompt += "\n\n" + LoadStr(295, "") + "\n\n" + LoadStr(296, "");
    const auto answer = input(prompt, idle, " ");
    if (!answer) return;

    // Words are types; a word with a "/" is a folder to search them in.
    std::vector<std::string> types;
    std::vector<fs::path> roots;
    std::string text = *answer;
    for (char& c : text)
        if (c == ',' || c == '.') c = ' ';
    std::istringstream words(text);
    for (std::string w; words >> w;) {
        if (w.find('/') != std::string::npos) roots.emplace_back(w);
        else types.push_back(shell::ToLower(w));
    }
    std::vector<fs::path> files;
    setCaption("CmdLearn", LoadStr(302, "Gathering") + "...");
    yield();
    if (!types.empty()) {
        // Through the file search, on the folders named or else every drive,
        // with its progress; a press of the button stops it.
        std::string disks;
        for (const auto& root : roots) disks += root.string() + " ";
        learning_ = true;
        files = scan::SearchTypes(types, disks, *this);
        const bool stopped = !learning_;
        learning_ = false;
        clearStop();
        ProgressBar1->setVisible(false);
        if (stopped) {
            setCaption("CmdLearn", idle);
            return;
        }
    } else {
        const auto folder = chooseFolder(LoadStr(305, "QX Adaptive.  Please select a folder for analyzing."),
                                         state().browse.string());
        if (!folder) {
            setCaption("CmdLearn", idle);
            return;
        }
        files = scan::GatherFolder(*folder);
    }
    if (files.empty()) {
        setCaption("CmdLearn", idle);
        message(LoadStr(307, "No matching files found. Try again.   "),
                "QX Adaptive  " + LoadStr(31, "Harvestrix"), {shell::Buttons::OK, shell::Icon::Information});
        return;
    }
    learning_ = true;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    scan::LearnOptions options;
    options.progress = [this](std::size_t done, std::size_t total, const std::string& status) {
        setCaption("CmdLearn", std::to_string(total - done));
        progress(static_cast<double>(done) / static_cast<double>(total), status);
        yield();
        return learning_;
    };
    const auto result = scan::LearnFromFiles(state().picture, files, options);
    QApplication::restoreOverrideCursor();
    learning_ = false;
    setCaption("CmdLearn", idle);
    ProgressBar1->setVisible(false);
    fillTypeList();
    status(std::to_string(result.samples) + " " + LoadStr(317, "Analized:"));
    EnableButtons();
}

}  // namespace hx::gui
