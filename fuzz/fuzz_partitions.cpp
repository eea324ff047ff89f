// Any bytes as a whole medium: the partition table parse, every partition's
// window, opening "IMAGE#N" and cataloguing the medium must stay inside what
// was given and end.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "filesystems/DriveInfo.h"
#include "volumes/DriveFiles.h"
#include "volumes/PartitionTable.h"
#include "platform/RawFile.h"
#include "Scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace hx;
    const volumes::PartitionTable table = volumes::ParsePartitionTable(data, size);
    for (const auto& e : table.entries) {
        std::uint64_t offset = 0, length = 0;
        if (table.window(e.index, size, offset, length) && (offset >= size || length > size - offset)) __builtin_trap();
    }

    // Opening a partition reads the table again, and cataloguing tries every
    // partition: a table of many entries is read as a medium for its first
    // four, which is what cards and sticks have.
    if (table.entries.size() > 4) return 0;
    const std::string path = hx::fuzz::WriteScratch("partitions", "medium.img", data, size);
    for (const auto& e : table.entries) {
        platform::RawFile f;
        if (!volumes::OpenDrive(f, volumes::PartitionDriveId(path, e.index), platform::RawFile::Mode::Read)) continue;
        std::uint8_t sector[512];
        const std::uint64_t bytes = f.size();
        if (f.windowBase() + bytes > size) __builtin_trap();
        f.readAt(0, sector, sizeof sector);
        f.readAt(bytes > 256 ? bytes - 256 : 0, sector, sizeof sector);
    }
    media::DriveRecord rec;
    filesystems::GetDriveInfo(path, rec);
    return 0;
}
