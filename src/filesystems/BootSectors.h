#pragma once
// The boot sectors the catalogue knows, one reader per file system, tried in
// turn: the first that recognises sector 0 reads the volume's geometry from
// it, and, for a drive, the tables that say what the volume holds. A new file
// system is a reader in its own folder and a row of BootSectorReaders().
#include <cstdint>
#include <string>
#include <vector>

#include "media/DriveRecord.h"

namespace hx::filesystems {

using media::DriveRecord;

struct BootSectorReader {
    const char* name;
    // Sector 0 (512 bytes) is this file system's.
    bool (*recognises)(const std::uint8_t* sector);
    // The file system's fields of sector 0 into `rec`; the fields every boot
    // sector shares (bytes per sector, sectors per cluster, ...) are there
    // already. May leave FileSystem None when the sector contradicts itself.
    void (*parse)(const std::uint8_t* sector, DriveRecord& rec);
    // For a drive: its allocation tables, root directory and label. May be null.
    void (*loadTables)(DriveRecord& rec);
};

// In the order they are tried.
const std::vector<BootSectorReader>& BootSectorReaders();

// Each file system's reader, in its own folder.
BootSectorReader FatBootSector();
BootSectorReader ExfatBootSector();
BootSectorReader NtfsBootSector();

// Shared by the readers: a text field of the sector, trimmed of blanks and NULs.
std::string BootText(const std::uint8_t* sector, std::size_t offset, std::size_t length);
std::string Trimmed(std::string s);
bool IsPowerOfTwo(std::uint64_t v);
std::uint32_t ClampTo32(std::uint64_t v);

}  // namespace hx::filesystems
