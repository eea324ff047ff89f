#pragma once
// A block device the user may not open (no root, not in the group 'disk') is
// opened by the desktop's disk service instead: UDisks2 on the system bus,
// which asks polkit whether this user may (with a password prompt where the
// desktop's rules want one, which it remembers for a while) and hands back an
// open descriptor.
#include <string>

namespace hx::platform {

struct DiskServiceOpen {
    int fd = -1;          // an open descriptor (the caller's to close), or -1
    std::string failure;  // why there is none: no bus, no service, refused
};

// Asks the disk service to open the block device at `path` for reading, or
// for reading and writing.
DiskServiceOpen OpenThroughDiskService(const std::string& path, bool write);

// Why the last open through the disk service in this process failed; empty
// when none failed (or none was tried).
std::string LastDiskServiceFailure();

// The service's name for a device: its object path on the bus.
std::string DiskServiceObjectPath(const std::string& devicePath);

}  // namespace hx::platform
