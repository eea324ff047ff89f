#pragma once
#include <string>

#include "cli/CliCommand.h"

namespace hx::cli {

// A SOURCE that is not ready is refused with the drive list's own message.
bool CliDriveReady(CliArgs& args, const std::string& source);

}  // namespace hx::cli
