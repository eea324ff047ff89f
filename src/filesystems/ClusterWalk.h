#pragma once
// The recoverable estimate and the restore of an entry on a volume made of
// numbered clusters (FAT and exFAT): a file in use is read along its chain;
// a deleted one's estimate counts the free clusters from its first on, and
// its restore follows the planner (DeletedRuns).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "filesystems/UndeleteEntry.h"

namespace hx::media {
class FileDamage;
class SalvagedMedium;
}  // namespace hx::media

namespace hx::filesystems {

struct ClusterView {
    std::string drive;
    std::uint64_t bytesPerCluster = 0;
    std::uint32_t sectorBytes = 512;  // the medium's sector: what one failing read loses at least
    std::function<bool(std::uint32_t)> valid;             // a cluster number of the data area
    std::function<bool(std::uint32_t)> inUse;             // allocated now
    std::function<std::uint64_t(std::uint32_t)> offset;   // byte position on the medium
    std::function<std::uint32_t(std::uint32_t)> next;     // next cluster of a chain, 0 at its end
};

// Sets ListSize and Overwritten: an entry in use is whole; a deleted one
// has lost what it cannot find among the free clusters from its first on;
// a deleted one whose first cluster is taken again is overwritten.
void EstimateRecoverable(const ClusterView& view, UndeleteEntry& entry);

// `bytes` of a folder at `offset`, read past bad sectors: the sectors that
// cannot be read are left out, so the folder loses only their entries.
// Empty when the medium ends first or stops answering.
std::vector<std::uint8_t> ReadFolderBytes(media::SalvagedMedium& medium, std::uint64_t offset, std::size_t bytes);

// Reads the clusters of a folder's run from `first` on, along view.next, at
// most `maxBytes`. Stops at the run's end, a cluster outside the volume, a
// cluster read before (a loop) or the medium's end; sectors that cannot be
// read are left out (ReadFolderBytes).
std::vector<std::uint8_t> ReadClusterRun(const ClusterView& view, media::SalvagedMedium& medium, std::uint32_t first,
                                         std::uint64_t maxBytes);

// Whether a live entry's chain runs through consecutive clusters for all of its size.
bool ChainIsOneRun(const ClusterView& view, const UndeleteEntry& entry);

// Writes `size` bytes of `clusters` (in the file's order) from the view's
// medium to `target`. Clusters that follow each other on the medium are
// read at once (a few hundred KB at most), each read past bad sectors
// (zeros in the file, noted in `damage`); a list that ends first gives a
// shorter file. False when the medium ends or stops answering first, or the
// target cannot take the bytes.
bool WriteClusters(const ClusterView& view, const std::vector<std::uint32_t>& clusters, std::uint64_t size,
                   const std::filesystem::path& target, media::FileDamage* damage);

// Writes a file in use (or an empty deleted one) to `target`: its Size bytes
// along its chain. A deleted file's clusters are planned (DeletedRuns).
// Sectors that could not be read (zeros in the file) are noted in `damage`.
bool RestoreClusters(const ClusterView& view, const UndeleteEntry& entry, const std::filesystem::path& target,
                     media::FileDamage* damage = nullptr);

}  // namespace hx::filesystems
