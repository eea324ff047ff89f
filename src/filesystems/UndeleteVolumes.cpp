// Opening a volume for the undelete: the catalogue's word first, then each
// file system's boot sector in turn.
#include "filesystems/UndeleteVolume.h"

#include "filesystems/FileSystemTypes.h"
#include "platform/RawFile.h"
#include "shell/Strings.h"
#include "volumes/DriveFiles.h"

namespace hx::filesystems {

std::string RootUnreadable() {
    return shell::LoadStr(0, "its root folder cannot be read (the medium may end before it)");
}

std::unique_ptr<UndeleteVolume> OpenUndeleteVolume(const std::string& drive, const media::DriveRecord& record) {
    for (const FileSystemType& type : FileSystemTypes())
        if (type.catalogued(record)) return type.openUndelete(drive, record);
    platform::RawFile file;
    std::uint8_t boot[512];
    if (!volumes::OpenDrive(file, drive, platform::RawFile::Mode::Read) || file.readAt(0, boot, sizeof boot) != sizeof boot)
        return nullptr;
    for (const FileSystemType& type : FileSystemTypes())
        if (type.usable(boot, sizeof boot)) return type.openUndelete(drive, record);
    return nullptr;
}

}  // namespace hx::filesystems
