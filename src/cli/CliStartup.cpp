#include "cli/CliStartup.h"

#include <cctype>
#include <iostream>
#include <memory>

#include "platform/DriveCatalogue.h"
#include "shell/IniSettingsStore.h"
#include "shell/Startup.h"
#include "shell/Strings.h"
#include "shell/WorkingFolders.h"
#include "shell/WorkingState.h"

namespace hx::cli {

namespace {

std::unique_ptr<shell::IniSettingsStore> gStore;
shell::StartupOptions gOptions;

}  // namespace

int CliLanguage(const std::string& value) {
    if (!value.empty() && std::isdigit(static_cast<unsigned char>(value[0])))
        return shell::ChooseLanguage(value + " language", 0);
    // A locale name such as "nl" or "de_CH" is taken as the system language would be.
    return shell::ChooseLanguage("", shell::LocaleToLanguageId(value));
}

bool PrepareCliSession(CliArgs& args, const std::vector<std::string>& attaches) {
    // The language first, so that everything said from here on is in it.
    shell::SetCurrentLanguage(args.has("lang") ? CliLanguage(args.get("lang"))
                                               : shell::ChooseLanguage("", shell::SystemLanguageId()));
    for (const auto& spec : attaches) {
        if (!platform::AttachImage(spec)) {
            std::cerr << "harvestrix-cli: cannot attach '" << spec << "': the image file does not exist.\n";
            return false;
        }
    }

    shell::WorkingState& state = shell::SharedState();
    shell::InitWorkingState(state);
    gStore = std::make_unique<shell::IniSettingsStore>(shell::DefaultIniStorePaths());
    state.store = gStore.get();
    gOptions = {};
    gOptions.languageGiven = true;
    gOptions.endStrayProcesses = false;  // a window may be using the converter right now
    gOptions.cacheFolder = args.get("cache");
    const bool explicitCache = !gOptions.cacheFolder.empty();

    auto steps = shell::EngineStartupSteps(state, *args.ui, gOptions);
    // Commands check their own drive's rights when they open it.
    steps.remove("RightsCheck");
    steps.remove("SingleInstance");
    // The command line never asks which remembered cache to use.
    steps.replace("SettleCache", [&state, &args, explicitCache] {
        shell::DropUnavailableCache(state, *args.ui);
        shell::MakeDirNames(state);
        if (!explicitCache) shell::GetActiveTempCache(state, *args.ui, false);
        return shell::Ok(shell::EnsureCacheFolders(state, *args.ui));
    });
    steps.run();
    for (const auto& o : steps.outcomes())
        if (o.result == shell::StepResult::Failed)
            std::cerr << "harvestrix-cli: start-up step " << o.name << " failed"
                      << (o.error.empty() ? "" : ": " + o.error) << "\n";
    return true;
}

void FinishCliSession(CliArgs& args) {
    shell::WorkingState& state = shell::SharedState();
    if (!state.store) return;
    auto steps = shell::EngineExitSteps(state, *args.ui, gOptions);
    // The window owns the rest of the settings and the recovery markers; we
    // only remember where the cache is.
    steps.remove("EndDamagedRecovery");
    steps.remove("DeleteUndeleteFiles");
    steps.replace("SaveSettings", [&state] {
        if (state.uninstalling) return shell::StepResult::Done;
        bool ok = true;
        for (auto [name, value] : {std::pair<const char*, const std::string*>{"TCache", &state.tCache},
                                   {"OCache", &state.oCache},
                                   {"O2Cache", &state.o2Cache}})
            ok = state.store->WriteRegValue(state.regRoot, shell::kProgramKey, name, *value) && ok;
        return shell::Ok(ok);
    });
    steps.run();
}

}  // namespace hx::cli
