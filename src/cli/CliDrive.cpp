#include "cli/CliDrive.h"

#include "platform/DriveCatalogue.h"
#include "shell/Strings.h"
#include "volumes/DriveFiles.h"

namespace hx::cli {

bool CliDriveReady(CliArgs& args, const std::string& source) {
    platform::DriveEntry entry;
    if (volumes::FindDrive(source, entry) && entry.ready) return true;
    args.ui->message(shell::FormatStr(shell::LoadStr(1406, "Drive %0 not ready."), {source}),
                     shell::LoadStr(408, "Select drive"), {shell::Buttons::OK, shell::Icon::Exclamation});
    return false;
}

}  // namespace hx::cli
