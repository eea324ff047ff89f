#pragma once
// Sector-level access to a drive (device node) or an image file.
// Scattered reads use ReadSectors; streaming readers hold one handle.
// Every call names the sector size of the drive it reads (0 counts as 512).
#include <cstdint>
#include <string>
#include <vector>

#include "platform/RawFile.h"

namespace hx::media {

using Handle = platform::RawFile;

// One self-contained read: opens, positions at `lba`, reads whole sectors
// covering offset+count bytes, closes. The buffer starts at the first byte of
// sector `lba`. Returns empty (bytesRead 0) when count is 0 or the open fails;
// a short read (the medium's end, or a medium that stopped answering)
// returns what was read. Sectors that cannot be read are zeros (SalvagingReader).
std::vector<std::uint8_t> ReadSectors(const std::string& drive, std::int64_t lba, std::uint32_t offset,
                                      std::uint32_t count, std::uint32_t& bytesRead, int bytesPerSector);
std::vector<std::uint8_t> ReadImageSectors(const std::string& imagePath, std::int64_t lba, std::uint32_t offset,
                                           std::uint32_t count, std::uint32_t& bytesRead, int bytesPerSector);

bool OpenDriveForRead(const std::string& drive, std::int64_t lba, Handle& handle, int bytesPerSector);
bool OpenDriveForWrite(const std::string& drive, std::int64_t lba, Handle& handle, int bytesPerSector);
bool OpenFileForRead(const std::string& path, std::int64_t lba, Handle& handle, int bytesPerSector);
// Opens the drive read-only without positioning; check isOpen() (lastError() says why not).
Handle OpenVolume(const std::string& drive);
// The size of the drive in bytes; 0 when it cannot be opened for reading.
std::uint64_t MediumBytes(const std::string& drive);
// Positions at lba x bytes per sector with one 64-bit offset; the 32-bit
// stepping of older systems reaches the same byte. A negative lba means 0.
void SeekSector(Handle& handle, std::int64_t lba, int bytesPerSector);
void CloseDrive(Handle& handle);
// Shortens a file longer than `length`; a shorter file is left alone.
void TruncateFile(const std::string& path, std::uint64_t length);

}  // namespace hx::media
