#pragma once
// Walks the medium's directory listing alongside the scan: the next listed
// file of a scanned type that starts at or after the scan's position, with
// the name it may give the found file there.
#include <cstdint>
#include <filesystem>
#include <string>

#include "media/ListedNames.h"
#include "scan/ScanGeometry.h"

namespace hx::scan {

struct ListedFile {
    std::uint64_t unit = UINT64_MAX;  // UINT64_MAX: none ahead
    std::string name;                 // empty when the name cannot be used in the cache folder
    std::uint64_t size = 0;
};

class ListingCursor {
public:
    // Sorts `listing` as the scan meets it: by name on NTFS, by first cluster
    // elsewhere. Its clusters are found at the units `geo` gives them.
    ListingCursor(ListedNames& listing, bool sortByName, std::string tableExtensions,
                  std::filesystem::path cacheFolder, const ScanGeometry& geo);

    // Moves to the next usable listed file that starts at `from` or later,
    // and no further than a little past `endUnit`.
    void advance(std::uint64_t from, std::uint64_t endUnit);
    const ListedFile& next() const { return next_; }

private:
    ListedNames& listing_;
    std::string extensions_;
    std::filesystem::path cache_;
    ScanGeometry geo_;
    std::size_t cursor_ = 0;
    ListedFile next_;
};

}  // namespace hx::scan
