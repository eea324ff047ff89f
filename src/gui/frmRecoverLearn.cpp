// QX Adaptive in the window: the learned types in the type list, and the
// learn command (types to look for, or a folder of samples).
#include "gui/frmRecover.h"
#include "gui/panes/TypesPane.h"


#include <QApplication>
#include <algorithm>
#include <sstream>
#include <QProgressBar>
#include <QPushButton>

#include "gui/QtText.h"
#include "learning/AdaptiveLearning.h"
#include "learning/AdaptiveTypes.h"
#include "shell/Strings.h"
#include "shell/Text.h"
#include "shell/WorkingState.h"

namespace hx::gui {

namespace fs = std::filesystem;
using shell::LoadStr;

void frmRecover::LvwTypes_KeyDown() {
    if (busy_.busy) return;
    if (learning::RemoveAdaptiveTypes(*this, state().picture, typesPane_->learnedTypes(true)) > 0) fillTypeList();
}

void frmRecover::learnDuringScan() {
    // The adaptive types of the list, learned again from the scanned drive's
    // own files: about 200 samples, at most 30 seconds, nothing shown.
    const std::vector<std::string> types = typesPane_->learnedTypes(false);
    const std::string mount = driveSession_.record.MountPoint;
    if (learning_ || types.empty() || mount.empty()) return;
    learning_ = true;
    learning::LearnOptions options;
    options.automatic = true;
    // A whole disk may be mounted there: what a quarter minute's walk finds is enough.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    learning::LearnFromFiles(state().picture, learning::GatherTypes({fs::path(mount)}, types, until), options);
    learning_ = false;
    // The list again, with the ticks as they were.
    typesPane_->refill(state().picture, state().settings.typeRows);
}

std::optional<std::vector<fs::path>> frmRecover::gatherLearnFiles(const learning::LearnAnswer& answer) {
    setCaption("CmdLearn", LoadStr(302, "Gathering") + "...");
    yield();
    if (answer.types.empty()) {
        const auto folder = chooseFolder(LoadStr(305, "QX Adaptive.  Please select a folder for analyzing."),
                                         state().browse.string());
        if (!folder) return std::nullopt;
        return learning::GatherFolder(*folder);
    }
    // Through the file search, on the folders named or else every drive,
    // with its progress; a press of the button stops it.
    learning_ = true;
    std::vector<fs::path> files = learning::SearchTypes(answer.types, answer.disks, *this);
    const bool stopped = !learning_;
    learning_ = false;
    clearStop();
    ProgressBar1->setVisible(false);
    if (stopped) return std::nullopt;
    return files;
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
    const std::optional<std::vector<fs::path>> files = gatherLearnFiles(learning::ReadLearnAnswer(*answer));
    if (!files || files->empty()) {
        setCaption("CmdLearn", idle);
        if (files)
            message(LoadStr(307, "No matching files found. Try again.   "), "QX Adaptive  " + LoadStr(31, "Harvestrix"),
                    {shell::Buttons::OK, shell::Icon::Information});
        return;
    }
    learning_ = true;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    learning::LearnOptions options;
    options.progress = [this](std::size_t done, std::size_t total, const std::string& status) {
        setCaption("CmdLearn", std::to_string(total - done));
        progress(static_cast<double>(done) / static_cast<double>(total), status);
        yield();
        return learning_;
    };
    const auto result = learning::LearnFromFiles(state().picture, *files, options);
    QApplication::restoreOverrideCursor();
    learning_ = false;
    setCaption("CmdLearn", idle);
    ProgressBar1->setVisible(false);
    fillTypeList();
    status(std::to_string(result.samples) + " " + LoadStr(317, "Analized:"));
    EnableButtons();
}

}  // namespace hx::gui
