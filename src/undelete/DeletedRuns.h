#pragma once
// Where the bytes of deleted files lie on a volume of numbered clusters (FAT,
// exFAT). Their chains were freed, so each file's clusters are rebuilt from
// what is known: its first cluster and size, the clusters live files hold,
// and the runs that other deleted files claim from their own first clusters.
// A file whose clusters are not one plain run, or whose first cluster another
// deleted file starts at too, is checked by its own structure where it has
// one (a JPEG decodes cleanly to its end). Such proofs come first: what a
// proven file holds is no one else's, and a file whose first cluster it holds
// was overwritten. The claims of the rest place them; one that cannot be
// confirmed is marked partial and is never handed out as whole.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>

#include "filesystems/ClusterWalk.h"
#include "filesystems/UndeleteEntry.h"

namespace hx::undelete {

using ClusterList = std::vector<std::uint32_t>;

// Plans every deleted file of `entries` whose first cluster is still free,
// keyed by the entry's index. Sets each planned entry's ListSize and its
// kAttrRebuilt, kAttrConfirmed and kAttrPartial marks. `contiguous(entry)`
// tells a file whose clusters are known to follow each other (exFAT's
// NoFatChain): it is not rebuilt, only checked against the live clusters.
// With `checkSeconds` above 0 the content checks stop once that time has
// passed: the files not yet planned keep their plain runs (those in doubt are
// partial), and `checksCut` is set.
std::map<std::size_t, ClusterList> PlanDeletedFiles(const filesystems::ClusterView& view, std::vector<filesystems::UndeleteEntry>& entries,
                                                    const std::function<bool(const filesystems::UndeleteEntry&)>& contiguous = {},
                                                    double checkSeconds = 0, bool* checksCut = nullptr);

// Reads `clusters` in order and keeps the first `size` bytes; it stops at the
// first cluster that cannot be read whole, and keeps what was read before it.
std::vector<std::uint8_t> ReadClusterList(const filesystems::ClusterView& view, const ClusterList& clusters, std::uint64_t size);

// Writes the first `size` bytes of `clusters` (all of them when they hold
// less) to `target`; false on a short read or write. Sectors that could not
// be read (zeros in the file) are noted in `damage`.
bool WriteClusterList(const filesystems::ClusterView& view, const ClusterList& clusters, std::uint64_t size,
                      const std::filesystem::path& target, media::FileDamage* damage = nullptr);

}  // namespace hx::undelete
