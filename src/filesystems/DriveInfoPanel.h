#pragma once
// The drive information panel (lblSpecs) and the read-speed test (CmdMaxSpeed).
#include <functional>
#include <string>
#include <vector>

#include "media/DriveRecord.h"
#include "shell/Ui.h"

namespace hx::filesystems {
using media::DriveRecord;

constexpr std::size_t kInfoLineWidth = 36;
constexpr std::size_t kInfoMaxLines = 11;

// Breaks a line of 36 characters or more at the last path separator within
// its first 36 characters (kept on the first line), otherwise after the 35th
// character; repeats for the rest. Lines are joined with "\r\n".
std::string FormatInfo(const std::string& line);
// Drops lines from the end while there are more than 11.
std::string TruncateInfo(const std::string& text);

// The speed last measured and the drive it belongs to.
struct MeasuredSpeed {
    std::string drive;
    double mbPerSecond = 0;
};

// What one window (or one command line run) knows of its selected drive: the
// record last catalogued and the speed last measured. The owner keeps it;
// nothing here is shared between windows or runs.
struct DriveSession {
    DriveRecord record;
    MeasuredSpeed speed;
};

// The panel text of `source` (a drive id, or a disk image under DiskImages),
// cataloguing the drive into session.record when it is not the one last
// catalogued. Empty when the drive is not ready.
std::string DriveInfoText(DriveSession& session, const std::string& source);
// Puts DriveInfoText into lblSpecs.
void ShowDriveInfo(shell::Ui& ui, DriveSession& session, const std::string& source);
// Rebuilds the panel only when it does not describe `drive` yet, then yields once.
void RefreshDriveInfo(shell::Ui& ui, DriveSession& session, const std::string& drive);

// Seconds on a steady clock; tests give their own.
using SecondsClock = std::function<double()>;

// Reads the drive from sector 0 in blocks of 1 MiB, three blocks per timed
// pass, for at least 5 and at most about 15 seconds, or until the medium
// ends. Returns false (speed unchanged) when the drive cannot be opened;
// `openError` then holds errno.
bool MeasureReadSpeed(const std::string& drive, double& speed, shell::Ui* ui = nullptr, int* openError = nullptr,
                      const SecondsClock& clock = {});

// Tells the user why a drive cannot be read (errno `error`) and what to do
// (media::ReadFailureText).
void ReportUnreadableDrive(shell::Ui& ui, const std::string& drive, int error, const std::string& title);
// Opens the drive read-only and reads its first sector; on failure returns
// false and sets `error` (errno; EIO when it opened but gave no bytes).
bool DriveReadable(const std::string& drive, int& error);

// The "Test Speed" command on `drive`. `operationRunning` is the window's busy flag.
void CmdMaxSpeed_Click(shell::Ui& ui, DriveSession& session, const std::string& drive, bool operationRunning = false,
                       const SecondsClock& clock = {});

// A new choice in the drive list. Waits up to `waitSeconds` for the drive to
// become ready; refuses it with a message otherwise. Returns the drive now
// selected (`choice`, or `previous` when refused).
std::string Drive1_Change(shell::Ui& ui, DriveSession& session, const std::string& choice, const std::string& previous,
                          bool thumbnailsShown, double waitSeconds = 5);

}  // namespace hx::filesystems
