// harvestrix-cli wipe, repair, format and restore: a card made empty, or an
// image written back onto it. Each asks first (--yes answers).
#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "filesystems/DriveInfo.h"
#include "output/MediumMaintenance.h"

namespace hx::cli {

namespace {

bool catalogue(CliArgs& args, const std::string& drive, media::DriveRecord& rec) {
    if (!CliDriveReady(args, drive)) return false;
    return filesystems::GetDriveInfo(drive, rec);
}

int runWipe(CliArgs& args, bool repair) {
    if (args.positional.size() != 1) {
        std::cerr << "usage: harvestrix-cli " << (repair ? "repair" : "wipe") << " DRIVE [--yes]\n";
        return 2;
    }
    media::DriveRecord rec;
    if (!catalogue(args, args.positional[0], rec)) return 3;
    const auto outcome = output::WipeMedium(*args.ui, rec, repair, false);
    return outcome == output::WipeOutcome::Finished ? 0 : outcome == output::WipeOutcome::AccessFailed ? 3 : 1;
}

int runFormat(CliArgs& args) {
    if (args.positional.size() != 1) {
        std::cerr << "usage: harvestrix-cli format DRIVE [--yes]\n";
        return 2;
    }
    media::DriveRecord rec;
    if (!catalogue(args, args.positional[0], rec)) return 3;
    return output::FormatMedium(*args.ui, rec, false) ? 0 : 1;
}

int runRestore(CliArgs& args) {
    if (args.positional.size() != 2) {
        std::cerr << "usage: harvestrix-cli restore IMAGE DRIVE [--yes]\n";
        return 2;
    }
    media::DriveRecord rec;
    if (!catalogue(args, args.positional[1], rec)) return 3;
    return output::RestoreImage(*args.ui, args.positional[0], rec, false) ? 0 : 1;
}

CliRegistrar wipeReg({"wipe", "wipe DRIVE [--yes]               zeros over the data area of a removable FAT card", {},
                      [](CliArgs& a) { return runWipe(a, false); }});
CliRegistrar repairReg({"repair", "repair DRIVE [--yes]             the same as wipe, one sector at a time", {},
                        [](CliArgs& a) { return runWipe(a, true); }});
CliRegistrar formatReg({"format", "format DRIVE [--yes]             mkfs.vfat (or mkfs.exfat) with the former label", {},
                        runFormat});
CliRegistrar restoreReg({"restore", "restore IMAGE DRIVE [--yes]      an image written back onto a card of its geometry",
                         {}, runRestore});

}  // namespace
}  // namespace hx::cli
