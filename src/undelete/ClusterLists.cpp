#include "undelete/ClusterLists.h"

#include <fstream>

#include "media/FileDamage.h"
#include "media/SalvagedMedium.h"

namespace hx::undelete {

std::vector<std::uint8_t> ReadClusterList(const filesystems::ClusterView& view, const ClusterList& clusters, std::uint64_t size) {
    std::vector<std::uint8_t> out;
    media::SalvagedDrive medium;
    const std::uint64_t bpc = view.bytesPerCluster;
    if (bpc == 0 || !medium.open(view.drive, view.sectorBytes)) return out;
    // The clusters that follow each other on the medium are read at once;
    // what is kept ends before the first cluster with a sector that could not be read.
    const std::uint64_t wanted = std::min<std::uint64_t>(size, clusters.size() * bpc);
    out.resize(static_cast<std::size_t>((wanted + bpc - 1) / bpc * bpc));
    std::size_t got = 0;
    for (std::size_t i = 0; i < clusters.size() && got < wanted;) {
        std::size_t run = 1;
        const std::uint64_t start = view.offset(clusters[i]);
        while (i + run < clusters.size() && got + run * bpc < wanted && clusters[i + run] == clusters[i] + run &&
               view.offset(clusters[i + run]) == start + run * bpc)
            ++run;
        const std::size_t bytes = static_cast<std::size_t>(run * bpc);
        const std::size_t n = medium->readAt(start, out.data() + got, bytes);
        const std::uint64_t bad = medium->damage().firstUnreadableIn(start, n);
        if (n != bytes || bad != ~0ull) {
            const std::uint64_t badAt = bad == ~0ull ? ~0ull : bad * medium->damage().sectorBytes();
            const std::uint64_t good = std::min<std::uint64_t>(n, badAt > start ? badAt - start : 0);
            got += static_cast<std::size_t>(good / bpc * bpc);
            break;
        }
        got += bytes;
        i += run;
    }
    out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(got, size)));
    return out;
}

bool WriteClusterList(const filesystems::ClusterView& view, const ClusterList& clusters, std::uint64_t size,
                      const std::filesystem::path& target, media::FileDamage* damage) {
    return filesystems::WriteClusters(view, clusters, size, target, damage);
}

}  // namespace hx::undelete
