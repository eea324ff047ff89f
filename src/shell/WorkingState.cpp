#include "shell/WorkingState.h"

#include <cstdlib>

namespace hx::shell {

namespace fs = std::filesystem;

WorkingState& SharedState() {
    static WorkingState state;
    return state;
}

namespace {
fs::path envFolder(const char* name, const fs::path& fallback) {
    const char* v = std::getenv(name);
    return v && *v && fs::path(v).is_absolute() ? fs::path(v) : fallback;
}
fs::path slashed(fs::path p) {
    std::string s = p.lexically_normal().string();
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}
}  // namespace

void InitWorkingState(WorkingState& state) {
    const char* home = std::getenv("HOME");
    state.homeFolder = slashed(home && *home ? fs::path(home) : fs::temp_directory_path());
    state.programFolder = slashed(envFolder("XDG_DATA_HOME", state.homeFolder / ".local/share") / state.productName);
    state.tempPath = slashed(envFolder("XDG_CACHE_HOME", state.homeFolder / ".cache"));
}

}  // namespace hx::shell
