// harvestrix-cli backup: an image of a medium, with its companion file.
#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "output/DiskBackup.h"
#include "shell/QuietUi.h"
#include "shell/Strings.h"
#include "undelete/QuickUndelete.h"

namespace hx::cli {

namespace {

int runBackup(CliArgs& args) {
    if (args.positional.size() != 1 || !args.has("to")) {
        std::cerr << "usage: harvestrix-cli backup SOURCE --to FOLDER [--deep] [--damaged]\n";
        return 2;
    }
    const std::string source = args.positional[0];
    if (const int refused = CliRefusedSource(args, source)) return refused;
    if (!CliDriveReady(args, source)) return 3;
    output::BackupRequest req;
    req.drive = source;
    req.folder = args.get("to");
    req.deep = args.has("deep");
    req.damaged = args.has("damaged");
    // The companion file carries the medium's undelete listing, when it has one.
    // A medium without a readable file system is copied all the same: its listing stays empty.
    shell::QuietUi quiet;
    undelete::QuickUndelete listing(quiet);
    filesystems::QuickUndeleteOptions options;
    options.drive = source;
    if (listing.run(options)) req.entries = listing.entries();
    const auto result = output::BackupDisk(*args.ui, req);
    if (!result.ok) return 3;
    std::cout << result.image.string() << "\n";
    if (result.unreadableSectors > 0)
        std::cout << result.unreadableSectors << " unreadable sectors are zeros in the image; listed in "
                  << result.unreadableList.string() << "\n";
    if (!result.partialNote.empty()) std::cout << "The image is partial: see " << result.partialNote.string() << "\n";
    return result.stopped ? 1 : 0;
}

CliRegistrar reg({"backup", "backup SOURCE --to FOLDER [--deep] [--damaged]   an image of the medium in FOLDER/DiskImages",
                  {"to"}, runBackup});

}  // namespace
}  // namespace hx::cli
