#include "filesystems/DriveInfo.h"

#include <algorithm>
#include <cstring>

#include "filesystems/AllocationBitmap.h"
#include "filesystems/ntfs/NtfsRecords.h"
#include "media/SectorIo.h"
#include "platform/DriveCatalogue.h"
#include "platform/ByteOrder.h"
#include "platform/PartitionTable.h"
#include "platform/RawFile.h"

namespace hx::filesystems {
using namespace hx::media;

using platform::Le16;
using platform::Le32;
using platform::Le64;

namespace {

constexpr std::size_t kBootSectorBytes = 512;
// A FAT directory holds at most 65536 entries; exFAT allows 256 MiB.
constexpr std::uint64_t kMaxFatDirectoryBytes = 65536ull * 32;
constexpr std::uint64_t kMaxExFatDirectoryBytes = 256ull << 20;

bool isPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::string trimmed(std::string s) {
    auto nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && (s[start] == ' ' || s[start] == '\t')) ++start;
    return s.substr(start);
}

std::string field(const std::uint8_t* sector, std::size_t offset, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(sector) + offset, length);
}

std::uint32_t clampTo32(std::uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v); }

// Reads `bytes` at `lba`, never asking for more than the medium holds, and
// counts a short answer.
std::vector<std::uint8_t> readCapped(DriveRecord& rec, const std::string& source, std::int64_t lba,
                                     std::uint64_t bytes) {
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
    std::uint32_t got = 0;
    auto data = ReadSectors(source, lba, 0, static_cast<std::uint32_t>(want), got, bps);
    if (got < bytes) ++rec.ShortReads;
    data.resize(std::min<std::size_t>(got, static_cast<std::size_t>(bytes)));
    return data;
}

void appendEntries(DriveRecord& rec, const std::vector<std::uint8_t>& data) {
    for (std::size_t off = 0; off + 32 <= data.size(); off += 32) {
        DirEntry e;
        std::memcpy(e.data(), data.data() + off, 32);
        rec.RootDirEntries.push_back(e);
    }
}

void parseFat(const std::uint8_t* s, DriveRecord& rec) {
    const std::uint16_t rootEntries = Le16(s + 17);
    const std::uint16_t fat16Size = Le16(s + 22);
    const bool fat32 = rootEntries == 0 && fat16Size == 0;
    const std::uint32_t bps = static_cast<std::uint32_t>(rec.sectorSize());
    if (fat32) {
        rec.FileSystem = FileSystemKind::Fat32;
        rec.FATEntryBytes = 4;
        rec.SectorsPerFAT = Le32(s + 36);
        rec.RootDirStart = rec.FirstDataSector =
            clampTo32(static_cast<std::uint64_t>(rec.NumberOfFATs) * rec.SectorsPerFAT + rec.ReservedSectors);
        rec.RootCluster = Le32(s + 44) & 0x0FFFFFFF;
        if (s[66] == 0x29) {
            rec.SerialNumber = Le32(s + 67);
            rec.VolumeLabel = trimmed(field(s, 71, 11));
        }
    } else {
        rec.SectorsPerFAT = fat16Size;
        rec.RootDirStart =
            clampTo32(static_cast<std::uint64_t>(rec.NumberOfFATs) * rec.SectorsPerFAT + rec.ReservedSectors);
        const std::uint32_t rootSectors = (rootEntries * 32u + bps - 1) / bps;
        rec.RootDirSectorsMinusOne = rootSectors > 0 ? rootSectors - 1 : 0;
        rec.FirstDataSector = clampTo32(static_cast<std::uint64_t>(rec.RootDirStart) + rootSectors);
        rec.RootCluster = 2;
        if (s[38] == 0x29) {
            rec.SerialNumber = Le32(s + 39);
            rec.VolumeLabel = trimmed(field(s, 43, 11));
        }
    }
    if (rec.VolumeLabel == "NO NAME") rec.VolumeLabel.clear();
    if (rec.SectorsPerCluster > 0 && rec.VolumeSectors > rec.FirstDataSector)
        rec.TotalClusters = (rec.VolumeSectors - rec.FirstDataSector) / rec.SectorsPerCluster;
    if (!fat32) {
        // The type field names FAT12 or FAT16 on volumes from every formatter
        // we know; when it does not, the cluster count decides as it does for
        // the drivers.
        std::string type = trimmed(field(s, 54, 8));
        std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::toupper(c); });
        if (type == "FAT12" || type == "FAT16")
            rec.FileSystem = type == "FAT12" ? FileSystemKind::Fat12 : FileSystemKind::Fat16;
        else rec.FileSystem = rec.TotalClusters < 4085 ? FileSystemKind::Fat12 : FileSystemKind::Fat16;
        rec.FATEntryBytes = rec.FileSystem == FileSystemKind::Fat16 ? 2.0f : 1.5f;
    }
}

void parseNtfs(const std::uint8_t* s, DriveRecord& rec) {
    rec.FileSystem = FileSystemKind::Ntfs;
    // Clusters above 64 KiB are stored as a negative power of two.
    const std::uint8_t spc = s[13];
    if (spc >= 0xF4) rec.SectorsPerCluster = 1u << (256 - spc);
    rec.MFTCluster = Le32(s + 48);
    rec.MFTRecordClusters = Le32(s + 64);
    rec.VolumeSectors = Le64(s + 40);
    rec.TotalSectors = rec.VolumeSectors;
    rec.SerialNumber = Le32(s + 72);
    if (rec.SectorsPerCluster > 0) rec.TotalClusters = rec.VolumeSectors / rec.SectorsPerCluster;
    const auto perRecord = static_cast<std::int8_t>(s[64]);
    if (perRecord < 0 && perRecord >= -31) rec.MFTRecordBytes = 1u << (-perRecord);
    else if (perRecord > 0) rec.MFTRecordBytes = clampTo32(perRecord * rec.clusterBytes());
}

void parseExFat(const std::uint8_t* s, DriveRecord& rec) {
    const unsigned bpsShift = s[108], spcShift = s[109];
    if (bpsShift < 9 || bpsShift > 12 || bpsShift + spcShift > 25) {
        rec.FileSystem = FileSystemKind::None;
        return;
    }
    rec.FileSystem = FileSystemKind::ExFat;
    rec.BytesPerSector = static_cast<std::int16_t>(1 << bpsShift);
    rec.SectorsPerCluster = 1u << spcShift;
    rec.HiddenSectors = static_cast<std::uint32_t>(Le64(s + 64));
    rec.VolumeSectors = Le64(s + 72);
    rec.TotalSectors = rec.VolumeSectors;
    rec.ReservedSectors = Le32(s + 80);
    rec.SectorsPerFAT = Le32(s + 84);
    rec.ClusterHeapOffset = Le32(s + 88);
    rec.TotalClusters = Le32(s + 92);
    rec.RootCluster = Le32(s + 96);
    rec.SerialNumber = Le32(s + 100);
    rec.NumberOfFATs = s[110];
    rec.FATEntryBytes = 4;
    rec.RootDirStart = rec.FirstDataSector = rec.ClusterHeapOffset;
}

bool looksLikeFat(const std::uint8_t* s) {
    const std::uint16_t bps = Le16(s + 11);
    const bool bpsOk = bps == 0 || (isPowerOfTwo(bps) && bps >= 128 && bps <= 4096);
    const bool jump = s[0] == 0xEB || s[0] == 0xE9;
    const bool signature = s[510] == 0x55 && s[511] == 0xAA;
    return bpsOk && isPowerOfTwo(s[13]) && s[16] >= 1 && s[16] <= 4 && Le16(s + 14) >= 1 && (jump || signature);
}

// The volume label entry of a FAT root directory wins over the boot sector's
// copy, as the systems show it.
void labelFromRoot(DriveRecord& rec) {
    for (const auto& e : rec.RootDirEntries) {
        if (e[0] == 0) break;
        if (rec.isExFat()) {
            if (e[0] == 0x83) {
                const unsigned chars = std::min<unsigned>(e[1], 11);
                std::string label;
                for (unsigned i = 0; i < chars; ++i) {
                    const std::uint16_t c = Le16(e.data() + 2 + 2 * i);
                    label += c < 0x80 ? static_cast<char>(c) : '?';
                }
                rec.VolumeLabel = label;
                return;
            }
            continue;
        }
        if (e[0] != 0xE5 && e[11] != 0x0F && (e[11] & 0x08)) {
            rec.VolumeLabel = trimmed(std::string(reinterpret_cast<const char*>(e.data()), 11));
            return;
        }
    }
}

// exFAT keeps the allocation bitmap as a file named by a root entry (0x81).
void findExFatBitmap(DriveRecord& rec) {
    for (const auto& e : rec.RootDirEntries) {
        if (e[0] == 0) break;
        if (e[0] == 0x81 && (e[1] & 1) == 0) {
            rec.BitmapCluster = Le32(e.data() + 20);
            rec.BitmapLength = Le64(e.data() + 24);
            return;
        }
    }
}

std::uint64_t mediaSize(const std::string& source) {
    platform::RawFile f;
    if (!f.open(source, platform::RawFile::Mode::Read)) return 0;
    return f.size();
}

std::vector<std::uint8_t> readChain(DriveRecord& rec, const std::string& source, std::uint32_t first,
                                    std::uint64_t maxBytes) {
    std::vector<std::uint8_t> out;
    const std::uint64_t cluster = rec.clusterBytes();
    if (cluster == 0 || IsChainEnd(rec, first)) return out;
    const std::uint32_t last = LastCluster(rec);
    // A chain only goes on through table entries, so the table bounds it.
    const std::size_t tableEntries = rec.FAT32Entries.size() + rec.FAT16Entries.size() + rec.FAT12Entries.size();
    std::vector<bool> seen(std::min<std::size_t>(last, tableEntries) + 1);
    std::uint32_t c = first;
    while (out.size() < maxBytes) {
        if (c < seen.size()) {
            if (seen[c]) break;  // a loop in the chain
            seen[c] = true;
        }
        auto data = readCapped(rec, source, ClusterToSector(rec, c), cluster);
        if (data.empty()) break;
        out.insert(out.end(), data.begin(), data.end());
        if (data.size() < cluster) break;
        const std::uint32_t next = FatEntry(rec, c);
        if (next == c || IsChainEnd(rec, next)) break;
        c = next;
    }
    if (out.size() > maxBytes) out.resize(static_cast<std::size_t>(maxBytes));
    return out;
}

std::int64_t readChainInto(DriveRecord& rec, const std::string& source, std::uint32_t first, bool& isDirectory) {
    const std::uint64_t cluster = rec.clusterBytes();
    if (cluster == 0 || first < 2 || first > LastCluster(rec)) return -1;
    if (!isDirectory) {
        auto head = readCapped(rec, source, ClusterToSector(rec, first), std::min<std::uint64_t>(cluster, 64));
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

const char* DriveTypeName(int code) {
    return DriveKindName(code >= 0 && code <= 6 ? static_cast<DriveKind>(code) : DriveKind::Unknown);
}

void ParseBootSectorBytes(const std::uint8_t* s, std::size_t size, DriveRecord& rec) {
    rec.BytesPerSector = 512;
    if (size < kBootSectorBytes) return;
    rec.BootSector.assign(s, s + kBootSectorBytes);
    const std::uint16_t bps = Le16(s + 11);
    // Nothing else is ever used as a divisor: 0 and nonsense mean 512.
    rec.BytesPerSector =
        static_cast<std::int16_t>(isPowerOfTwo(bps) && bps >= 128 && bps <= 4096 ? bps : 512);
    rec.SectorsPerCluster = s[13];
    rec.NumberOfFATs = s[16];
    rec.ReservedSectors = Le16(s + 14);
    rec.HiddenSectors = Le32(s + 28);
    std::uint32_t total = Le16(s + 19);
    if (total == 0) total = Le32(s + 32);
    rec.TotalSectors = total;
    rec.VolumeSectors = total;

    const std::string oem = field(s, 3, 8);
    if (oem == "EXFAT   ") parseExFat(s, rec);
    else if (oem == "NTFS    ") parseNtfs(s, rec);
    else if (looksLikeFat(s)) parseFat(s, rec);
    if (!isPowerOfTwo(rec.SectorsPerCluster)) rec.SectorsPerCluster = 0;
}

DriveRecord ParseBootSectorBytes(const std::uint8_t* s, std::size_t size) {
    DriveRecord rec;
    ParseBootSectorBytes(s, size, rec);
    return rec;
}

bool ParseBootSector(const std::string& source, DriveRecord& rec, bool asDrive) {
    // What the platform said about the drive stays; the geometry of an
    // earlier parse does not.
    DriveRecord fresh;
    fresh.Drive = source;
    if (rec.Drive == source) {
        fresh.DriveType = rec.DriveType;
        fresh.VolumeLabel = rec.VolumeLabel;
        fresh.MountPoint = rec.MountPoint;
        fresh.IsImage = rec.IsImage;
        fresh.IsSystem = rec.IsSystem;
        fresh.FileSystem = rec.FileSystem;
        fresh.PlatformFileSystem = rec.PlatformFileSystem;
        fresh.MediaBytes = rec.MediaBytes;
        fresh.MediumDrive = rec.MediumDrive;
        fresh.PartitionIndex = rec.PartitionIndex;
        fresh.PartitionOffset = rec.PartitionOffset;
        fresh.PartitionBytes = rec.PartitionBytes;
        fresh.MediumBytes = rec.MediumBytes;
        fresh.ChosenForMedium = rec.ChosenForMedium;
    }
    rec = std::move(fresh);
    rec.BytesPerSector = 512;
    if (rec.MediaBytes == 0) rec.MediaBytes = mediaSize(source);
    std::uint32_t got = 0;
    auto sector = ReadSectors(source, 0, 0, kBootSectorBytes, got, 512);
    if (got < kBootSectorBytes) {
        if (!sector.empty()) ++rec.ShortReads;
        return false;
    }
    const FileSystemKind before = rec.FileSystem;
    ParseBootSectorBytes(sector.data(), sector.size(), rec);
    if (rec.FileSystem == FileSystemKind::None) rec.FileSystem = before;
    if (rec.FileSystem == FileSystemKind::None && !rec.PlatformFileSystem.empty()) rec.FileSystem = FileSystemKind::Other;
    if (asDrive && rec.ReservedSectors != 0 && (rec.isFat() || rec.isExFat())) {
        LoadFatCopies(rec);
        if (rec.isFat() && rec.SectorsPerCluster > 0)
            rec.TotalSectors = rec.TotalClusters * rec.SectorsPerCluster;
        LoadRootDirectory(rec);
        labelFromRoot(rec);
        if (rec.isExFat()) findExFatBitmap(rec);
    }
    return true;
}

bool LoadFatCopies(DriveRecord& rec) {
    if (rec.SectorsPerFAT == 0 || rec.FATEntryBytes <= 0) return false;
    const int bps = rec.sectorSize();
    // Only the part of the table that the cluster count needs is read: a
    // boot sector that claims a huge FAT cannot make us allocate it.
    // Entries are 1.5, 2 or 4 bytes: counted in half bytes, exactly.
    const std::uint64_t halfBytesPerEntry = static_cast<std::uint64_t>(rec.FATEntryBytes * 2);
    const std::uint64_t needed = ((rec.TotalClusters + 2) * halfBytesPerEntry + 1) / 2;
    std::uint64_t bytes = static_cast<std::uint64_t>(rec.SectorsPerFAT) * bps;
    if (needed < bytes) bytes = (needed + bps) / bps * bps;
    const std::string& src = rec.Drive;
    rec.FAT1 = readCapped(rec, src, rec.ReservedSectors, bytes);
    if (rec.NumberOfFATs >= 2)
        rec.FAT2 = readCapped(rec, src, static_cast<std::int64_t>(rec.ReservedSectors) + rec.SectorsPerFAT, bytes);
    DecodeFat(rec);
    return !rec.FAT1.empty();
}

void DecodeFat(DriveRecord& rec) {
    rec.FAT12Entries.clear();
    rec.FAT16Entries.clear();
    rec.FAT32Entries.clear();
    rec.FATByteSum = 0;
    const auto& f = rec.FAT1;
    if (rec.FileSystem == FileSystemKind::Fat32 || rec.isExFat()) {
        rec.FAT32Entries.resize(f.size() / 4);
        for (std::size_t i = 0; i < rec.FAT32Entries.size(); ++i) {
            rec.FAT32Entries[i] = Le32(f.data() + 4 * i);
            rec.FATByteSum += rec.FAT32Entries[i] & 0xFF;
        }
    } else if (rec.FileSystem == FileSystemKind::Fat16) {
        rec.FAT16Entries.resize(f.size() / 2);
        for (std::size_t i = 0; i < rec.FAT16Entries.size(); ++i) {
            rec.FAT16Entries[i] = Le16(f.data() + 2 * i);
            rec.FATByteSum += rec.FAT16Entries[i] & 0xFF;
        }
    } else if (rec.FileSystem == FileSystemKind::Fat12) {
        rec.FAT12Entries.reserve(f.size() * 2 / 3);
        for (std::size_t i = 0; i + 3 <= f.size(); i += 3) {
            const std::uint32_t v = f[i] | (f[i + 1] << 8) | (f[i + 2] << 16);
            rec.FAT12Entries.push_back(static_cast<std::uint16_t>(v & 0xFFF));
            rec.FAT12Entries.push_back(static_cast<std::uint16_t>(v >> 12));
            rec.FATByteSum += (v & 0xFF) + ((v >> 12) & 0xFF);
        }
        // A table that ends two bytes into a triple still holds its first entry.
        if (f.size() % 3 == 2) {
            const std::uint32_t v = Le16(f.data() + f.size() - 2);
            rec.FAT12Entries.push_back(static_cast<std::uint16_t>(v & 0xFFF));
            rec.FATByteSum += v & 0xFF;
        }
    }
}

std::uint32_t LastCluster(const DriveRecord& rec) {
    if (rec.TotalClusters == 0) return 1;
    return clampTo32(static_cast<std::uint64_t>(rec.TotalClusters) + 1);
}

std::int64_t ClusterToSector(const DriveRecord& rec, std::uint32_t cluster) {
    if (cluster < 2) return rec.FirstDataSector;
    return static_cast<std::int64_t>(cluster - 2) * rec.SectorsPerCluster + rec.FirstDataSector;
}

std::uint32_t FatEntry(const DriveRecord& rec, std::uint32_t cluster) {
    if (rec.FileSystem == FileSystemKind::Fat32)
        return cluster < rec.FAT32Entries.size() ? rec.FAT32Entries[cluster] & 0x0FFFFFFF : 0xFFFFFFFFu;
    if (rec.isExFat()) return cluster < rec.FAT32Entries.size() ? rec.FAT32Entries[cluster] : 0xFFFFFFFFu;
    if (rec.FileSystem == FileSystemKind::Fat16) return cluster < rec.FAT16Entries.size() ? rec.FAT16Entries[cluster] : 0xFFFFFFFFu;
    if (rec.FileSystem == FileSystemKind::Fat12) return cluster < rec.FAT12Entries.size() ? rec.FAT12Entries[cluster] : 0xFFFFFFFFu;
    return 0xFFFFFFFFu;
}

bool IsChainEnd(const DriveRecord& rec, std::uint32_t value) {
    return value < 2 || value > LastCluster(rec);
}

std::vector<std::uint8_t> ReadClusterChain(DriveRecord& rec, std::uint32_t first, std::uint64_t maxBytes) {
    return readChain(rec, rec.Drive, first, maxBytes);
}

void LoadRootDirectory(DriveRecord& rec) {
    rec.RootDirEntries.clear();
    if (rec.FileSystem == FileSystemKind::Fat12 || rec.FileSystem == FileSystemKind::Fat16) {
        const std::uint64_t bytes = (static_cast<std::uint64_t>(rec.RootDirSectorsMinusOne) + 1) * rec.sectorSize();
        auto data = readCapped(rec, rec.Drive, rec.RootDirStart, std::min(bytes, kMaxFatDirectoryBytes));
        appendEntries(rec, data);
        auto zero = std::find_if(rec.RootDirEntries.begin(), rec.RootDirEntries.end(), [](const DirEntry& e) {
            return std::all_of(e.begin(), e.end(), [](std::uint8_t b) { return b == 0; });
        });
        if (zero == rec.RootDirEntries.begin() && zero != rec.RootDirEntries.end()) ++zero;
        rec.RootDirEntries.erase(zero, rec.RootDirEntries.end());
    } else if (rec.FileSystem == FileSystemKind::Fat32 || rec.isExFat()) {
        bool isDirectory = true;
        const std::int64_t minusOne = readChainInto(rec, rec.Drive, rec.RootCluster, isDirectory);
        rec.RootDirSectorsMinusOne = minusOne < 0 ? 0 : clampTo32(static_cast<std::uint64_t>(minusOne));
    }
}

std::int64_t ReadDirectoryChain(const std::string& drive, std::uint32_t firstCluster, bool& isDirectory,
                                DriveRecord& rec) {
    return readChainInto(rec, drive, firstCluster, isDirectory);
}

namespace {

// Where a partition drive id lies on its medium.
void notePartition(const std::string& id, DriveRecord& rec) {
    std::string medium;
    int index = 0;
    if (!platform::SplitPartitionDriveId(id, medium, index)) return;
    platform::RawFile f;
    if (!f.open(id, platform::RawFile::Mode::Read) || !f.windowed()) return;
    rec.MediumDrive = medium;
    rec.PartitionIndex = index;
    rec.PartitionOffset = f.windowBase();
    rec.PartitionBytes = f.size();
    rec.MediumBytes = mediaSize(medium);
}

void catalogue(const platform::DriveEntry& entry, DriveRecord& rec) {
    rec.reset();
    rec.Drive = entry.id;
    rec.IsImage = entry.isImage;
    rec.IsSystem = entry.isSystem;
    rec.DriveType = DriveKindFromName(entry.typeName);
    rec.MountPoint = entry.mountPoint;
    rec.PlatformFileSystem = entry.fileSystem;
    rec.MediaBytes = entry.sizeBytes;
    rec.MediumBytes = entry.sizeBytes;
    notePartition(entry.id, rec);
    ParseBootSector(entry.id, rec, true);
    if (!entry.label.empty()) rec.VolumeLabel = entry.label;
    if (rec.isNtfs()) ReadNtfsVolumeLabel(rec);

    const double clusterMB = static_cast<double>(rec.clusterBytes()) / 1048576.0;
    rec.TotalMB = static_cast<double>(rec.TotalClusters) * clusterMB;
    platform::SpaceInfo space;
    if (!entry.mountPoint.empty() && platform::QueryFreeSpace(entry.mountPoint, space)) {
        rec.FreeMB = static_cast<double>(space.freeBytes) / 1048576.0;
        if (rec.TotalMB <= 0) rec.TotalMB = static_cast<double>(space.totalBytes) / 1048576.0;
    } else {
        // An unmounted volume: free space from our own reading of its allocation.
        AllocationBitmap bitmap;
        if (LoadAllocationBitmap(rec, bitmap)) rec.FreeMB = static_cast<double>(bitmap.freeCount()) * clusterMB;
    }
}

bool knownFileSystem(const DriveRecord& rec) { return rec.isFat() || rec.isExFat() || rec.isNtfs(); }

}  // namespace

bool GetDriveInfo(const std::string& drive, DriveRecord& rec) {
    platform::DriveEntry entry;
    if (!platform::FindDrive(drive, entry) || !entry.ready) return false;
    catalogue(entry, rec);
    // A whole card or stick copied with dd: no file system of its own, so the
    // first partition that holds one stands for it.
    if (knownFileSystem(rec) || rec.isPartition() || rec.BootSector.empty()) return true;
    for (const auto& part : platform::PartitionDrives(entry)) {
        if (!part.ready) continue;
        DriveRecord inner;
        catalogue(part, inner);
        if (knownFileSystem(inner)) {
            rec = std::move(inner);
            rec.ChosenForMedium = true;
            return true;
        }
    }
    return true;
}

MediumUnits WholeMediumUnits(const DriveRecord& rec) {
    MediumUnits u;
    u.drive = rec.Drive;
    u.firstDataSector = rec.FirstDataSector;
    u.totalUnits = rec.TotalClusters;
    if (!rec.isPartition() || rec.SectorsPerCluster == 0) return u;
    u.drive = rec.MediumDrive;
    u.firstDataSector = rec.mediumFirstDataSector();
    const std::uint64_t mediumSectors = rec.MediumBytes / static_cast<std::uint64_t>(rec.sectorSize());
    u.totalUnits = mediumSectors > u.firstDataSector ? (mediumSectors - u.firstDataSector) / rec.SectorsPerCluster : 0;
    return u;
}

std::string GetDriveInterface(const DriveRecord& rec) {
    if (rec.Drive.empty()) return {};
    if (rec.IsImage) return "image file";
    const std::string bus = platform::DriveBus(rec.isPartition() ? rec.MediumDrive : rec.Drive);
    static constexpr struct {
        const char* bus;
        const char* shown;
    } kBuses[] = {{"usb", "USB"},   {"mmc", "SD/MMC"},     {"ata", "SATA"}, {"nvme", "NVMe"},
                  {"scsi", "SCSI"}, {"virtio", "VirtIO"}, {"loop", "loop"}};
    for (const auto& b : kBuses)
        if (bus == b.bus) return b.shown;
    return bus;
}

}  // namespace hx::filesystems
