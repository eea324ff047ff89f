#pragma once
// One file listed by the quick undelete (FAT, exFAT or NTFS), and the date
// conversions the listings need.
#include <cstdint>
#include <string>
#include <vector>

namespace hx::undelete {

constexpr std::uint32_t kAttrReadOnly = 1;
constexpr std::uint32_t kAttrHidden = 2;
constexpr std::uint32_t kAttrSystem = 4;
constexpr std::uint32_t kAttrVolume = 8;
constexpr std::uint32_t kAttrDirectory = 16;
constexpr std::uint32_t kAttrArchive = 32;

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

    bool isDeleted() const { return !FileName.empty() && FileName[0] == '?'; }
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

}  // namespace hx::undelete
