#include "cli/CliDrive.h"

#include "media/ReadFailure.h"
#include "platform/DriveCatalogue.h"
#include "platform/RawFile.h"
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

int CliRefusedSource(CliArgs& args, const std::string& source) {
    const int error = media::OpenError(source);
    if (!platform::isPermissionError(error)) return 0;
    args.ui->message(media::ReadFailureText(source, error), shell::LoadStr(408, "Select drive"),
                     {shell::Buttons::OK, shell::Icon::Exclamation});
    return 3;
}

}  // namespace hx::cli
