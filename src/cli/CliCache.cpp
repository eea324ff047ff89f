#include "cli/CliCache.h"

#include <cstdlib>

#include "shell/WorkingState.h"

namespace hx::cli {

std::filesystem::path CliCacheFolder(const CliArgs& args) {
    namespace fs = std::filesystem;
    if (args.has("cache")) return fs::path(args.get("cache")) / "QXCache";
    if (!shell::SharedState().cache.empty()) return shell::SharedState().cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) return fs::path(xdg) / "QXCache";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".cache" / "QXCache";
}

}  // namespace hx::cli
