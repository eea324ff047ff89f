// harvestrix-cli damaged: the automated recovery from a damaged medium, after
// a scan or backup that was ended while it read (a sector of a dying card can
// make the system end the program). Run it again after each such end: the
// stages follow one another.
#include <iostream>

#include "cli/CliCache.h"
#include "cli/CliCommand.h"
#include "output/DamagedMediaRecovery.h"
#include "output/DiskBackup.h"
#include "platform/FreeSpace.h"
#include "output/ScanCommand.h"
#include "shell/Settings.h"
#include "shell/WorkingState.h"
#include "media/SectorIo.h"

namespace hx::cli {

namespace fs = std::filesystem;

namespace {

// The carving scan the recovery asks for: every type, DeepScan in damaged
// mode; the last stage adds to what the first found.
void scanForRecovery(CliArgs& args, const std::string& source, bool damaged, bool addToFound = false) {
    output::ScanRequest request;
    request.source = source;
    request.cacheFolder = CliCacheFolder(args);
    std::error_code ec;
    fs::create_directories(request.cacheFolder, ec);
    request.selection = formats::EveryTypeSelection();
    request.learnedFolder = shell::SharedState().picture;
    request.settings = shell::SharedState().store;
    request.state = &shell::SharedState();
    request.options.deepScan = true;
    request.options.damaged = damaged;
    request.options.unattended = true;
    request.options.addToFound = addToFound;
    request.smart = false;
    request.resume = false;
    request.newScan = true;
    output::ScanCommand command(*args.ui, std::move(request));
    const auto outcome = command.run();
    if (outcome && *outcome != scan::ScanOutcome::Unreadable)
        std::cout << command.context().found.size() << " files in " << CliCacheFolder(args).string() << "\n";
}

int runDamaged(CliArgs& args) {
    shell::WorkingState& state = shell::SharedState();
    if (!state.store) return 1;
    output::DamagedRecoverySteps steps;
    steps.unattendedImage = output::UnattendedImage(state.programFolder);
    steps.selectDrive = [](const std::string& drive) { return media::OpenVolume(drive).isOpen(); };
    steps.mediumBytes = [](const std::string& drive) { return media::MediumBytes(drive); };
    steps.makeRoom = [&state](std::uint64_t bytes) {
        std::error_code ec;
        fs::create_directories(state.programFolder, ec);
        return platform::FreeMegabytes(state.programFolder.string()) > static_cast<double>(bytes) / 1048576.0;
    };
    steps.scanDamaged = [&args](const std::string& drive) { scanForRecovery(args, drive, true); };
    steps.backupUnattended = [&args, &steps, &state](const std::string& drive) {
        output::BackupDisk(*args.ui, output::UnattendedBackup(drive, steps.unattendedImage, state.store));
    };
    // The first stage's finds stay: the saved sectors add to them.
    steps.scanImage = [&args](const fs::path& image) { scanForRecovery(args, image.string(), false, true); };
    switch (output::RecoverDamagedMedia(*args.ui, *state.store, steps)) {
        case output::DamagedRecoveryOutcome::NotNeeded:
            std::cout << "No read was ended before its end: nothing to recover.\n";
            return 1;
        case output::DamagedRecoveryOutcome::GivenUp:
            std::cout << "The automated recovery was dropped.\n";
            return 1;
        case output::DamagedRecoveryOutcome::Finished:
            break;
    }
    return 0;
}

CliRegistrar reg({"damaged",
                  "damaged [--yes]                  after a read that was ended, recover in stages (run again after each end)",
                  {}, runDamaged});

}  // namespace
}  // namespace hx::cli
