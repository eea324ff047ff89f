#pragma once
// The media this machine offers: block devices and the partitions the system
// knows (sysfs and /proc/self/mountinfo) plus image files attached with
// --attach. The partitions inside an image are added above this layer.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace hx::platform {

struct DriveEntry {
    std::string id;          // drive id: device node (/dev/sdb1) or image path
    std::string label;       // volume label, may be empty
    std::string mountPoint;  // empty when not mounted
    std::string fileSystem;  // from mountinfo or our own boot-sector look, may be empty
    std::string typeName;    // "Removable", "Fixed", "Remote", "CDRom", "RAMDisk", "Unknown"
    std::string bus;         // usb, mmc, ata, scsi, nvme, virtio, loop, or empty
    std::uint64_t sizeBytes = 0;
    bool removable = false;
    bool ready = false;      // media present and readable size
    bool isImage = false;
    bool isSystem = false;   // holds the root file system (the disk or its partition)
};

// All media: devices first, then attached images in the order attached.
std::vector<DriveEntry> EnumerateMedia();
// Finds one medium by id (device node or image path); a path that is not in
// the catalogue but exists as a file is returned as an image drive.
bool FindMedium(const std::string& id, DriveEntry& out);

// "IMAGE[,removable][,label=NAME]". Returns false (and leaves the list alone)
// when the image does not exist.
bool AttachImage(const std::string& spec);
void DetachAllImages();

// The text shown in drive lists: id, label and mount point.
std::string DriveDisplayName(const DriveEntry& drive);

// The device holding "/", e.g. /dev/sda2; empty when unknown.
std::string SystemDrive();

// The file system a path lies on: where it is mounted, what is mounted there
// (a device node, an image for a FUSE mount) and its type. The path need not
// exist yet: its nearest existing folder counts.
struct MountOfPath {
    std::string mountPoint;
    std::string source;
    std::string fsType;
};
bool MountContaining(const std::filesystem::path& path, MountOfPath& out);
// True when both paths lie on the same mounted file system.
bool SameFileSystem(const std::filesystem::path& a, const std::filesystem::path& b);

// True for a block device node (/dev/sdb1, /dev/loop0).
bool IsBlockDevice(const std::string& path);
// True when `path` was attached with AttachImage.
bool IsAttachedImage(const std::string& path);

struct SpaceInfo {
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;  // available to this user
    std::uint32_t blockSize = 0;
};
// Free space of a mounted file system (statvfs of its mount point).
bool QueryFreeSpace(const std::string& mountPoint, SpaceInfo& out);

// The bus a block device hangs on, from sysfs: "usb", "mmc", "ata", "scsi",
// "nvme", "virtio", or empty when unknown (and for image files).
std::string DriveBus(const std::string& devicePath);

}  // namespace hx::platform
