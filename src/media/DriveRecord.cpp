#include "media/DriveRecord.h"

namespace hx::media {

namespace {
const char* const kDriveKindNames[] = {"Missing", "Unknown", "Removable", "Fixed", "Remote", "CDRom", "RAMDisk"};
}

const char* DriveKindName(DriveKind kind) { return kDriveKindNames[static_cast<int>(kind)]; }

DriveKind DriveKindFromName(const std::string& name) {
    for (int i = 0; i < 7; ++i)
        if (name == kDriveKindNames[i]) return static_cast<DriveKind>(i);
    return DriveKind::Unknown;
}

std::string DriveRecord::fileSystemName() const {
    switch (FileSystem) {
        case FileSystemKind::Fat12: return "FAT12";
        case FileSystemKind::Fat16: return "FAT16";
        case FileSystemKind::Fat32: return "FAT32";
        case FileSystemKind::ExFat: return "exFAT";
        case FileSystemKind::Ntfs: return "NTFS";
        case FileSystemKind::Other: return PlatformFileSystem;
        case FileSystemKind::None: break;
    }
    return {};
}

}  // namespace hx::media
