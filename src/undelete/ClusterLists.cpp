#include "undelete/ClusterLists.h"

#include <fstream>

#include "media/FileDamage.h"
#include "media/SalvagingReader.h"
#include "platform/RawFile.h"
#include "volumes/DriveFiles.h"

namespace hx::undelete {

std::vector<std::uint8_t> ReadClusterList(const filesystems::ClusterView& view, const ClusterList& clusters, std::uint64_t size) {
    std::vector<std::uint8_t> out;
    platform::RawFile file;
    const std::uint64_t bpc = view.bytesPerCluster;
    if (bpc == 0 || !volumes::OpenDrive(file, view.drive, platform::RawFile::Mode::Read)) return out;
    // The clusters that follow each other on the medium are read at once; a
    // run that cannot be read whole is read cluster by cluster, to the first
    // that fails.
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
        if (file.readAt(start, out.data() + got, bytes) != bytes) {
            std::size_t k = 0;
            while (k < run && file.readAt(view.offset(clusters[i + k]), out.data() + got, bpc) == bpc) {
                got += bpc;
                ++k;
            }
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
