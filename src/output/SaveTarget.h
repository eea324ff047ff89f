#pragma once
// Where recovered files may go: never onto the medium they were recovered
// from (unless that is the system's own disk), with room enough for them.
#include <cstdint>
#include <filesystem>
#include <string>

namespace hx::output {

// What a cache's files were recovered from: the drive id that was scanned
// and its volume serial (0 when unknown), as "Searched.dat" records them.
struct ScannedSource {
    std::string drive;
    std::uint32_t serial = 0;
};

// Free megabytes of the file system a path lies on (its nearest existing
// folder); `totalMB` gets its size. Whole megabytes; 0 when unknown.
double FreeSpaceMB(const std::filesystem::path& path, double* totalMB = nullptr);

// The volume serial of the FAT, exFAT or NTFS file system a path lies on,
// read from the boot sector of what is mounted there; 0 when it cannot be
// read (another file system, no permission).
std::uint32_t VolumeSerial(const std::filesystem::path& path);

// True when `folder` lies on the scanned medium: on the file system mounted
// from the scanned device (or from the scanned image, through a FUSE or loop
// mount), or on one whose volume serial is the recorded one. Never when the
// scanned drive is the system's own disk.
bool OnScannedMedium(const std::filesystem::path& folder, const ScannedSource& scanned);

// The save folder for a chosen one: a mount root (or "/") gets "Recovered/";
// the result ends with '/'.
std::filesystem::path SaveFolderFor(const std::filesystem::path& chosen);

}  // namespace hx::output
