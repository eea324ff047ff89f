#include "filesystems/ClusterWalk.h"
#include "media/FileDamage.h"
#include "media/SalvagedMedium.h"

#include <algorithm>
#include <fstream>
#include <set>

namespace hx::filesystems {

std::vector<std::uint8_t> ReadFolderBytes(media::SalvagedMedium& medium, std::uint64_t offset, std::size_t bytes) {
    const std::uint64_t kSector = medium.damage().sectorBytes();
    std::vector<std::uint8_t> data(bytes);
    // Cut short by the medium's end (or a medium that stopped answering): nothing, as before.
    if (medium.readAt(offset, data.data(), data.size()) < bytes) return {};
    // The sectors of these bytes the reader could not read (it lists those
    // of earlier reads too), from the last, so that what is left out does
    // not move what is still to be.
    const auto& bad = medium.damage().unreadable();
    const std::uint64_t end = offset + bytes;
    for (auto run = std::make_reverse_iterator(bad.lower_bound((end + kSector - 1) / kSector)); run != bad.rend(); ++run) {
        const std::uint64_t from = run->first * kSector, to = (run->first + run->second) * kSector;
        if (to <= offset) break;
        const std::uint64_t lo = std::max(from, offset) - offset, hi = std::min(to, end) - offset;
        data.erase(data.begin() + static_cast<std::ptrdiff_t>(lo), data.begin() + static_cast<std::ptrdiff_t>(hi));
    }
    return data;
}

std::vector<std::uint8_t> ReadClusterRun(const ClusterView& v, media::SalvagedMedium& medium, std::uint32_t first,
                                         std::uint64_t maxBytes) {
    std::vector<std::uint8_t> out;
    const std::uint64_t bpc = v.bytesPerCluster;
    if (bpc == 0) return out;
    std::set<std::uint32_t> seen;
    std::uint32_t c = first;
    // Every turn adds a whole cluster, so maxBytes bounds the walk.
    while (out.size() < maxBytes && v.valid(c) && seen.insert(c).second) {
        const auto cluster = ReadFolderBytes(medium, v.offset(c), static_cast<std::size_t>(bpc));
        out.insert(out.end(), cluster.begin(), cluster.end());
        if (cluster.empty()) break;  // the medium ends, or no longer answers
        c = v.next(c);
    }
    if (out.size() > maxBytes) out.resize(static_cast<std::size_t>(maxBytes));
    return out;
}

void EstimateRecoverable(const ClusterView& v, UndeleteEntry& e) {
    e.Overwritten = 0;
    if (!e.isDeleted() && !e.isFolder()) {
        e.ListSize = e.Size;
        return;
    }
    if (e.Size == 0) {
        e.ListSize = e.isFolder() ? 0 : 1;
        return;
    }
    if (!v.valid(e.FirstCluster) || v.inUse(e.FirstCluster)) {
        e.Overwritten = v.valid(e.FirstCluster) ? 1 : 0;
        e.ListSize = 0;
        return;
    }
    const std::uint64_t bpc = v.bytesPerCluster;
    const std::uint64_t need = (std::uint64_t(e.Size) + bpc - 1) / bpc;
    std::uint64_t freeCount = 0;
    for (std::uint32_t c = e.FirstCluster; v.valid(c) && freeCount < need; ++c)
        if (!v.inUse(c)) ++freeCount;
    e.ListSize = std::min<std::uint64_t>(e.Size, freeCount * bpc);
}

bool ChainIsOneRun(const ClusterView& v, const UndeleteEntry& e) {
    if (v.bytesPerCluster == 0 || !v.valid(e.FirstCluster)) return false;
    const std::uint64_t need = (e.Size + v.bytesPerCluster - 1) / v.bytesPerCluster;
    std::uint32_t c = e.FirstCluster;
    for (std::uint64_t k = 1; k < need; ++k) {
        const std::uint32_t n = v.next(c);
        if (n != c + 1) return false;
        c = n;
    }
    return true;
}

bool WriteClusters(const ClusterView& v, const std::vector<std::uint32_t>& clusters, std::uint64_t size,
                   const std::filesystem::path& target, media::FileDamage* damage) {
    constexpr std::uint64_t kMostAtOnce = 256 * 1024;
    const std::uint64_t bpc = v.bytesPerCluster;
    if (bpc == 0) return false;
    // A sector that cannot be read is zeros in the restored file, not the end of it.
    media::SalvagedDrive medium;
    if (!medium.open(v.drive, v.sectorBytes)) return false;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    const std::size_t most = static_cast<std::size_t>(std::max<std::uint64_t>(1, kMostAtOnce / bpc));
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(most * bpc));
    std::uint64_t done = 0;
    for (std::size_t i = 0; i < clusters.size() && done < size;) {
        // The clusters from i on that follow each other on the medium.
        const std::uint64_t at = v.offset(clusters[i]);
        std::size_t run = 1;
        while (run < most && i + run < clusters.size() && done + run * bpc < size &&
               v.offset(clusters[i + run]) == at + run * bpc)
            ++run;
        const auto bytes = static_cast<std::size_t>(run * bpc);
        if (medium->readAt(at, buf.data(), bytes) != bytes) return false;
        const std::uint64_t n = std::min<std::uint64_t>(size - done, bytes);
        if (damage) damage->note(medium->damage(), at, n, done);
        out.write(reinterpret_cast<const char*>(buf.data()), static_cast<std::streamsize>(n));
        done += n;
        i += run;
    }
    out.close();
    return out.good();
}

bool RestoreClusters(const ClusterView& v, const UndeleteEntry& e, const std::filesystem::path& target,
                     media::FileDamage* damage) {
    // A deleted file's chain was freed: where its clusters lie is the planner's to say.
    if (e.isFolder() || v.bytesPerCluster == 0 || (e.isDeleted() && e.Size > 0)) return false;
    // Its chain, as far as its size reaches; one that loops or leaves the volume is no file.
    std::vector<std::uint32_t> chain;
    std::set<std::uint32_t> seen;
    std::uint32_t c = e.FirstCluster;
    for (std::uint64_t left = e.Size; left > 0; left -= std::min<std::uint64_t>(left, v.bytesPerCluster)) {
        if (!v.valid(c) || !seen.insert(c).second) return false;
        chain.push_back(c);
        c = v.next(c);
        if (c == 0 && left > v.bytesPerCluster) return false;
    }
    return WriteClusters(v, chain, e.Size, target, damage);
}

}  // namespace hx::filesystems
