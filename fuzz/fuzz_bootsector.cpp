// Any bytes as a whole medium: boot sector parse, FAT copies, root directory,
// NTFS records and the allocation bitmap must stay inside what was given.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "filesystems/AllocationBitmap.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/fat/FatTables.h"
#include "Scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace hx::media;
    using namespace hx::filesystems;
    DriveRecord parsed;
    ParseBootSectorBytes(data, size, parsed);

    const std::string path = hx::fuzz::WriteScratch("bootsector", "medium.img", data, size);
    DriveRecord rec;
    if (GetDriveInfo(path, rec)) {
        AllocationBitmap bitmap;
        LoadAllocationBitmap(rec, bitmap);
        bool isDirectory = false;
        for (std::uint32_t c = 2; c < 6; ++c) ReadDirectoryChain(path, c, isDirectory, rec);
    }
    return 0;
}
