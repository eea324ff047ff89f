#include "utilities/FolderChooser.h"

#include <algorithm>

#include "platform/DriveCatalogue.h"
#include "platform/Trash.h"
#include "shell/Strings.h"
#include "shell/WorkingFolders.h"
#include "volumes/DriveFiles.h"

namespace hx::utilities {

namespace fs = std::filesystem;
using shell::Answer;
using shell::Buttons;
using shell::FormatStr;
using shell::Icon;
using shell::LoadStr;

std::string NormaliseChooserPath(const std::string& text) {
    std::string out = text;
    if (out.empty() || out.back() != '/') out += '/';
    if (out.size() > 1 && out.compare(out.size() - 2, 2, "//") == 0) out.pop_back();
    return out;
}

std::string FolderChooser::cancelled() { return LoadStr(24, "Cancel"); }

FolderChooser::FolderChooser(shell::Ui& ui, const fs::path& start, const fs::path& home) : ui_(ui), home_(home) {
    drives_.push_back("/");
    if (!home.empty()) drives_.push_back(NormaliseChooserPath(home.string()));
    for (const auto& d : volumes::EnumerateDrives()) {
        if (d.mountPoint.empty() || d.mountPoint == "/") continue;
        const std::string m = NormaliseChooserPath(d.mountPoint);
        if (std::find(drives_.begin(), drives_.end(), m) == drives_.end()) drives_.push_back(m);
    }
    const std::string current = start.string();
    drive_ = driveOf(current);
    std::error_code ec;
    // A starting folder that is gone opens the chooser on its drive.
    path_ = fs::is_directory(current, ec) || current.size() < 2 ? NormaliseChooserPath(current.empty() ? "/" : current)
                                                                : drive_;
}

std::string FolderChooser::driveOf(const std::string& path) const {
    std::string best = "/";
    for (const auto& d : drives_)
        if (NormaliseChooserPath(path).rfind(d, 0) == 0 && d.size() > best.size()) best = d;
    return best;
}

bool FolderChooser::selectDrive(const std::string& drive) {
    // An unplugged card takes its mount folder with it.
    std::error_code ec;
    if (!fs::is_directory(drive, ec)) {
        ui_.message(FormatStr(LoadStr(1406, "Drive %0 not ready."), {drive}), LoadStr(408, "Select drive"),
                    {Buttons::OK, Icon::Exclamation});
        return false;
    }
    drive_ = NormaliseChooserPath(drive);
    path_ = drive_;
    return true;
}

void FolderChooser::setPath(const std::string& text) {
    path_ = NormaliseChooserPath(text);
    drive_ = driveOf(path_);
}

bool FolderChooser::create() {
    const auto name = ui_.input(LoadStr(208, "Enter foldername:"), LoadStr(209, "Create new (sub)folder"));
    if (!name || name->empty()) return false;
    if (name->find('/') != std::string::npos || *name == "." || *name == "..") {
        ui_.message(FormatStr(LoadStr(0, "%0 cannot be the name of a folder."), {*name}),
                    LoadStr(209, "Create new (sub)folder"), {Buttons::OK, Icon::Exclamation});
        return false;
    }
    const fs::path made = fs::path(path_) / *name;
    std::error_code ec;
    if (!fs::is_directory(made, ec) && !fs::create_directory(made, ec)) {
        ui_.message(FormatStr(LoadStr(0, "The folder %0 cannot be made: %1"), {made.string(), ec.message()}),
                    LoadStr(209, "Create new (sub)folder"), {Buttons::OK, Icon::Exclamation});
        return false;
    }
    setPath(made.string());
    return true;
}

bool FolderChooser::remove() {
    const std::string title = LoadStr(212, "Delete Folder");
    const bool root = std::find(drives_.begin(), drives_.end(), path_) != drives_.end() || path_.size() < 5;
    if (root) {
        ui_.message(LoadStr(210, "Cannot delete the root of disk ") + path_ + "\n" + LoadStr(211, "Please select a folder."),
                    title, {Buttons::OK, Icon::Exclamation});
        return false;
    }
    if (ui_.message(LoadStr(213, "Do you really want to delete the folder") + "\n" + path_ + "\n" +
                        LoadStr(214, "and all its contents?"),
                    title, {Buttons::YesNo, Icon::Question}) != Answer::Yes)
        return false;
    const fs::path folder = path_;
    std::error_code ec;
    // The user's files go to the trash; only the program's own trees are removed.
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (!it->is_directory(ec)) files.push_back(it->path());
    for (const auto& f : files) platform::MoveToTrash(f);
    if (fs::is_empty(folder, ec)) fs::remove(folder, ec);
    else shell::DeleteTree(folder);
    if (fs::exists(folder, ec)) {
        ui_.message(LoadStr(215, "Folder with protected files: not deleted."), LoadStr(216, "Remove Folder"),
                    {Buttons::OK, Icon::Information});
        return false;
    }
    setPath(fs::path(path_.substr(0, path_.size() - 1)).parent_path().string());
    return true;
}

}  // namespace hx::utilities
