#pragma once
// What the folder chooser (frmDirChoose) does, apart from how it looks: the
// drives to pick from, the path being chosen and its normal form, making and
// deleting folders, and the result handed back (a path ending in '/', or the
// localised word "Cancel").
#include <filesystem>
#include <string>
#include <vector>

#include "shell/Ui.h"

namespace hx::utilities {

// A typed path in its normal form: one '/' at its end.
std::string NormaliseChooserPath(const std::string& text);

class FolderChooser {
public:
    // `start`: the folder the calling command offers; `home`: the user's home.
    FolderChooser(shell::Ui& ui, const std::filesystem::path& start, const std::filesystem::path& home);

    // Drive1: the root, the home folder and every mounted drive's folder.
    const std::vector<std::string>& drives() const { return drives_; }
    const std::string& drive() const { return drive_; }
    // TxtPath.
    const std::string& path() const { return path_; }

    // A drive that is not ready is refused with a message; the choice stays.
    bool selectDrive(const std::string& drive);
    // A folder clicked in the tree or a path typed.
    void setPath(const std::string& text);
    // CmdCreate: asks for a name; true when the folder was made (or was there).
    bool create();
    // CmdDelete: the rules of the chooser's delete; true when the folder is gone.
    bool remove();
    // CmdOK / CmdCancel: the dialog's result.
    std::string ok() const { return path_; }
    static std::string cancelled();

private:
    std::string driveOf(const std::string& path) const;

    shell::Ui& ui_;
    std::filesystem::path home_;
    std::vector<std::string> drives_;
    std::string drive_;
    std::string path_;
};

}  // namespace hx::utilities
