// Text lookups run for every caption, tooltip and status line; the settings
// file is read afresh by each store call of the command line.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "shell/IniSettingsStore.h"
#include "shell/Settings.h"
#include "shell/Strings.h"

using namespace hx::shell;

static void BM_LoadStrDutch(benchmark::State& state) {
    SetCurrentLanguage(kLangDutch);
    int id = 0;
    const int ids[] = {38, 655, 1406, 1433, 1717, 99999};
    for (auto _ : state) benchmark::DoNotOptimize(LoadStr(ids[id++ % 6], "default"));
    SetCurrentLanguage(kLangEnglish);
}
BENCHMARK(BM_LoadStrDutch);

static void BM_FormatStr(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(FormatStr("Elapsed: %0 && to go: %1 seconds %2 MB/s", {"12", "345", "17.5"}));
}
BENCHMARK(BM_FormatStr);

// The exit's full write of the settings with a type list of state.range(0) rows.
static void BM_CreateRegistryEntriesIni(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() / "hx-bench-settings";
    IniStorePaths paths;
    paths.currentUser = dir / "Harvestrix.conf";
    paths.appSettings = dir / "AppSettings.conf";
    IniSettingsStore store(paths);
    StoredSettings s;
    for (int i = 0; i < state.range(0); ++i) s.typeRows.push_back({"T" + std::to_string(i), i % 2 == 0});
    for (auto _ : state) CreateRegistryEntries(store, RegRoot::CurrentUser, s, "1");
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CreateRegistryEntriesIni)->Arg(10)->Arg(80)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
