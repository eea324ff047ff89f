#include "shell/Startup.h"

#include "platform/DiskService.h"

#include <cctype>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>

#include "platform/RawFile.h"
#include "platform/Processes.h"
#include "shell/Settings.h"
#include "shell/Strings.h"
#include "shell/WorkingFolders.h"
#include "shell/Text.h"
#include "volumes/DriveFiles.h"

namespace hx::shell {

namespace fs = std::filesystem;
using platform::ClaimInstance;
using platform::EndProcess;
using platform::EndStrayProcesses;
using platform::OtherInstances;
using platform::ReleaseInstance;

namespace {


std::string userName() {
    if (const char* u = std::getenv("USER"); u && *u) return u;
    if (std::string name = platform::CurrentUserName(); !name.empty()) return name;
    return "$USER";
}

StepResult needStore(WorkingState& state) {
    if (!state.store) throw std::runtime_error("no settings store");
    return StepResult::Done;
}

// Reads the remembered caches, lets `change` alter them and writes them back.
void rewriteCaches(WorkingState& state, const std::function<void()>& change) {
    SettingsStore& store = *state.store;
    state.tCache = store.ReadRegValue(state.regRoot, kProgramKey, "TCache");
    state.oCache = store.ReadRegValue(state.regRoot, kProgramKey, "OCache");
    state.o2Cache = store.ReadRegValue(state.regRoot, kProgramKey, "O2Cache");
    change();
    store.WriteRegValue(state.regRoot, kProgramKey, "TCache", state.tCache);
    store.WriteRegValue(state.regRoot, kProgramKey, "OCache", state.oCache);
    store.WriteRegValue(state.regRoot, kProgramKey, "O2Cache", state.o2Cache);
}

}  // namespace

std::string CommandLineOf(int argc, const char* const* argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i] ? argv[i] : "");
    return line;
}

bool HasSwitch(const std::string& commandLine, const std::string& name) {
    return ToLower(commandLine).find(ToLower(name)) != std::string::npos;
}

std::string CacheSwitchFolder(const std::string& commandLine, bool& hasCache, bool& hasEquals) {
    hasCache = HasSwitch(commandLine, "cache");
    auto eq = commandLine.find('=');
    hasEquals = hasCache && eq != std::string::npos;
    if (!hasEquals) return {};
    std::string folder = commandLine.substr(eq + 1);
    folder.erase(0, folder.find_first_not_of(" \t"));
    while (!folder.empty() && (folder.back() == ' ' || folder.back() == '\t')) folder.pop_back();
    return folder;
}

StepResult CheckSingleInstance(WorkingState& state, Ui& ui, const fs::path& instanceFile,
                               const std::string& programName) {
    const auto others = OtherInstances(instanceFile, programName);
    if (!others.empty()) {
        if (state.store) SaveSetting(*state.store, kResultView, "0");
        const Answer a = ui.message(
            LoadStr(1801, "Terminating running previous instances and/or processes.") + "\n\n\n" +
                LoadStr(1802, "Do you want to continue?"),
            LoadStr(1803, "Harvestrix Start"), {Buttons::YesNoCancel, Icon::Question});
        if (a != Answer::Yes && a != Answer::No) return StepResult::Quit;
        for (pid_t pid : others) EndProcess(pid);
        if (a == Answer::No) return StepResult::Quit;
    }
    return Ok(ClaimInstance(instanceFile));
}

namespace {

// The desktop's disk service was asked too and could not open the drive: why, and what to do.
std::string diskServiceAdvice() {
    const std::string why = platform::LastDiskServiceFailure();
    if (why.empty()) return {};
    return "\n\n" + FormatStr(LoadStr(0, "The desktop's disk service (UDisks2) could not open it either: %0"), {why}) +
           "\n" + LoadStr(0, "Without root, install and start it (the package udisks2), then start Harvestrix again from the desktop.");
}

}  // namespace

bool CheckDriveRights(WorkingState& state, Ui& ui, const std::string& drive, bool force) {
    if (!force && state.store && GetSetting(*state.store, kVShown) == "-1") return false;
    if (!force) {
        if (drive.empty()) return false;
        platform::RawFile f;
        if (volumes::OpenDrive(f, drive, platform::RawFile::Mode::Read)) return false;
        // A drive that is merely missing is not a question of rights.
        if (!platform::isPermissionError(f.lastError())) return false;
    }
    std::string text;
    if (!drive.empty()) text = drive + ": " + LoadStr(960, "Drive protected.") + "\n\n";
    text += LoadStr(818, "Harvestrix is able to scan removable media.") + "\n" +
            LoadStr(819, "However, if you want Harvestrix running unrestricted or for scanning the system disk, "
                         "it needs the right to read the disks.") + "\n\n" +
            LoadStr(1806, "On this system that means: run Harvestrix as root, or as a member of the group 'disk'.") +
            "\n" +
            FormatStr(LoadStr(1807, "Add yourself to that group with: sudo adduser %0 disk, then log in again."),
                      {userName()}) +
            diskServiceAdvice() + "\n\n" + LoadStr(826, "Do you want to abort operation and close Harvestrix now?");
    const Answer a = ui.message(text, LoadStr(1808, "Drive access rights"), {Buttons::YesNo, Icon::Exclamation});
    if (a == Answer::Yes) return true;
    if (state.store) SaveSetting(*state.store, kVShown, "-1");
    return false;
}

bool InstallManual(const fs::path& programFolder, int languageId) {
    const char* name = languageId == kLangDutch ? "Nederlands" : languageId == kLangGerman ? "Deutsch" : "English";
    const fs::path manual = programFolder / "Manual";
    std::error_code ec;
    if (!fs::is_directory(manual / name, ec)) return false;
    bool ok = true;
    for (fs::directory_iterator it(manual / name, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code copyError;
        if (it->is_regular_file(copyError))
            fs::copy_file(it->path(), manual / it->path().filename(), fs::copy_options::overwrite_existing, copyError);
        ok = ok && !copyError;
    }
    return ok && !ec;
}

void Uninstall(WorkingState& state) {
    state.uninstalling = true;
    if (state.store) {
        state.tCache = state.store->ReadRegValue(state.regRoot, kProgramKey, "TCache");
        state.save = state.store->ReadRegValue(state.regRoot, kProgramKey, "LUD");
    }
    // Only a cache that is still there: MakeDirNames would make a fresh one.
    if (state.tCache.empty() || DriveReady(state.tCache)) {
        MakeDirNames(state);
        EmptyCache(state);
        DeleteTree(state.cache);
    }
    DelProgramTrees(state.programFolder);
}

namespace {

// The language chosen, stored, and its manual installed where it is missing.
StepResult storeLanguage(WorkingState& state) {
    needStore(state);
    const std::string id = std::to_string(state.languageId);
    std::error_code ec;
    const fs::path manual = state.programFolder / "Manual" / "Manual.htm";
    const bool shortManual = !fs::exists(manual, ec) || fs::file_size(manual, ec) < 35000;
    if (GetSetting(*state.store, kLangId) != id || shortManual) {
        SaveSetting(*state.store, kLangId, id);
        InstallManual(state.programFolder, state.languageId);
    }
    return StepResult::Done;
}

// The cache folder the command line (or the caller) names, and /uninstall.
StepResult commandLineSwitches(WorkingState& state, Ui& ui, const StartupOptions& options, bool& explicitCache) {
    needStore(state);
    bool hasCache = false, hasEquals = false;
    std::string folder = CacheSwitchFolder(state.commandLine, hasCache, hasEquals);
    if (!options.cacheFolder.empty()) {
        folder = options.cacheFolder;
    } else if (hasCache && !hasEquals) {
        auto answer = ui.input(LoadStr(1804, "Cache:"), LoadStr(753, "Harvestrix Cache"));
        folder = answer.value_or("");
    }
    if (!folder.empty()) {
        rewriteCaches(state, [&] { ApplyCacheSwitch(state, folder); });
        explicitCache = true;
    }
    if (HasSwitch(state.commandLine, "uninstall")) {
        Uninstall(state);
        return StepResult::Quit;
    }
    return StepResult::Done;
}

StepResult readSettings(WorkingState& state) {
    needStore(state);
    state.settings = LoadSettings(*state.store, state.regRoot);
    state.resultView = GetSetting(*state.store, kResultView);
    state.tCache = state.settings.tCache;
    state.oCache = state.settings.oCache;
    state.o2Cache = state.settings.o2Cache;
    state.save = state.settings.saveFolder;
    state.browse = state.settings.browseFolder;
    state.saveAs = state.settings.saveAsFolder;
    state.image = state.settings.imageFolder;
    return StepResult::Done;
}

}  // namespace

StepSequence EngineStartupSteps(WorkingState& state, Ui& ui, const StartupOptions& options) {
    StepSequence s;
    auto explicitCache = std::make_shared<bool>(false);
    s.add("LoadLanguageResource", [&state, &options] {
        std::error_code ec;
        InitStrings(options.useResourceFile || fs::exists(state.programFolder / kResourceFileName, ec),
                    state.programFolder);
        return StepResult::Done;
    });
    s.add("PrepareProgramFolder", [&state] {
        std::error_code ec;
        if (state.programFolder.empty()) InitWorkingState(state);
        fs::create_directories(state.programFolder, ec);
        fs::permissions(state.programFolder, fs::perms::owner_all, fs::perm_options::add, ec);
        return Ok(fs::is_directory(state.programFolder, ec));
    });
    s.add("EndStrayProcesses", [&options] {
        if (options.endStrayProcesses) EndStrayProcesses();
        return StepResult::Done;
    });
    s.add("SingleInstance", [&state, &ui, &options] {
        if (options.instanceFile.empty()) return StepResult::Done;
        return CheckSingleInstance(state, ui, options.instanceFile, options.programName);
    });
    s.add("ChooseLanguage", [&state, &options] {
        if (!options.languageGiven) SetCurrentLanguage(ChooseLanguage(state.commandLine, options.systemLanguage));
        state.languageId = CurrentLanguage();
        return StepResult::Done;
    });
    s.add("StoreLanguage", [&state] { return storeLanguage(state); });
    s.add("ChooseSettingsRoot", [&state] {
        needStore(state);
        state.regRoot = ChooseRegistryRoot(*state.store, HasSwitch(state.commandLine, "clean"));
        return StepResult::Done;
    });
    s.add("CommandLineSwitches", [&state, &ui, &options, explicitCache] {
        return commandLineSwitches(state, ui, options, *explicitCache);
    });
    s.add("ReadSettings", [&state] { return readSettings(state); });
    s.add("RightsCheck", [&state, &ui, &options] {
        // root may open every device.
        if (platform::RunsAsAdministrator()) return StepResult::Done;
        const std::string drive = options.rightsDrive.empty() ? state.settings.startDrive : options.rightsDrive;
        if (CheckDriveRights(state, ui, drive, false)) return StepResult::Quit;
        if (state.store) SaveSetting(*state.store, kRVista, "-1");
        return StepResult::Done;
    });
    s.add("SettleCache", [&state, &ui, explicitCache] { return Ok(SettleCache(state, ui, *explicitCache)); });
    return s;
}

StepSequence EngineExitSteps(WorkingState& state, Ui& ui, const StartupOptions& options) {
    StepSequence s;
    s.add("EndDamagedRecovery", [&state] {
        needStore(state);
        SaveSetting(*state.store, kLastStage, "0");
        return StepResult::Done;
    });
    s.add("SaveSettings", [&state] {
        needStore(state);
        StoredSettings& st = state.settings;
        st.homePath = state.programFolder.string();
        st.tCache = state.tCache;
        st.oCache = state.oCache;
        st.o2Cache = state.o2Cache;
        st.saveFolder = state.save.string();
        st.browseFolder = state.browse.string();
        st.saveAsFolder = state.saveAs.string();
        st.imageFolder = state.image.string();
        return Ok(CreateRegistryEntries(*state.store, state.regRoot, st, state.resultView));
    });
    s.add("ClearTemporaryFiles", [&state] {
        std::error_code ec;
        std::vector<fs::path> doomed;
        auto collect = [&](const fs::path& folder, auto&& wanted) {
            if (folder.empty()) return;
            for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
                if (!it->is_directory(ec) && wanted(ToLower(it->path().filename().string()))) doomed.push_back(it->path());
            ec.clear();
        };
        if (state.temp.string().find("QXCache") != std::string::npos)
            collect(state.temp, [](const std::string&) { return true; });
        if (!state.uninstalling) {
            collect(state.programFolder, [](const std::string& n) { return n.rfind("temp", 0) == 0; });
            collect(state.picture, [](const std::string& n) { return n.rfind("lastpict", 0) == 0 && n != "lastpict.bmp"; });
        }
        for (const auto& f : doomed) fs::remove(f, ec);
        return StepResult::Done;
    });
    s.add("RemoveEmptySaveFolder", [&state] {
        std::error_code ec;
        if (!state.save.empty() && fs::is_directory(state.save, ec) && fs::is_empty(state.save, ec))
            fs::remove(state.save, ec);
        return StepResult::Done;
    });
    s.add("DeleteUndeleteFiles", [&state] {
        std::error_code ec;
        std::vector<fs::path> doomed;
        if (state.cache.empty()) return StepResult::Done;
        for (fs::directory_iterator it(state.cache, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string n = ToLower(it->path().filename().string());
            if (n.size() == 11 && n.substr(1) == "dirent.dat") doomed.push_back(it->path());
        }
        for (const auto& f : doomed) fs::remove(f, ec);
        return StepResult::Done;
    });
    s.add("ReleaseInstance", [&options] {
        if (!options.instanceFile.empty()) ReleaseInstance(options.instanceFile);
        return StepResult::Done;
    });
    (void)ui;
    return s;
}

}  // namespace hx::shell
