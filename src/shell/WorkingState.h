#pragma once
// The working state of a run that the window, the command line and the
// commands share: where the program's data and cache live, the language, the
// settings read at start-up. Folder paths end with a '/'.
#include <filesystem>
#include <string>

#include "shell/Settings.h"
#include "shell/SettingsStore.h"

namespace hx::shell {

struct WorkingState {
    std::string productName = "Harvestrix";
    std::string brandKey = kBrandKey;
    std::string commandLine;       // the switches, joined by blanks
    int languageId = 9;

    std::filesystem::path programFolder;  // ~/.local/share/Harvestrix/: QXRecdt, bin, Manual
    std::filesystem::path tempPath;       // ~/.cache/: the default cache lives here
    std::filesystem::path homeFolder;

    SettingsStore* store = nullptr;
    RegRoot regRoot = RegRoot::CurrentUser;
    StoredSettings settings;       // as read at start-up, saved at exit
    std::string resultView;        // ST: "1" thumbnails, else the file list

    // The remembered caches: current, previous, the one before.
    std::string tCache, oCache, o2Cache;

    // Derived from the cache by MakeDirNames.
    std::filesystem::path cache, thumbs, browseThumbs, activeThumbs, temp, conv;
    std::filesystem::path save, picture, image, browse, saveAs;

    // Set by the uninstall switch: the exit keeps no program files.
    bool uninstalling = false;
};

// The program-wide instance.
WorkingState& SharedState();

// Fills the program, temporary and home folders from the environment
// (XDG_DATA_HOME, XDG_CACHE_HOME, HOME) and the product name.
void InitWorkingState(WorkingState& state);

}  // namespace hx::shell
