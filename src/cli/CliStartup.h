#pragma once
// What every subcommand gets before it runs: the language (--lang, else the
// system language), the attached images (--attach) and the settled cache
// folder (--cache DIR makes DIR/QXCache/ the cache), with the settings in the
// INI files under the XDG config folders. Afterwards the cache paths are
// remembered for the next run (of either front end).
#include "cli/CliCommand.h"

namespace hx::cli {

// Returns false (after saying why) when the session cannot start.
bool PrepareCliSession(CliArgs& args, const std::vector<std::string>& attaches);
void FinishCliSession(CliArgs& args);

// --lang: a language id (1043), or a locale name (nl, de_CH) mapped as the
// system language is. Unsupported ids give English.
int CliLanguage(const std::string& value);

}  // namespace hx::cli
