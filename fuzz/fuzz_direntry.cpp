// Directory entries from a medium: FAT 32-byte entries (long names, deleted
// names, cluster words), exFAT entry sets, FAT and exFAT boot sectors, and
// the DirEnt.dat entry encoding, and the rebuilding of lost first letters.
// No crash, no hang, whatever the bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "filesystems/DirEntCache.h"
#include "filesystems/fat/LostInitials.h"
#include "filesystems/exfat/UndeleteExfat.h"
#include "filesystems/fat/UndeleteFat.h"

using namespace hx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    ++data, --size;

    std::vector<filesystems::RawDirEntry> raw;
    for (std::size_t off = 0; off + 32 <= size; off += 32) {
        filesystems::RawDirEntry e;
        std::memcpy(e.data(), data + off, 32);
        raw.push_back(e);
    }
    std::vector<filesystems::UndeleteEntry> list;
    filesystems::VulUndeleteList(raw, list, mode & 1, mode & 2, "\\");
    filesystems::VulUndeleteList(raw, list, mode & 1, mode & 2, "\\again");
    for (const auto& e : list) filesystems::AttributeText(e.Attributes);
    filesystems::RebuildLostInitials(list);

    std::vector<filesystems::ExfatFolderRef> folders;
    filesystems::ParseExfatDirectory(data, size, "\\", list, folders);

    filesystems::FatVolume fat;
    filesystems::ParseFatBootSector(data, size, fat);
    filesystems::ExfatVolume ex;
    filesystems::ParseExfatBootSector(data, size, ex);

    std::size_t pos = 0;
    filesystems::UndeleteEntry e;
    for (int i = 0; i < 1000 && filesystems::DecodeUndeleteEntry(data, size, pos, e); ++i) {
        std::vector<std::uint8_t> again;
        filesystems::EncodeUndeleteEntry(e, again);
    }
    return 0;
}
