#pragma once
// The file systems Harvestrix reads, one row each, tried in turn. A row
// recognises its boot sector and reads the volume's geometry from it, loads
// for a drive the tables that say what the volume holds, opens the volume for
// the undelete and names the command that formats it. A new file system is a
// folder of its own with its boot-sector reader and undelete volume, and a
// row of FileSystemTypes().
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/DriveRecord.h"

namespace hx::filesystems {

using media::DriveRecord;
class UndeleteVolume;

struct FileSystemType {
    const char* name;
    // Sector 0 (512 bytes) is this file system's.
    bool (*recognises)(const std::uint8_t* sector);
    // The file system's fields of sector 0 into `rec`; the fields every boot
    // sector shares (bytes per sector, sectors per cluster, ...) are there
    // already. May leave FileSystem None when the sector contradicts itself.
    void (*parse)(const std::uint8_t* sector, DriveRecord& rec);
    // For a drive: its allocation tables, root directory and label. May be null.
    void (*loadTables)(DriveRecord& rec);
    // The catalogue found this file system on the drive.
    bool (*catalogued)(const DriveRecord& rec);
    // Sector 0 holds a volume of it whose geometry can be used, for a drive
    // the catalogue could not name.
    bool (*usable)(const std::uint8_t* sector, std::size_t size);
    // The volume as the undelete reads it.
    std::unique_ptr<UndeleteVolume> (*openUndelete)(const std::string& drive, const DriveRecord& rec);
    // The system's command that makes the volume anew on the drive, under
    // `label` (none when empty). Null for one the program does not format.
    std::vector<std::string> (*formatCommand)(const DriveRecord& rec, const std::string& label);
    // Which of the first `units` clusters of a catalogued drive are in use
    // (SmartScan, the free space); false when what says so cannot be read.
    bool (*clustersInUse)(DriveRecord& rec, std::uint64_t units, std::vector<bool>& used);
    // The label the volume keeps for itself, read over the one the system
    // gave it, where the system may not know it. May be null.
    void (*ownLabel)(DriveRecord& rec);
    // Its folders are read in moments, so that a scan lists them itself
    // when the quick undelete has not (an MFT may take long to read).
    bool listsQuickly;
    // The scan meets its listed files in name order rather than by first
    // cluster.
    bool listedByName;
};

// In the order they are tried.
const std::vector<FileSystemType>& FileSystemTypes();
// The row of the file system the catalogue found on the drive; null for none.
const FileSystemType* CataloguedType(const DriveRecord& rec);

// Each file system's row, in its own folder.
FileSystemType FatFileSystem();
FileSystemType ExfatFileSystem();
FileSystemType NtfsFileSystem();

// Shared by the readers: a text field of the sector, trimmed of blanks and NULs.
std::string BootText(const std::uint8_t* sector, std::size_t offset, std::size_t length);
std::string Trimmed(std::string s);
bool IsPowerOfTwo(std::uint64_t v);
// A bitmap of one bit per cluster (bit 0 of byte 0 the first) as flags for
// `units` clusters; those past its end count as in use.
std::vector<bool> UsedFromBits(const std::vector<std::uint8_t>& bits, std::uint64_t units);
std::uint32_t ClampTo32(std::uint64_t v);

}  // namespace hx::filesystems
