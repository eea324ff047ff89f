#pragma once
// Files that a directory listing of the medium names (deleted or not), by
// where their data starts: the scan gives a found file the listed name and size when it starts where a
// listed file starts.
#include <cstdint>
#include <string>
#include <vector>

namespace hx::media {

struct ListedName {
    std::string name;
    std::uint64_t firstCluster = 0;
    std::uint64_t size = 0;
};

using ListedNames = std::vector<ListedName>;

}  // namespace hx::media

namespace hx::scan {
// The scan's name for them.
using media::ListedName;
using media::ListedNames;
}  // namespace hx::scan
