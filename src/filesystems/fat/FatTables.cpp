#include "filesystems/fat/FatTables.h"

#include <algorithm>
#include <cstring>

#include "filesystems/FileSystemTypes.h"
#include "media/SalvagingReader.h"
#include "media/SectorIo.h"
#include "platform/ByteOrder.h"

namespace hx::filesystems {

using media::DirEntry;
using media::FileSystemKind;
using platform::Le16;
using platform::Le32;

namespace {

// A FAT directory holds at most 65536 entries; exFAT allows 256 MiB.
constexpr std::uint64_t kMaxFatDirectoryBytes = 65536ull * 32;
constexpr std::uint64_t kMaxExFatDirectoryBytes = 256ull << 20;

void appendEntries(DriveRecord& rec, const std::vector<std::uint8_t>& data) {
    for (std::size_t off = 0; off + 32 <= data.size(); off += 32) {
        DirEntry e;
        std::memcpy(e.data(), data.data() + off, 32);
        rec.RootDirEntries.push_back(e);
    }
}

std::vector<std::uint8_t> readChain(DriveRecord& rec, const std::string& source, std::uint32_t first,
                                    std::uint64_t maxBytes, std::vector<std::uint8_t>* unread = nullptr) {
    std::vector<std::uint8_t> out;
    const std::uint64_t cluster = rec.clusterBytes();
    if (cluster == 0 || IsChainEnd(rec, first)) return out;
    const std::uint32_t last = LastCluster(rec);
    // A chain only goes on through table entries, so the table bounds it.
    const AllocationTable* table = TableOf(rec);
    const std::size_t tableEntries = table ? table->entries.size() : 0;
    std::vector<bool> seen(std::min<std::size_t>(last, tableEntries) + 1);
    std::uint32_t c = first;
    while (out.size() < maxBytes) {
        if (c < seen.size()) {
            if (seen[c]) break;  // a loop in the chain
            seen[c] = true;
        }
        media::SectorRuns failed;
        const std::int64_t at = ClusterToSector(rec, c);
        auto data = ReadCapped(rec, source, at, cluster, unread ? &failed : nullptr);
        if (data.empty()) break;
        if (unread) {
            unread->resize(out.size() + data.size(), 0);
            for (const auto& [sector, count] : failed) {
                const std::uint64_t from = out.size() + (sector - static_cast<std::uint64_t>(at)) * rec.sectorSize();
                const std::uint64_t to = std::min<std::uint64_t>(from + count * rec.sectorSize(), unread->size());
                std::fill(unread->begin() + static_cast<std::ptrdiff_t>(from), unread->begin() + static_cast<std::ptrdiff_t>(to), 1);
            }
        }
        out.insert(out.end(), data.begin(), data.end());
        if (data.size() < cluster) break;
        const std::uint32_t next = FatEntry(rec, c);
        if (next == c || IsChainEnd(rec, next)) break;
        c = next;
    }
    if (out.size() > maxBytes) out.resize(static_cast<std::size_t>(maxBytes));
    if (unread) unread->resize(out.size(), 0);
    return out;
}

std::int64_t readChainInto(DriveRecord& rec, const std::string& source, std::uint32_t first, bool& isDirectory) {
    const std::uint64_t cluster = rec.clusterBytes();
    if (cluster == 0 || first < 2 || first > LastCluster(rec)) return -1;
    if (!isDirectory) {
        auto head = ReadCapped(rec, source, ClusterToSector(rec, first), std::min<std::uint64_t>(cluster, 64));
        if (head.size() < 64 || head[0] != '.' || head[1] != ' ' || head[32] != '.' || head[33] != '.') return -1;
        isDirectory = true;
    }
    const std::uint64_t cap = rec.isExFat() ? kMaxExFatDirectoryBytes : kMaxFatDirectoryBytes;
    auto data = readChain(rec, source, first, cap);
    const std::size_t before = rec.RootDirEntries.size();
    appendEntries(rec, data);
    const std::uint64_t bytes = (rec.RootDirEntries.size() - before) * 32ull;
    return static_cast<std::int64_t>(bytes / rec.sectorSize()) - 1;
}

}  // namespace

std::vector<std::uint8_t> ReadCapped(DriveRecord& rec, const std::string& source, std::int64_t lba,
                                     std::uint64_t bytes, media::SectorRuns* unreadable) {
    const int bps = rec.sectorSize();
    if (lba < 0 || bytes == 0) return {};
    const std::uint64_t start = static_cast<std::uint64_t>(lba) * bps;
    std::uint64_t want = bytes;
    if (rec.MediaBytes > 0) {
        if (start >= rec.MediaBytes) {
            ++rec.ShortReads;
            return {};
        }
        if (want > rec.MediaBytes - start) want = rec.MediaBytes - start;
    } else {
        want = std::min<std::uint64_t>(want, 256ull << 20);  // size unknown: no table or directory is larger
    }
    if (want > 0xFFFFFFFFull - bps) want = 0xFFFFFFFFull - bps;
    // A sector that cannot be read is zeros here: a table or folder loses
    // only what that sector held.
    auto data = media::ReadSectorsSalvaging(source, static_cast<std::uint64_t>(lba), want,
                                            static_cast<std::uint32_t>(bps), unreadable);
    if (data.size() < bytes) ++rec.ShortReads;
    return data;
}

const AllocationTable* TableOf(const DriveRecord& rec) {
    return dynamic_cast<const AllocationTable*>(rec.Opened.get());
}

bool LoadFatTable(DriveRecord& rec) {
    rec.Opened.reset();
    if (rec.SectorsPerFAT == 0 || rec.FATEntryBytes <= 0) return false;
    const int bps = rec.sectorSize();
    // Only the part of the table that the cluster count needs is read: a
    // boot sector that claims a huge FAT cannot make us allocate it.
    // Entries are 1.5, 2 or 4 bytes: counted in half bytes, exactly.
    const std::uint64_t halfBytesPerEntry = static_cast<std::uint64_t>(rec.FATEntryBytes * 2);
    const std::uint64_t needed = ((rec.TotalClusters + 2) * halfBytesPerEntry + 1) / 2;
    std::uint64_t bytes = static_cast<std::uint64_t>(rec.SectorsPerFAT) * bps;
    if (needed < bytes) bytes = (needed + bps) / bps * bps;
    media::SectorRuns unreadable, lost;
    auto table = ReadCapped(rec, rec.Drive, rec.ReservedSectors, bytes, &unreadable);
    // What the first copy cannot give, the second may: sector by sector.
    // What neither gives is lost (its sectors counted from the table's start).
    const std::uint64_t second = static_cast<std::uint64_t>(rec.ReservedSectors) + rec.SectorsPerFAT;
    auto lose = [&lost](const media::SectorRuns& runs, std::uint64_t first) {
        for (const auto& [sector, count] : runs)
            if (sector >= first) lost[sector - first] = std::max(lost[sector - first], count);
    };
    if (table.empty() && rec.NumberOfFATs > 1) {
        media::SectorRuns spareLost;
        table = ReadCapped(rec, rec.Drive, static_cast<std::int64_t>(second), bytes, &spareLost);
        lose(spareLost, second);
    } else if (rec.NumberOfFATs > 1) {
        for (const auto& [sector, count] : unreadable) {
            const std::uint64_t at = (sector - rec.ReservedSectors) * bps;
            if (sector < rec.ReservedSectors || at >= table.size()) continue;
            media::SectorRuns spareLost;
            const auto spare = ReadCapped(rec, rec.Drive, static_cast<std::int64_t>(second + at / bps), count * bps,
                                          &spareLost);
            std::copy_n(spare.begin(), std::min<std::size_t>(spare.size(), table.size() - at),
                        table.begin() + static_cast<std::ptrdiff_t>(at));
            lose(spareLost, second);
        }
    } else {
        lose(unreadable, rec.ReservedSectors);
    }
    if (table.empty()) return false;
    DecodeFat(rec, table, lost);
    return true;
}

namespace {

// The entries any of whose half bytes lie in `lost` (sectors counted from
// the table's start that no copy could give) become the bad-cluster mark of
// the table's width: never free, and no chain goes on through them.
void markUnknown(const DriveRecord& rec, const media::SectorRuns& lost, AllocationTable& table) {
    auto& entries = table.entries;
    const std::uint32_t unknown = rec.isExFat()                             ? 0xFFFFFFF7u
                                  : rec.FileSystem == FileSystemKind::Fat12 ? 0xFF7u
                                  : rec.FileSystem == FileSystemKind::Fat16 ? 0xFFF7u
                                                                            : 0x0FFFFFF7u;
    const std::uint64_t halfBytes = static_cast<std::uint64_t>(rec.FATEntryBytes * 2);  // of one entry
    const std::uint64_t bps = static_cast<std::uint64_t>(rec.sectorSize());
    if (halfBytes == 0) return;
    for (const auto& [sector, count] : lost) {
        // The entries any of whose half bytes lie in these sectors.
        const std::uint64_t from = sector * bps * 2 / halfBytes;
        const std::uint64_t to = std::min<std::uint64_t>(((sector + count) * bps * 2 + halfBytes - 1) / halfBytes, entries.size());
        for (std::uint64_t i = from; i < to; ++i) {
            if (i < 2) continue;  // the two reserved entries
            entries[i] = unknown;
            ++table.unknownEntries;
        }
    }
}

}  // namespace

void DecodeFat(DriveRecord& rec, const std::vector<std::uint8_t>& f, const media::SectorRuns& lost) {
    auto table = std::make_shared<AllocationTable>();
    auto& out = table->entries;
    if (rec.FileSystem == FileSystemKind::Fat32 || rec.isExFat()) {
        const std::uint32_t mask = rec.isExFat() ? 0xFFFFFFFFu : 0x0FFFFFFFu;
        out.resize(f.size() / 4);
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = Le32(f.data() + 4 * i) & mask;
    } else if (rec.FileSystem == FileSystemKind::Fat16) {
        out.resize(f.size() / 2);
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = Le16(f.data() + 2 * i);
    } else if (rec.FileSystem == FileSystemKind::Fat12) {
        out.reserve(f.size() * 2 / 3 + 1);
        for (std::size_t i = 0; i + 3 <= f.size(); i += 3) {
            const std::uint32_t v = f[i] | (f[i + 1] << 8) | (f[i + 2] << 16);
            out.push_back(v & 0xFFF);
            out.push_back(v >> 12);
        }
        // A table that ends two bytes into a triple still holds its first entry.
        if (f.size() % 3 == 2) out.push_back(Le16(f.data() + f.size() - 2) & 0xFFF);
    }
    markUnknown(rec, lost, *table);
    rec.Opened = std::move(table);
}

std::uint32_t LastCluster(const DriveRecord& rec) {
    if (rec.TotalClusters == 0) return 1;
    return ClampTo32(static_cast<std::uint64_t>(rec.TotalClusters) + 1);
}

std::int64_t ClusterToSector(const DriveRecord& rec, std::uint32_t cluster) {
    if (cluster < 2) return rec.FirstDataSector;
    return static_cast<std::int64_t>(cluster - 2) * rec.SectorsPerCluster + rec.FirstDataSector;
}

std::uint32_t FatEntry(const DriveRecord& rec, std::uint32_t cluster) {
    const AllocationTable* table = TableOf(rec);
    return table && cluster < table->entries.size() ? table->entries[cluster] : 0xFFFFFFFFu;
}

bool IsChainEnd(const DriveRecord& rec, std::uint32_t value) {
    return value < 2 || value > LastCluster(rec);
}

std::vector<std::uint8_t> ReadClusterChain(DriveRecord& rec, std::uint32_t first, std::uint64_t maxBytes,
                                           std::vector<std::uint8_t>* unread) {
    return readChain(rec, rec.Drive, first, maxBytes, unread);
}

void LoadRootDirectory(DriveRecord& rec) {
    rec.RootDirEntries.clear();
    if (rec.FileSystem == FileSystemKind::Fat12 || rec.FileSystem == FileSystemKind::Fat16) {
        const std::uint64_t bytes = (static_cast<std::uint64_t>(rec.RootDirSectorsMinusOne) + 1) * rec.sectorSize();
        auto data = ReadCapped(rec, rec.Drive, rec.RootDirStart, std::min(bytes, kMaxFatDirectoryBytes));
        appendEntries(rec, data);
        auto zero = std::find_if(rec.RootDirEntries.begin(), rec.RootDirEntries.end(), [](const DirEntry& e) {
            return std::all_of(e.begin(), e.end(), [](std::uint8_t b) { return b == 0; });
        });
        if (zero == rec.RootDirEntries.begin() && zero != rec.RootDirEntries.end()) ++zero;
        rec.RootDirEntries.erase(zero, rec.RootDirEntries.end());
    } else if (rec.FileSystem == FileSystemKind::Fat32 || rec.isExFat()) {
        bool isDirectory = true;
        const std::int64_t minusOne = readChainInto(rec, rec.Drive, rec.RootCluster, isDirectory);
        rec.RootDirSectorsMinusOne = minusOne < 0 ? 0 : ClampTo32(static_cast<std::uint64_t>(minusOne));
    }
}

std::int64_t ReadDirectoryChain(const std::string& drive, std::uint32_t firstCluster, bool& isDirectory,
                                DriveRecord& rec) {
    return readChainInto(rec, drive, firstCluster, isDirectory);
}

}  // namespace hx::filesystems
