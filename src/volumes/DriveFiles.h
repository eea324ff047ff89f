#pragma once
// Drives as the program names them: a device or image file, or one partition
// of it. "card.img#2" is partition 2 of card.img: N is the MBR slot 1-4, 5
// and up for the logical partitions in chain order, or the GPT entry's
// position + 1 (the numbers Linux gives sdb1, sdb5...). Such a drive opens as
// a window on its medium: every reader sees only the partition's bytes, from
// its first sector. The whole medium stays a drive of its own, so a carving
// scan can still cover everything.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/DriveCatalogue.h"
#include "platform/RawFile.h"

namespace hx::volumes {

// Opens a drive by its id. A partition id ("card.img#1": no such file, but
// card.img holds a partition table with entry 1) opens the medium with the
// partition's window applied; lastError() is then ENOENT when there is no
// such partition, ENXIO when it starts beyond the medium's end.
bool OpenDrive(platform::RawFile& file, const std::filesystem::path& id, platform::RawFile::Mode mode);

// All drives: the catalogue's devices and images, each attached image
// followed by its partitions.
std::vector<platform::DriveEntry> EnumerateDrives();
// Finds one drive by id as the catalogue does, and resolves "IMAGE#N" (or
// "DEVICE#N") to partition N of it.
bool FindDrive(const std::string& id, platform::DriveEntry& out);
// The partition drives of one medium (image or device), empty when it holds no table.
std::vector<platform::DriveEntry> PartitionDrives(const platform::DriveEntry& medium);

}  // namespace hx::volumes
