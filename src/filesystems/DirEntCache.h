#pragma once
// "DirEnt.dat": a long undelete list kept per drive, with two values of the
// medium in its header so that a cache of another medium or format is dropped.
// The entry encoding is also the one of an image's companion file.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "filesystems/UndeleteEntry.h"

namespace hx::filesystems {

// Lists with more entries than this are cached.
constexpr std::size_t kDirEntCacheThreshold = 2000;
// A cache with fewer entries is not used.
constexpr std::size_t kDirEntCacheMinimum = 5;

struct MediumValues {
    std::uint32_t a = 0;  // volume serial number
    std::uint32_t b = 0;  // volume size in sectors (low 32 bits)
};

// One entry, field by field: three strings (16-bit length + bytes), then
// record number, three dates, first cluster, size, list size, attributes
// (32-bit each, dates 8-byte doubles) and the 16-bit overwritten flag.
// Whether the entry's sizes fit the 32-bit fields of the encoding.
inline bool FitsUndeleteEncoding(const UndeleteEntry& e) { return e.Size <= 0xFFFFFFFFu && e.ListSize <= 0xFFFFFFFFu; }
void EncodeUndeleteEntry(const UndeleteEntry& e, std::vector<std::uint8_t>& out);
// Decodes one entry at `pos`; fields past the end read as empty. False when
// nothing was left to read.
bool DecodeUndeleteEntry(const std::uint8_t* data, std::size_t size, std::size_t& pos, UndeleteEntry& e);

// The cache file of a drive in the working folder: the drive id made into a
// file name, then "DirEnt.dat".
std::filesystem::path DirEntCachePath(const std::filesystem::path& workFolder, const std::string& drive);

bool WriteDirEntCache(const std::filesystem::path& file, const std::vector<UndeleteEntry>& entries,
                      const MediumValues& medium);
// Reads the cache when its header matches `medium` and it holds at least
// kDirEntCacheMinimum entries; otherwise deletes the file and returns false.
bool ReadDirEntCache(const std::filesystem::path& file, const MediumValues& medium,
                     std::vector<UndeleteEntry>& entries);

// One listing of a volume and its cache file: a large listing is kept in the
// working folder, to be read again when the same medium is listed next.
class CachedListing {
public:
    // The cached entries of `drive` when there are some for this medium.
    bool read(const std::filesystem::path& workFolder, const std::string& drive, const MediumValues& medium,
              std::vector<UndeleteEntry>& entries);
    // Keeps a listing that was not read from the cache, when worth keeping.
    void write(const std::vector<UndeleteEntry>& entries, const MediumValues& medium, bool worthKeeping) const;
    bool fromCache() const { return fromCache_; }

private:
    std::filesystem::path file_;
    bool fromCache_ = false;
};

}  // namespace hx::filesystems
