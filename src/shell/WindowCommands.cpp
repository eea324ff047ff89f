#include "shell/WindowCommands.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"
#include "shell/Text.h"

namespace hx::shell {

const std::vector<std::string>& CacheCommands() {
    static const std::vector<std::string> names = {"CmdSaveAll",    "CmdSaveAs", "CmdShowFolder",
                                                   "CmdShowThumbs", "CmdOpen",   "CmdRenderWidth"};
    return names;
}

const std::vector<std::string>& LongCommands() {
    static const std::vector<std::string> names = {
        "CmdScan",   "CmdQuickUndelete", "CmdRecoverAll", "CmdBackup", "CmdScanBackup", "CmdMaxSpeed", "CmdLearn",
        "CmdBrowse", "CmdSaveAll",       "CmdSaveAs", "CmdRenderWidth", "Drive1",     "CmbTypeSelect"};
    return names;
}

void EnableButtons(Ui& ui, bool cacheHasFiles, bool saveFolderExists) {
    for (const auto& name : CacheCommands()) ui.setEnabled(name, cacheHasFiles);
    if (cacheHasFiles) {
        ui.setCaption("CmdShowFolder", LocalCaption("CmdShowFolder"));
    } else if (saveFolderExists) {
        ui.setEnabled("CmdShowFolder", true);
        ui.setCaption("CmdShowFolder", LoadStr(1635, "Explore Folder"));
    }
    ui.yield();
}

void EnterBusy(Ui& ui, BusyState& state, const std::string& command) {
    state.busy = true;
    state.stopping = false;
    state.operation = command;
    // QX Adaptive stays at hand during a scan: it then re-learns the adaptive types.
    for (const auto& name : LongCommands())
        if (name != command && !(command == "CmdScan" && name == "CmdLearn")) ui.setEnabled(name, false);
    ui.setEnabled(command, true);
    ui.setCaption(command, LoadStr(259, "Stop"));
}

void LeaveBusy(Ui& ui, BusyState& state, const std::string& idleCaption) {
    const std::string command = state.operation;
    state = BusyState{};
    if (!command.empty()) ui.setCaption(command, idleCaption);
    for (const auto& name : LongCommands()) ui.setEnabled(name, true);
}

namespace {
bool readyRemovable(const platform::DriveEntry& d) {
    return d.ready && d.typeName == "Removable";
}
}  // namespace

std::string SelectRemovableDrive(const std::vector<platform::DriveEntry>& drives, const std::string& current) {
    for (const auto& d : drives)
        if (readyRemovable(d)) return d.id;
    if (!current.empty()) return current;
    return drives.empty() ? std::string() : drives.front().id;
}

DriveWatcher::Tick DriveWatcher::tick(bool selectionPending, bool busy, bool visibleEnabled,
                                      std::size_t visibleCount, const std::vector<platform::DriveEntry>& hidden) {
    ++ticks_;
    Tick t;
    if (selectionPending) {
        t.applyPendingSelection = true;
        t.intervalMs = interval_;
        return t;
    }
    if (busy) {
        interval_ = kBusyMs;
        t.intervalMs = interval_;
        return t;
    }
    if (visibleEnabled) {
        if (hidden.size() > visibleCount) {
            if (interval_ != kSettleMs) {
                // Give the new medium a moment before reading it.
                interval_ = kSettleMs;
                t.intervalMs = interval_;
                return t;
            }
            auto it = std::find_if(hidden.begin(), hidden.end(), readyRemovable);
            if (it != hidden.end()) t.select = it->id;
        }
        if (hidden.size() != visibleCount) t.refreshVisible = true;
    }
    interval_ = kIdleMs;
    t.intervalMs = interval_;
    return t;
}

ColourScheme SchemeFromEntry(const std::string& entryText) {
    // The word may stand anywhere and in any case ("Layout Dark", "Opmaak donker");
    // the English word counts too, for tables whose word and entry disagree.
    const std::string entry = ToLower(entryText);
    auto has = [&](int id, const char* word) {
        return entry.find(ToLower(LoadStr(id, word))) != std::string::npos ||
               entry.find(ToLower(word)) != std::string::npos;
    };
    if (has(420, "Hide")) return ColourScheme::Hide;
    if (has(421, "Dark")) return ColourScheme::Dark;
    if (has(422, "Light")) return ColourScheme::Light;
    return ColourScheme::System;
}

std::optional<SchemeColours> ColoursOf(ColourScheme scheme) {
    switch (scheme) {
        case ColourScheme::Dark:
            return SchemeColours{0x808080, 0xEEEEEE, 0x303030, 0x00FFFF, 0x505050, 0xAAB0B0};
        case ColourScheme::Light:
            return SchemeColours{0xF4F2F0, 0x202020, 0xFFFFFF, 0x202020, 0xE0E0E0, 0x906040};
        default:
            return std::nullopt;
    }
}

CloseStep CloseCommand(Ui& ui, BusyState& state) {
    ui.setCaption("CmdEnd", LoadStr(756, "Closing..."));
    if (!state.busy) return CloseStep::Exit;
    bool stoppable = state.operation == LoadStr(233, "repair") || state.operation == LoadStr(232, "wipe");
    for (const char* control : {"CmdScan", "CmdBackup", "CmdScanBackup", "CmdShowThumbs", "CmdQuickUndelete"}) {
        const std::string caption = ui.caption(control);
        if (caption.find(LoadStr(603, "Rendering")) != std::string::npos || caption == LoadStr(259, "Stop"))
            stoppable = true;
    }
    if (stoppable && !state.uninterruptible) state.stopping = true;
    ui.setCaption("CmdEnd", LoadStr(260, "Still busy. Finishing"));
    ui.status(LoadStr(40, "End") + "...");
    return CloseStep::WaitForStop;
}

std::string WindowUsage() {
    return "usage: harvestrix [--attach IMAGE[,removable][,label=NAME]]... [--cache FOLDER] [--lang ID]\n"
           "                  [clean] [uninstall]\n"
           "Finds lost and deleted photos and other files on cards, sticks, disks and disk images.\n"
           "  --attach IMAGE   offer an image file as a drive (removable: as a card)\n"
           "  --cache FOLDER   keep found files in FOLDER/QXCache/\n"
           "  --lang ID        9 English, 1043 Dutch, 1031 German\n"
           "  clean            forget the stored settings and choose again\n"
           "  uninstall        remove the program's own files and settings\n"
           "  --help, --version\n"
           "The same functions for scripts: harvestrix-cli help\n";
}

WindowOptions ParseWindowOptions(const std::vector<std::string>& args) {
    WindowOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto valueOf = [&](const std::string& name, std::string& value) {
            const std::string flag = "--" + name;
            if (a == flag && i + 1 < args.size()) {
                value = args[++i];
                return true;
            }
            if (a.rfind(flag + "=", 0) == 0) {
                value = a.substr(flag.size() + 1);
                return true;
            }
            return false;
        };
        std::string value;
        if (valueOf("attach", value)) o.attaches.push_back(value);
        else if (valueOf("cache", value)) o.cacheDir = value;
        else if (valueOf("lang", value)) o.language = std::atoi(value.c_str());
        else o.commandLine += (o.commandLine.empty() ? "" : " ") + a;
    }
    return o;
}

}  // namespace hx::shell
