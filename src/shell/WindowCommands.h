#pragma once
// The main window's state logic without widgets: which commands are enabled,
// the drive watcher, the colour schemes, the close command and the window's
// command line. The window applies the results through the Ui service.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/DriveCatalogue.h"
#include "shell/Ui.h"

namespace hx::shell {

// Commands that follow the cache: enabled exactly when the cache holds files.
const std::vector<std::string>& CacheCommands();
// Long-running commands; while one runs the others are refused.
const std::vector<std::string>& LongCommands();

// Enables the cache commands; with an empty cache and an existing save folder
// only CmdShowFolder stays usable, captioned "Explore Folder". Yields once.
void EnableButtons(Ui& ui, bool cacheHasFiles, bool saveFolderExists);

// The window-wide busy flag and the operation behind it.
struct BusyState {
    bool busy = false;
    bool uninterruptible = false;  // e.g. writing a medium's boot sector
    bool stopping = false;         // asked to end at its next check
    std::string operation;         // the running command's control, or "wipe"/"repair"
};

// Marks `command` as running ("Stop" on it, the other long commands disabled)
// or as finished (its caption back to `idleCaption`, the long commands enabled).
void EnterBusy(Ui& ui, BusyState& state, const std::string& command);
void LeaveBusy(Ui& ui, BusyState& state, const std::string& idleCaption);

// The busy state for the length of a command, left also when the command
// ends early or fails.
class BusyGuard {
public:
    BusyGuard(Ui& ui, BusyState& state, const std::string& command, std::string idleCaption)
        : ui_(ui), state_(state), idle_(std::move(idleCaption)) {
        EnterBusy(ui_, state_, command);
    }
    ~BusyGuard() { LeaveBusy(ui_, state_, idle_); }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    Ui& ui_;
    BusyState& state_;
    std::string idle_;
};

// A short command that cannot be stopped, but that the other long commands
// wait for: they are disabled while it runs and enabled again however it ends.
class QuietBusyGuard {
public:
    QuietBusyGuard(Ui& ui, BusyState& state, const std::string& command) : ui_(ui), state_(state) {
        state_.busy = true;
        state_.operation = command;
        for (const auto& name : LongCommands())
            if (name != command) ui_.setEnabled(name, false);
    }
    ~QuietBusyGuard() {
        state_ = {};
        for (const auto& name : LongCommands()) ui_.setEnabled(name, true);
    }
    QuietBusyGuard(const QuietBusyGuard&) = delete;
    QuietBusyGuard& operator=(const QuietBusyGuard&) = delete;

private:
    Ui& ui_;
    BusyState& state_;
};

// First ready drive of type "Removable"; otherwise `current`, or the first
// drive when nothing is selected. Empty when there are no drives.
std::string SelectRemovableDrive(const std::vector<platform::DriveEntry>& drives, const std::string& current);

// Timer1: notices media that are connected or removed.
class DriveWatcher {
public:
    static constexpr int kIdleMs = 2000;
    static constexpr int kSettleMs = 3000;
    static constexpr int kBusyMs = 10000;

    struct Tick {
        bool applyPendingSelection = false;
        bool refreshVisible = false;
        std::optional<std::string> select;  // drive to select (runs the drive selection)
        int intervalMs = kIdleMs;
    };

    // One tick. `hidden` is the freshly enumerated drive list (Drive2),
    // `visibleCount` the number of drives in Drive1.
    Tick tick(bool selectionPending, bool busy, bool visibleEnabled, std::size_t visibleCount,
              const std::vector<platform::DriveEntry>& hidden);
    int intervalMs() const { return interval_; }
    // Ticks so far: lets a test count ticks rather than seconds on a busy machine.
    int ticks() const { return ticks_; }

private:
    int interval_ = kIdleMs;
    int ticks_ = 0;
};

enum class ColourScheme { Hide, Dark, Light, System };

// Chosen by the words "Hide", "Dark" and "Light" in the entry's text.
ColourScheme SchemeFromEntry(const std::string& entryText);

// Colours as 0xBBGGRR, as the settings and the old layouts give them.
struct SchemeColours {
    std::uint32_t window = 0, text = 0, infoBack = 0, infoText = 0, progressBack = 0, progressBar = 0;
};
// Nothing for the system scheme (and Hide): the platform's palette applies.
std::optional<SchemeColours> ColoursOf(ColourScheme scheme);

// The close command (CmdEnd and closing the window).
enum class CloseStep { Exit, WaitForStop };
// Captions CmdEnd "Closing..."; when busy, asks a stoppable operation to stop
// and says "Still busy. Finishing" (the window then retries from Timer2).
CloseStep CloseCommand(Ui& ui, BusyState& state);

// The window's command line: --attach IMAGE[,removable][,label=NAME] (any
// number), --cache DIR and --lang ID. Everything else is the old switch line
// ("language", "cache=DIR", "uninstall", "clean"), read by the start-up steps.
struct WindowOptions {
    std::vector<std::string> attaches;
    std::optional<std::string> cacheDir;
    std::optional<int> language;
    std::string commandLine;
    // The real program: one instance, stray helper processes ended.
    bool singleInstance = false;
};
// What `harvestrix --help` prints.
std::string WindowUsage();
WindowOptions ParseWindowOptions(const std::vector<std::string>& args);

}  // namespace hx::shell
