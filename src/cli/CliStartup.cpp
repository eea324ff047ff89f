#include "cli/CliStartup.h"

#include <cstdlib>

#include "shell/Strings.h"

namespace hx::cli {

bool PrepareCliSession(CliArgs& args, const std::vector<std::string>& /*attaches*/) {
    if (args.has("lang")) shell::SetCurrentLanguage(std::atoi(args.get("lang").c_str()));
    return true;
}

void FinishCliSession(CliArgs&) {}

}  // namespace hx::cli
