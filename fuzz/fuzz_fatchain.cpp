// FAT and exFAT chain walks over a table and geometry taken from the input:
// loops, chains leaving the volume and absurd cluster counts must end.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "filesystems/AllocationBitmap.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/fat/FatTables.h"
#include "platform/ByteOrder.h"
#include "Scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace hx::media;
    using namespace hx::filesystems;
    using hx::platform::Le32;
    if (size < 16) return 0;
    using hx::media::FileSystemKind;
    static const FileSystemKind kinds[] = {FileSystemKind::Fat12, FileSystemKind::Fat16, FileSystemKind::Fat32,
                                           FileSystemKind::ExFat};
    const std::string path = hx::fuzz::WriteScratch("fatchain", "medium.img", data + 16, size - 16);
    DriveRecord rec;
    rec.Drive = path;
    rec.FileSystem = kinds[data[0] % 4];
    rec.BytesPerSector = 512;
    rec.SectorsPerCluster = 1u << (data[1] % 8);
    rec.TotalClusters = Le32(data + 2);
    rec.RootCluster = Le32(data + 6);
    rec.FirstDataSector = data[14];
    rec.RootDirStart = rec.FirstDataSector;
    rec.RootDirSectorsMinusOne = data[15] % 8;
    rec.BitmapCluster = Le32(data + 10);
    rec.BitmapLength = Le32(data + 6);
    DecodeFat(rec, std::vector<std::uint8_t>(data + 16, data + size));
    LoadRootDirectory(rec);
    bool isDirectory = false;
    ReadDirectoryChain(path, Le32(data + 10), isDirectory, rec);
    ReadClusterChain(rec, Le32(data + 10), 1 << 20);
    AllocationBitmap bitmap;
    LoadAllocationBitmap(rec, bitmap);
    return 0;
}
