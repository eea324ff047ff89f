#pragma once
// The engine's part of start-up and exit, as named steps the window and the
// command line both run (each adds its own steps around them by name).
//
// Start-up: LoadLanguageResource, PrepareProgramFolder, EndStrayProcesses,
// SingleInstance, ChooseLanguage, StoreLanguage, ChooseSettingsRoot,
// CommandLineSwitches, ReadSettings, RightsCheck, SettleCache.
// Exit: EndDamagedRecovery, SaveSettings, ClearTemporaryFiles,
// RemoveEmptySaveFolder, DeleteUndeleteFiles, ReleaseInstance.
#include <filesystem>
#include <string>

#include "shell/StepSequence.h"
#include "shell/Ui.h"
#include "shell/WorkingState.h"

namespace hx::shell {

// The program's arguments joined by blanks: the line the switches are found in.
std::string CommandLineOf(int argc, const char* const* argv);
// The command-line switches, searched anywhere in the line without case.
bool HasSwitch(const std::string& commandLine, const std::string& name);
// "cache=FOLDER": the text after the first "=", trimmed; nullopt-like empty
// when there is no "="; `hasCache` tells whether "cache" was there at all.
std::string CacheSwitchFolder(const std::string& commandLine, bool& hasCache, bool& hasEquals);

struct StartupOptions {
    std::string programName = "harvestrix";  // process name of other instances
    std::filesystem::path instanceFile;      // empty: no single-instance check
    int systemLanguage = 0;                  // Windows id of the user's language
    bool endStrayProcesses = true;
    // Load Harvestrix.res instead of the built-in table; it is also loaded
    // whenever the program folder holds one.
    bool useResourceFile = false;
    // Set when the caller already chose the language (the CLI's --lang).
    bool languageGiven = false;
    // A cache folder given by the caller (the CLI's --cache), as cache=FOLDER.
    std::string cacheFolder;
    // The drive to test for raw access rights (the stored drive when empty).
    std::string rightsDrive;
};

// state.store must be set. The steps keep references to state, ui and options.
StepSequence EngineStartupSteps(WorkingState& state, Ui& ui, const StartupOptions& options);
StepSequence EngineExitSteps(WorkingState& state, Ui& ui, const StartupOptions& options);

// Another instance runs: ask (Yes/No/Cancel, "Harvestrix Start"). Yes ends the
// others and goes on; No ends them and quits; Cancel quits and leaves them.
StepResult CheckSingleInstance(WorkingState& state, Ui& ui, const std::filesystem::path& instanceFile,
                               const std::string& programName);

// The rights notice. Not forced: shown only when the drive cannot be opened
// for want of permission, and never again once declined (VShown). Returns
// true when the user chose to close the program.
bool CheckDriveRights(WorkingState& state, Ui& ui, const std::string& drive, bool force);

// Copies the manual of a language (Manual/English, Manual/Nederlands,
// Manual/Deutsch in the program folder) into Manual/. False when that
// language's manual is not there.
bool InstallManual(const std::filesystem::path& programFolder, int languageId);

// The uninstall switch: empties and removes the cache and the program's own
// data folders.
void Uninstall(WorkingState& state);

}  // namespace hx::shell
