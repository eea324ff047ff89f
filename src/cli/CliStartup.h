#pragma once
// What every subcommand gets before it runs: the language (--lang), the
// cache folder (--cache) and the attached images (--attach).
#include "cli/CliCommand.h"

namespace hx::cli {

// Returns false (after saying why) when the session cannot start.
bool PrepareCliSession(CliArgs& args, const std::vector<std::string>& attaches);
void FinishCliSession(CliArgs& args);

}  // namespace hx::cli
