// A deleted folder's entries beyond its first cluster. Its chain was freed
// with it, so its later clusters are looked for where FAT would have put
// them: among the next free clusters that none of the files listed so far
// holds. A cluster is taken only when it reads as folder entries throughout,
// and, when the last one ended inside a long name, it must finish that name.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ByteOrder.h"
#include "media/SalvagedMedium.h"
#include "filesystems/fat/UndeleteFat.h"

namespace hx::filesystems {

namespace {

// Clusters of one folder at most (a FAT folder holds 65,536 entries).
constexpr int kMaxFolderClusters = 256;
// Free clusters looked at past the last one taken (a folder grows after the
// data of the file whose entry did not fit).
constexpr int kMaxLook = 4096;

bool nameByteOk(std::uint8_t c) {
    return c >= 0x20 && !std::memchr("\"*+,/:;<=>?[\\]|", c, 15);
}

// Every entry is free, a long-name part or a plausible short entry; at least
// one is used; no "." entry (the first cluster of another folder).
// `ends` is set when an end marker (a zero first byte) is met.
bool readsAsFolderEntries(const std::uint8_t* d, std::size_t size, bool& ends) {
    int used = 0;
    ends = false;
    for (std::size_t at = 0; at + 32 <= size; at += 32) {
        const std::uint8_t* e = d + at;
        if (ends) {
            if (e[0] != 0) return false;
            continue;
        }
        if (e[0] == 0) {
            ends = true;
            continue;
        }
        ++used;
        if (e[11] == 0x0F) {
            if (e[26] != 0 || e[27] != 0) return false;
            continue;
        }
        if (e[0] == '.' || (e[11] & 0xC0) != 0) return false;
        for (int i = e[0] == 0xE5 || e[0] == 0x05 ? 1 : 0; i < 11; ++i)
            if (!nameByteOk(e[i])) return false;
    }
    return used > 0;
}

std::uint8_t shortNameSum(const std::uint8_t* e) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + e[i]);
    return sum;
}

// The checksum of a long name that the cluster leaves unfinished, or -1.
int openLongName(const std::uint8_t* d, std::size_t size) {
    int open = -1;
    for (std::size_t at = 0; at + 32 <= size; at += 32) {
        const std::uint8_t* e = d + at;
        if (e[0] == 0) return -1;
        open = e[11] == 0x0F ? e[13] : -1;
    }
    return open;
}

// The cluster finishes a long name of checksum `sum`: its first short entry matches.
bool finishesLongName(const std::uint8_t* d, std::size_t size, int sum) {
    for (std::size_t at = 0; at + 32 <= size; at += 32) {
        const std::uint8_t* e = d + at;
        if (e[11] == 0x0F) {
            if (e[13] != sum) return false;
            continue;
        }
        const std::uint8_t first = e[0] == 0xE5 ? 0xE5 : e[0];
        std::uint8_t name[11];
        std::memcpy(name, e, 11);
        name[0] = first;
        // A deleted entry lost its first letter: any letter that gives the sum will do.
        if (first != 0xE5) return shortNameSum(name) == sum;
        for (int c = 0x20; c < 0x100; ++c) {
            name[0] = static_cast<std::uint8_t>(c);
            if (nameByteOk(name[0]) && shortNameSum(name) == sum) return true;
        }
        return false;
    }
    return false;
}

struct Span {
    std::uint32_t first, last;
};

void claimFiles(const FatVolume& vol, const std::uint8_t* d, std::size_t size, std::vector<Span>& held) {
    const std::uint64_t bpc = vol.bytesPerCluster();
    for (std::size_t at = 0; at + 32 <= size; at += 32) {
        const std::uint8_t* e = d + at;
        if (e[0] == 0 || e[11] == 0x0F || e[0] == '.') continue;
        std::uint32_t first = platform::Le16(e + 26);
        if (vol.fatBits == 32) first |= static_cast<std::uint32_t>(platform::Le16(e + 20)) << 16;
        const std::uint64_t size32 = platform::Le32(e + 28);
        if (!vol.validCluster(first)) continue;
        const std::uint64_t clusters = (e[11] & 0x10) ? 1 : std::max<std::uint64_t>(1, (size32 + bpc - 1) / bpc);
        held.push_back({first, static_cast<std::uint32_t>(std::min<std::uint64_t>(first + clusters - 1, ~0u))});
    }
}

}  // namespace

std::vector<RawDirEntry> ReadDeletedFatFolder(const FatVolume& vol, std::uint32_t first) {
    std::vector<RawDirEntry> entries = ReadFatDirectory(vol, first, true, true);
    const std::uint64_t bpc = vol.bytesPerCluster();
    media::SalvagedDrive medium;
    if (entries.empty() || bpc == 0 || !medium.open(vol.drive, vol.bytesPerSector)) return entries;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(bpc));
    std::memcpy(data.data(), entries.data(), std::min<std::size_t>(data.size(), entries.size() * 32));
    bool ends = false;
    readsAsFolderEntries(data.data() + 64, data.size() - 64, ends);
    std::vector<Span> held{{first, first}};
    claimFiles(vol, data.data(), data.size(), held);

    int pending = openLongName(data.data(), data.size());
    std::uint32_t c = first + 1;
    for (int taken = 1; !ends && taken < kMaxFolderClusters; ++taken) {
        bool found = false;
        for (int looked = 0; !found && looked < kMaxLook && vol.validCluster(c); ++c) {
            if (!vol.clusterFree(c)) continue;
            if (auto s = std::find_if(held.begin(), held.end(),
                                      [c](const Span& s) { return s.first <= c && c <= s.last; });
                s != held.end()) {
                c = s->last;  // the loop steps past it
                continue;
            }
            ++looked;
            // A cluster that cannot be read whole says nothing of where the folder went on.
            const std::uint64_t at = vol.clusterOffset(c);
            if (medium->readAt(at, data.data(), data.size()) != data.size()) return entries;
            if (medium->damage().unreadableIn(at, data.size()) > 0) continue;
            found = readsAsFolderEntries(data.data(), data.size(), ends) &&
                    (pending < 0 || finishesLongName(data.data(), data.size(), pending));
            if (found) held.push_back({c, c});
        }
        if (!found) break;
        const std::size_t at = entries.size();
        entries.resize(at + data.size() / 32);
        std::memcpy(entries[at].data(), data.data(), data.size() / 32 * 32);
        claimFiles(vol, data.data(), data.size(), held);
        pending = openLongName(data.data(), data.size());
    }
    return entries;
}

}  // namespace hx::filesystems
