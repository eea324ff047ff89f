// The cache commands: where the cache is, emptying it, and the uninstall
// clean-up of the cache and the program's own data folders.
#include <iostream>

#include "cli/CliCommand.h"
#include "shell/Settings.h"
#include "shell/Startup.h"
#include "shell/Strings.h"
#include "shell/WorkingFolders.h"
#include "shell/WorkingState.h"

namespace hx::cli {
namespace {

using shell::FormatStr;
using shell::LoadStr;

int runCache(CliArgs& args) {
    const auto& state = shell::SharedState();
    if (args.json) {
        std::cout << "{\"cache\":\"" << JsonEscape(state.cache.string()) << "\",\"previous\":\""
                  << JsonEscape(state.oCache) << "\",\"beforePrevious\":\"" << JsonEscape(state.o2Cache)
                  << "\",\"holdsFiles\":" << (shell::HoldsFiles(state.cache) ? "true" : "false") << "}\n";
    } else {
        std::cout << FormatStr(LoadStr(1812, "Cache folder: %0"), {state.cache.string()}) << "\n";
    }
    return 0;
}

int runClean(CliArgs& args) {
    auto& state = shell::SharedState();
    const auto a = args.ui->message(FormatStr(LoadStr(1810, "Delete all files in the cache %0?"), {state.cache.string()}),
                                    LoadStr(753, "Harvestrix Cache"), {shell::Buttons::YesNo, shell::Icon::Question});
    if (a != shell::Answer::Yes) return 1;
    const int removed = shell::EmptyCache(state);
    // "clean" also lets the settings root be chosen afresh.
    if (state.store) state.regRoot = shell::ChooseRegistryRoot(*state.store, true);
    if (args.json) std::cout << "{\"removed\":" << removed << "}\n";
    else std::cout << FormatStr(LoadStr(1811, "%0 files removed from the cache."), {std::to_string(removed)}) << "\n";
    return 0;
}

int runUninstall(CliArgs& args) {
    auto& state = shell::SharedState();
    const auto a = args.ui->message(
        FormatStr(LoadStr(1809, "Remove the cache %0 with all its files, and the program's own data folders?"),
                  {state.cache.string()}),
        LoadStr(753, "Harvestrix Cache"), {shell::Buttons::YesNo, shell::Icon::Question});
    if (a != shell::Answer::Yes) return 1;
    shell::Uninstall(state);
    if (args.json) std::cout << "{\"removed\":\"" << JsonEscape(state.cache.string()) << "\"}\n";
    return 0;
}

CliRegistrar regCache({"cache", "cache                            the cache folder in use", {}, runCache});
CliRegistrar regClean({"clean", "clean [--yes]                    delete every file in the cache", {}, runClean});
CliRegistrar regUninstall({"uninstall",
                           "uninstall [--yes]                remove the cache and the program's data folders",
                           {},
                           runUninstall});

}  // namespace
}  // namespace hx::cli
