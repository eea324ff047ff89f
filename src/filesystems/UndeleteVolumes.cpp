// Opening a volume for the undelete: the catalogue's word first, then each
// file system's boot sector in turn.
#include "filesystems/UndeleteVolume.h"

#include "filesystems/FileSystemTypes.h"
#include "media/SectorIo.h"
#include "shell/Strings.h"

namespace hx::filesystems {

std::string RootUnreadable() {
    return shell::LoadStr(0, "its root folder cannot be read (the medium may end before it)");
}

std::unique_ptr<UndeleteVolume> OpenUndeleteVolume(const std::string& drive, const media::DriveRecord& record) {
    for (const FileSystemType& type : FileSystemTypes())
        if (type.catalogued(record)) return type.openUndelete(drive, record);
    std::uint32_t got = 0;
    const std::vector<std::uint8_t> boot = media::ReadSectors(drive, 0, 0, 512, got, record.sectorSize());
    if (got < 512) return nullptr;
    for (const FileSystemType& type : FileSystemTypes())
        if (type.usable(boot.data(), 512)) return type.openUndelete(drive, record);
    return nullptr;
}

}  // namespace hx::filesystems
