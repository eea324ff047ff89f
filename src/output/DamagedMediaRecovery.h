#pragma once
// The automated recovery from a physically damaged medium. A scan or backup
// keeps a marker in the settings (LastCluster above 0, with the drive in
// LastDrive) while it reads; a marker found at the next start means the
// program was ended in the middle of a read, most likely by a damaged sector.
// The recovery then goes in three stages: the medium scanned again in damaged
// mode, its sectors copied into an unattended image, that image scanned. Each
// stage is entered only when the one before left the marker set, so a stage
// that ends the program again is followed, after a restart, by the next.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "shell/SettingsStore.h"
#include "shell/Ui.h"

namespace hx::output {

// What the recovery asks of its front end: the window's own commands, or the
// command line's.
struct DamagedRecoverySteps {
    // Makes `drive` the chosen one; false while it is not connected.
    std::function<bool(const std::string& drive)> selectDrive;
    // The medium's size in bytes (0 when unknown).
    std::function<std::uint64_t(const std::string& drive)> mediumBytes;
    // Makes room for an image of `bytes` (the image folder may move); false when no drive has it.
    std::function<bool(std::uint64_t bytes)> makeRoom;
    std::function<void(const std::string& drive)> scanDamaged;       // stage 1: DeepScan in damaged mode
    std::function<void(const std::string& drive)> backupUnattended;  // stage 2: into `unattendedImage`
    std::function<void(const std::filesystem::path& image)> scanImage;  // final stage
    std::filesystem::path unattendedImage;
};

enum class DamagedRecoveryOutcome { NotNeeded, GivenUp, Finished };

// Media from this size on skip the stage-1 scan: a damaged-mode scan of them takes too long.
inline constexpr std::uint64_t kStageOneLimitBytes = 9000ull * 1048576;

// Called as the last step of start-up. Leaves LastCluster and LastStage at 0
// when it ends (finished or given up); a stage that does not return leaves
// them for the next start.
DamagedRecoveryOutcome RecoverDamagedMedia(shell::Ui& ui, shell::SettingsStore& store,
                                           const DamagedRecoverySteps& steps);

}  // namespace hx::output
