#pragma once
#include <string>

#include "cli/CliCommand.h"

namespace hx::cli {

// A SOURCE that is not ready is refused with the drive list's own message.
bool CliDriveReady(CliArgs& args, const std::string& source);

// A SOURCE this user may not open is refused before anything is made for
// it, with the ways in (root, the group disk, udisks2): 3. 0 otherwise.
int CliRefusedSource(CliArgs& args, const std::string& source);

}  // namespace hx::cli
