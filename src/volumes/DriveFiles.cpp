#include "volumes/DriveFiles.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/DirectoryEntry.h"
#include "volumes/PartitionTable.h"

namespace hx::volumes {

using platform::DriveEntry;
using platform::RawFile;

namespace {

// Windows of partitions in image files, so that the many short opens of
// cataloguing and undelete do not parse the table each time. Keyed by the
// file's identity, last change and first 1 KiB (the MBR and a 512-byte GPT
// header with its entries' CRC: mtime steps are coarse); devices are never
// cached (a card swapped in a reader keeps its node), nor logical
// partitions, whose EBRs lie elsewhere.
struct WindowKey {
    std::string medium;
    int index = 0;
    platform::EntryFacts facts;
    std::array<std::uint8_t, 1024> head{};
    bool operator==(const WindowKey& o) const {
        return medium == o.medium && index == o.index && facts.sameVersion(o.facts) && head == o.head;
    }
};
struct CachedWindow {
    WindowKey key;
    std::uint64_t base = 0, length = 0;
};
std::mutex gWindowMutex;
std::vector<CachedWindow> gWindows;
constexpr std::size_t kCachedWindows = 16;

bool windowKey(RawFile& file, const std::string& medium, int index, WindowKey& key) {
    key.facts = file.facts();
    if (index > 4 || !key.facts.regular) return false;
    key.medium = medium;
    key.index = index;
    return file.readAt(0, key.head.data(), key.head.size()) == key.head.size();
}

bool cachedWindow(const WindowKey& key, std::uint64_t& base, std::uint64_t& length) {
    std::lock_guard<std::mutex> lock(gWindowMutex);
    for (const auto& w : gWindows)
        if (w.key == key) {
            base = w.base;
            length = w.length;
            return true;
        }
    return false;
}

void keepWindow(const WindowKey& key, std::uint64_t base, std::uint64_t length) {
    std::lock_guard<std::mutex> lock(gWindowMutex);
    if (gWindows.size() >= kCachedWindows) gWindows.erase(gWindows.begin());
    gWindows.push_back({key, base, length});
}

PartitionTable readTable(RawFile& medium) {
    const MediumReader reader = [&medium](std::uint64_t offset, void* buffer, std::size_t count) {
        return medium.readAt(offset, buffer, count);
    };
    return ReadPartitionTable(reader, medium.size());
}

DriveEntry partitionEntry(const DriveEntry& medium, int index, int* error = nullptr) {
    DriveEntry e;
    e.id = PartitionDriveId(medium.id, index);
    e.typeName = medium.typeName;
    e.bus = medium.bus;
    e.removable = medium.removable;
    e.isImage = medium.isImage;
    e.isSystem = medium.isSystem;
    RawFile f;
    if (OpenDrive(f, e.id, RawFile::Mode::Read)) {
        e.sizeBytes = f.size();
        e.ready = e.sizeBytes > 0;
    }
    if (error != nullptr) *error = f.lastError();
    return e;
}

}  // namespace

bool OpenDrive(RawFile& file, const std::filesystem::path& id, RawFile::Mode mode) {
    if (file.open(id, mode) || file.lastError() != ENOENT || mode == RawFile::Mode::Create) return file.isOpen();
    std::string medium;
    int index = 0;
    if (!SplitPartitionDriveId(id.string(), medium, index)) return false;
    if (!file.open(medium, mode)) return false;
    WindowKey key;
    const bool cacheable = windowKey(file, medium, index, key);
    std::uint64_t base = 0, length = 0;
    if (!cacheable || !cachedWindow(key, base, length)) {
        const PartitionTable table = readTable(file);
        const PartitionEntry* entry = table.find(index);
        if (entry == nullptr || !table.window(index, file.size(), base, length)) {
            file.closeWith(entry == nullptr ? ENOENT : ENXIO);
            return false;
        }
        if (cacheable && (table.scheme == PartitionScheme::Mbr || table.sectorSize == 512)) keepWindow(key, base, length);
    }
    file.setWindow(base, length);
    file.nameAs(id);
    return true;
}

std::vector<DriveEntry> PartitionDrives(const DriveEntry& medium) {
    std::vector<DriveEntry> out;
    RawFile f;
    if (!OpenDrive(f, medium.id, RawFile::Mode::Read) || f.windowed()) return out;
    for (const auto& p : readTable(f).entries)
        if (!p.startsOutside) out.push_back(partitionEntry(medium, p.index));
    return out;
}

std::vector<DriveEntry> EnumerateDrives() {
    std::vector<DriveEntry> all;
    for (DriveEntry& d : platform::EnumerateMedia()) {
        const bool withPartitions = d.isImage && d.ready;
        all.push_back(d);
        if (withPartitions)
            for (auto& part : PartitionDrives(all.back())) all.push_back(std::move(part));
    }
    return all;
}

bool FindDrive(const std::string& id, DriveEntry& out) {
    std::string medium;
    int index = 0;
    if (!platform::EntryOf(id).exists && SplitPartitionDriveId(id, medium, index)) {
        DriveEntry whole;
        if (!FindDrive(medium, whole) || !whole.ready) return false;
        int error = 0;
        out = partitionEntry(whole, index, &error);
        // A partition that starts beyond the medium's end is there but not ready.
        return out.ready || error == ENXIO;
    }
    return platform::FindMedium(id, out);
}

}  // namespace hx::volumes
