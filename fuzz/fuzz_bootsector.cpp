// Any bytes as a whole medium: boot sector parse, FAT copies, root directory,
// NTFS records and the allocation bitmap must stay inside what was given.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "media/AllocationBitmap.h"
#include "media/DriveInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace hx::media;
    DriveRecord parsed;
    ParseBootSectorBytes(data, size, parsed);

    static const std::string path = "/tmp/hx-fuzz-bootsector-" + std::to_string(::getpid()) + ".img";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    DriveRecord rec;
    if (GetDriveInfo(path, rec)) {
        AllocationBitmap bitmap;
        LoadAllocationBitmap(rec, bitmap);
        bool isDirectory = false;
        for (std::uint32_t c = 2; c < 6; ++c) ReadDirectoryChain(path, c, isDirectory, rec);
    }
    std::remove(path.c_str());
    return 0;
}
