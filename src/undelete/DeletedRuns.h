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
#include "undelete/ClusterLists.h"

namespace hx::undelete {

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

}  // namespace hx::undelete
