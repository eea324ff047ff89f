#pragma once
// The cache folder and the folders derived from it, and the guarded removal
// of folder trees.
//
// A "drive" here is the place a folder lives on: for a path with a QXCache
// folder it is the folder that holds QXCache; otherwise the mount folder of
// removable media (/media/USER/NAME, /run/media/USER/NAME, /mnt/NAME) or the
// root. A drive is ready when that folder exists: an unplugged card takes its
// mount folder with it.
#include <filesystem>
#include <string>

#include "shell/Text.h"

#include "shell/Ui.h"
#include "shell/WorkingState.h"

namespace hx::shell {

bool DriveReady(const std::filesystem::path& path);
// Where "Recovered/" goes for a cache: the media mount folder, else the home
// folder when the cache is below it, else the folder holding QXCache.
std::filesystem::path DriveRoot(const std::filesystem::path& path, const std::filesystem::path& home);
// True when the folder exists and holds at least one file (not counting sub-folders).
bool HoldsFiles(const std::filesystem::path& folder);

// Makes every missing level of an absolute path ("~/" is the home folder);
// returns the path in its normal form with a trailing '/', or empty when it
// could not be made.
std::filesystem::path MakeLongPath(const std::string& path, const std::filesystem::path& home);
// Settles the cache path (state.tCache) and derives every folder from it.
void MakeDirNames(WorkingState& state);
// A remembered cache whose drive is gone: tell the user and forget it.
void DropUnavailableCache(WorkingState& state, Ui& ui);
// Chooses among the three remembered caches (may ask). `ask` false: never asks.
void GetActiveTempCache(WorkingState& state, Ui& ui, bool ask = true);
// Creates the cache and every working folder, falling back to the program
// folder and then the system temporary folder. False when no cache could be made.
bool EnsureCacheFolders(WorkingState& state, Ui& ui);
// The whole choice at start-up. With `explicitCache` (the cache switch) the
// remembered caches are not offered.
bool SettleCache(WorkingState& state, Ui& ui, bool explicitCache = false);
// The "cache=FOLDER" switch: FOLDER/QXCache/ becomes the current cache; the
// old one becomes the previous one when it holds files.
void ApplyCacheSwitch(WorkingState& state, const std::string& folder);
// Deletes every file of the cache and its working folders (only for a path
// containing QXCache); returns the number deleted.
int EmptyCache(WorkingState& state);

// Removes a folder with everything in it, only when its path contains
// "QXCache", "Harvestrix" or "Morvenick" (any case), exists, is a real folder
// (not a link) and is neither the root nor the home folder. Read-only bits are
// cleared first; links inside are removed, never followed. True when gone.
bool DeleteTree(const std::filesystem::path& folder);
// The program's own data: temp* files and version.txt, and the folders bin,
// QXRecDT, Manual/English, Manual/Deutsch, Manual/Nederlands and Manual.
void DelProgramTrees(const std::filesystem::path& programFolder);

}  // namespace hx::shell
