#pragma once
// A deleted file's bytes by the list of its clusters, in order.
#include <cstdint>
#include <filesystem>
#include <vector>

#include "filesystems/ClusterWalk.h"

namespace hx::media {
class FileDamage;
}

namespace hx::undelete {

using ClusterList = std::vector<std::uint32_t>;

// Reads `clusters` in order and keeps the first `size` bytes; it stops at the
// first cluster that cannot be read whole, and keeps what was read before it.
std::vector<std::uint8_t> ReadClusterList(const filesystems::ClusterView& view, const ClusterList& clusters, std::uint64_t size);

// Writes the first `size` bytes of `clusters` (all of them when they hold
// less) to `target`; false on a short read or write. Sectors that could not
// be read (zeros in the file) are noted in `damage`.
bool WriteClusterList(const filesystems::ClusterView& view, const ClusterList& clusters, std::uint64_t size,
                      const std::filesystem::path& target, media::FileDamage* damage = nullptr);

}  // namespace hx::undelete
