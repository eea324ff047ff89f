#pragma once
// The one rule by which every command finds the cache folder: --cache DIR
// gives DIR/QXCache/; otherwise the cache settled at start-up; otherwise the
// default under the XDG cache folder or the home folder.
#include <filesystem>

#include "cli/CliCommand.h"

namespace hx::cli {

std::filesystem::path CliCacheFolder(const CliArgs& args);

}  // namespace hx::cli
