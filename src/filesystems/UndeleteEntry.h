#pragma once
// One file listed by the quick undelete (FAT, exFAT or NTFS), and the date
// conversions the listings need.
#include <cstdint>
#include <string>
#include <vector>

namespace hx::filesystems {

constexpr std::uint32_t kAttrReadOnly = 1;
constexpr std::uint32_t kAttrHidden = 2;
constexpr std::uint32_t kAttrSystem = 4;
constexpr std::uint32_t kAttrVolume = 8;
constexpr std::uint32_t kAttrDirectory = 16;
constexpr std::uint32_t kAttrArchive = 32;
// Our own marks, above the file system's attribute byte (they travel with the
// entry in the list files).
constexpr std::uint32_t kAttrInDeletedFolder = 0x20000;  // inside a deleted folder, at any depth
constexpr std::uint32_t kAttrRebuilt = 0x40000;          // deleted, its clusters were not consecutive
constexpr std::uint32_t kAttrConfirmed = 0x80000;        // its own structure says the bytes are its own
constexpr std::uint32_t kAttrPartial = 0x100000;         // the bytes could not be shown to be its own
constexpr std::uint32_t kAttrLive = 0x200000;            // NTFS: a file in use, listed to be copied
constexpr std::uint32_t kAttrNameGuessed = 0x400000;     // FAT: a lost first letter of its name or folder was rebuilt
// Deleted, rebuilt from the clusters the files around it leave it, with
// nothing in it to check them by (always partial too).
constexpr std::uint32_t kAttrUnverified = 0x800000;

struct UndeleteEntry {
    std::string FileName;    // FAT: 8.3 name ("?" for a deleted one); NTFS/exFAT: the name, lower case on NTFS
    std::string ListName;    // the long name when there is one
    std::string FolderPath;  // folder of the file on the volume
    std::uint32_t RecordNumber = 0;  // NTFS: MFT record
    double Created = 0;
    double Accessed = 0;
    double Modified = 0;
    std::uint32_t FirstCluster = 0;  // NTFS resident data: the value length
    std::uint64_t Size = 0;      // bytes; NTFS and exFAT files pass 4 GiB
    std::uint64_t ListSize = 0;  // recoverable bytes
    std::uint32_t Attributes = 0;
    std::int16_t Overwritten = 0;
    // NTFS data kept inside the record (FirstCluster is then a length). Not stored in files.
    bool ResidentData = false;

    // Deleted itself, or listed inside a deleted folder: its entry may look
    // live, but its clusters were freed with the folder.
    bool isDeleted() const {
        return (!FileName.empty() && FileName[0] == '?') || (Attributes & kAttrInDeletedFolder) != 0;
    }
    bool isPartial() const { return (Attributes & kAttrPartial) != 0; }
    bool isFolder() const { return (Attributes & kAttrDirectory) != 0; }
};

// Day counts since 30 December 1899, as VB's DateSerial/TimeSerial count them:
// a month or day of 0 rolls back (the FAT date 0 gives 30 November 1979).
double DateSerial(int year, int month, int day);
double TimeSerial(int hours, int minutes, int seconds);
int YearOf(double date);
// FAT/exFAT date and time words.
double FatDateTime(std::uint16_t date, std::uint16_t time);
// A FILETIME (100 ns since 1601, UTC) as local time.
double FileTimeToLocalDate(std::uint64_t fileTime);
// "2019-08-14 10:22:05" for lists and the command line.
std::string FormatDate(double date);
// 1234567 -> "1,234,567".
std::string GroupThousands(std::uint64_t n);
// Lower case of the ASCII letters; other bytes stay.
std::string LowerAscii(std::string s);

}  // namespace hx::filesystems
