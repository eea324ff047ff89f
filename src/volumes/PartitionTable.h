#pragma once
// Partition tables of whole-disk images and unpartitioned devices: MBR
// (primary entries and the EBR chain of an extended partition) and GPT.
// Pure parsing over a read callback, so the opening of partition drives, the
// catalogue and the fuzz target share it; every number read from the medium
// is checked against the medium's size and every walk is bounded.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hx::volumes {

struct PartitionEntry {
    // The number in the drive id "IMAGE#N": MBR slots 1-4, logical
    // partitions 5, 6, ... in chain order, GPT entry position + 1.
    int index = 0;
    std::uint64_t startLba = 0;     // in sectors of the table (512, or 4096 for a 4K GPT)
    std::uint64_t sectorCount = 0;
    std::uint8_t type = 0;          // MBR type byte (0xEE for GPT entries)
    std::string typeGuid;           // GPT only, canonical text form
    std::string name;               // GPT only, ASCII part of the UTF-16 name
    bool bootable = false;
    // The entry starts beyond the medium's end (no usable bytes) or runs past
    // it (bytes are cut at the end).
    bool startsOutside = false;
    bool cutAtEnd = false;

    std::uint64_t byteOffset(std::uint32_t sectorSize) const { return startLba * sectorSize; }
};

enum class PartitionScheme { None, Mbr, Gpt };

struct PartitionTable {
    PartitionScheme scheme = PartitionScheme::None;
    std::uint32_t sectorSize = 512;
    std::vector<PartitionEntry> entries;  // in index order; empty slots are left out
    // What was wrong but survived: the caller may show or log it.
    bool entryCountCapped = false;  // GPT claimed more entries than we read
    bool chainCut = false;          // EBR chain stopped at a loop, the limit or the medium's end
    bool gptFromBackup = false;     // the primary GPT header was damaged
    bool gptEntriesCrcBad = false;

    const PartitionEntry* find(int index) const;
    // Byte window of a partition clipped to the medium; false when the entry
    // does not exist or starts outside.
    bool window(int index, std::uint64_t mediaBytes, std::uint64_t& offset, std::uint64_t& length) const;
};

// Reads `count` bytes at `offset` into `buffer`; returns the bytes read.
using MediumReader = std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t count)>;

// Limits of the walks.
constexpr int kMaxLogicalPartitions = 128;
constexpr std::uint32_t kMaxGptEntries = 1024;
constexpr std::uint32_t kMaxGptEntryBytes = 4096;

// True when a 512-byte sector carries a FAT, exFAT or NTFS boot sector (a
// jump, the OEM name or a plausible BPB): such a sector is never read as a
// partition table, though it ends in 0x55AA too.
bool LooksLikeBootSector(const std::uint8_t* sector);

// Reads the table of a medium of `mediaBytes`. A medium whose sector 0 is a
// boot sector, or whose MBR entries are implausible, has scheme None.
PartitionTable ReadPartitionTable(const MediumReader& read, std::uint64_t mediaBytes);
// The same over bytes in memory (the whole medium).
PartitionTable ParsePartitionTable(const std::uint8_t* data, std::size_t size);

// Partition drive ids: "card.img#2" names partition 2 of card.img.
std::string PartitionDriveId(const std::string& medium, int index);
// Splits "card.img#2" into "card.img" and 2; false when `id` has no "#N" tail
// (N from 1 to 9999).
bool SplitPartitionDriveId(const std::string& id, std::string& medium, int& index);

}  // namespace hx::volumes
