#pragma once
// Making a card empty again, and writing an image back onto one: wipe (the
// data area overwritten with zeros in 64 KB blocks), repair (the same, one
// sector at a time), format (the system's mkfs with the former label) and
// restore. Only a removable medium with a FAT or exFAT file system that is
// not the system disk is ever written, and only after the user said so.
#include <functional>
#include <string>

#include "media/DriveRecord.h"
#include "shell/Ui.h"

namespace hx::output {

// Empty when `record` may be wiped, repaired, formatted or restored onto;
// otherwise why not, in words for the user.
std::string MaintenanceRefusal(const media::DriveRecord& record, bool operationRunning);

enum class WipeOutcome { Refused, Cancelled, AccessFailed, Stopped, Failed, Finished };

// Wipe (or repair) the catalogued drive `record` after asking. `keepGoing` is
// asked after every block; false stops. A finished wipe formats the card
// again under its former label (not after a failed or stopped one).
WipeOutcome WipeMedium(shell::Ui& ui, const media::DriveRecord& record, bool repair, bool operationRunning,
                       const std::function<bool()>& keepGoing = {});

// Formats the drive with mkfs.vfat (mkfs.exfat for exFAT) under its former label, after asking.
bool FormatMedium(shell::Ui& ui, const media::DriveRecord& record, bool operationRunning);

// Writes `image` onto the drive from sector 0, after asking, when the first
// 34 bytes of both boot sectors are equal.
bool RestoreImage(shell::Ui& ui, const std::string& image, const media::DriveRecord& record, bool operationRunning);

}  // namespace hx::output
