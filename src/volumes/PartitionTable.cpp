#include "volumes/PartitionTable.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "platform/ByteOrder.h"

namespace hx::volumes {

using platform::Le16;
using platform::Le32;
using platform::Le64;

namespace {

constexpr std::size_t kSector = 512;

bool isPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

bool readExact(const MediumReader& read, std::uint64_t mediaBytes, std::uint64_t offset, std::uint8_t* out,
               std::size_t count) {
    if (offset > mediaBytes || count > mediaBytes - offset) return false;
    return read(offset, out, count) == count;
}

bool isExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// Marks where an entry lies against the medium; sizes in table sectors.
void placeEntry(PartitionEntry& e, std::uint64_t mediaBytes, std::uint32_t ss) {
    const std::uint64_t mediaSectors = mediaBytes / ss;
    e.startsOutside = e.startLba >= mediaSectors;
    e.cutAtEnd = !e.startsOutside && e.sectorCount > mediaSectors - e.startLba;
}

std::string guidText(const std::uint8_t* g) {
    // Mixed-endian: the first three groups are little-endian.
    static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    static const char* hex = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
        s += hex[g[order[i]] >> 4];
        s += hex[g[order[i]] & 15];
    }
    return s;
}

struct MbrSlot {
    std::uint8_t status, type;
    std::uint32_t start, count;
};

MbrSlot slot(const std::uint8_t* sector, int i) {
    const std::uint8_t* p = sector + 446 + 16 * i;
    return {p[0], p[4], Le32(p + 8), Le32(p + 12)};
}

// One GPT header at `lba`; fills `table` and returns true when the header is sound.
bool readGpt(const MediumReader& read, std::uint64_t mediaBytes, std::uint32_t ss, std::uint64_t lba,
             PartitionTable& table) {
    if (lba == 0 || lba > mediaBytes / ss) return false;
    std::vector<std::uint8_t> header(ss);
    if (!readExact(read, mediaBytes, lba * ss, header.data(), ss)) return false;
    if (std::memcmp(header.data(), "EFI PART", 8) != 0) return false;
    const std::uint32_t headerSize = Le32(header.data() + 12);
    if (headerSize < 92 || headerSize > ss) return false;
    const std::uint32_t headerCrc = Le32(header.data() + 16);
    std::memset(header.data() + 16, 0, 4);
    if (crc32(header.data(), headerSize) != headerCrc) return false;
    if (Le64(header.data() + 24) != lba) return false;

    const std::uint64_t entriesLba = Le64(header.data() + 72);
    std::uint32_t count = Le32(header.data() + 80);
    const std::uint32_t entrySize = Le32(header.data() + 84);
    const std::uint32_t entriesCrc = Le32(header.data() + 88);
    if (entrySize < 128 || entrySize > kMaxGptEntryBytes || entrySize % 8 != 0) return false;
    if (entriesLba == 0 || entriesLba >= mediaBytes / ss) return false;
    const std::uint64_t entriesOffset = entriesLba * ss;
    PartitionTable t;
    t.scheme = PartitionScheme::Gpt;
    t.sectorSize = ss;
    if (count > kMaxGptEntries) {
        count = kMaxGptEntries;
        t.entryCountCapped = true;
    }
    const std::uint64_t room = (mediaBytes - entriesOffset) / entrySize;
    if (count > room) {
        count = static_cast<std::uint32_t>(room);
        t.entryCountCapped = true;
    }
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(count) * entrySize);
    if (!entries.empty() && !readExact(read, mediaBytes, entriesOffset, entries.data(), entries.size())) return false;
    t.gptEntriesCrcBad = !t.entryCountCapped && crc32(entries.data(), entries.size()) != entriesCrc;

    static const std::uint8_t zero[16] = {};
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* p = entries.data() + static_cast<std::size_t>(i) * entrySize;
        if (std::memcmp(p, zero, 16) == 0) continue;
        const std::uint64_t first = Le64(p + 32), last = Le64(p + 40);
        if (last < first) continue;
        PartitionEntry e;
        e.index = static_cast<int>(i) + 1;
        e.type = 0xEE;
        e.typeGuid = guidText(p);
        e.startLba = first;
        e.sectorCount = last - first + 1;
        e.bootable = (Le64(p + 48) & 4) != 0;  // legacy BIOS bootable
        for (int k = 0; k < 36; ++k) {
            const std::uint16_t c = Le16(p + 56 + 2 * k);
            if (c == 0) break;
            e.name += c < 0x80 ? static_cast<char>(c) : '?';
        }
        placeEntry(e, mediaBytes, ss);
        t.entries.push_back(std::move(e));
    }
    table = std::move(t);
    return true;
}

bool readAnyGpt(const MediumReader& read, std::uint64_t mediaBytes, PartitionTable& table) {
    for (std::uint32_t ss : {512u, 4096u}) {
        if (readGpt(read, mediaBytes, ss, 1, table)) return true;
        const std::uint64_t last = mediaBytes / ss;
        if (last > 2 && readGpt(read, mediaBytes, ss, last - 1, table)) {
            table.gptFromBackup = true;
            return true;
        }
    }
    return false;
}

// Every slot of every extended boot record: most tools put one partition and
// a link to the next record in each, but a record may hold several
// partitions (each placed from the record itself) beside its link.
void walkExtended(const MediumReader& read, std::uint64_t mediaBytes, std::uint64_t extStart,
                  PartitionTable& table) {
    std::set<std::uint64_t> seen;
    std::uint64_t next = 0;
    int logical = 0, records = 0;
    std::uint8_t ebr[kSector];
    while (true) {
        const std::uint64_t ebrLba = extStart + next;
        if (!seen.insert(ebrLba).second || logical >= kMaxLogicalPartitions || ++records > kMaxLogicalPartitions ||
            !readExact(read, mediaBytes, ebrLba * kSector, ebr, kSector) || ebr[510] != 0x55 || ebr[511] != 0xAA) {
            table.chainCut = true;
            return;
        }
        bool linked = false;
        for (int k = 0; k < 4; ++k) {
            const MbrSlot part = slot(ebr, k);
            if (part.type == 0 || part.count == 0) continue;
            if (isExtendedType(part.type)) {
                if (!linked) next = part.start;
                linked = true;
                continue;
            }
            if (logical >= kMaxLogicalPartitions) {
                table.chainCut = true;
                return;
            }
            PartitionEntry e;
            e.index = 5 + logical++;
            e.type = part.type;
            e.bootable = part.status == 0x80;
            e.startLba = ebrLba + part.start;
            e.sectorCount = part.count;
            placeEntry(e, mediaBytes, kSector);
            table.entries.push_back(e);
        }
        if (!linked) return;
    }
}

}  // namespace

const PartitionEntry* PartitionTable::find(int index) const {
    for (const auto& e : entries)
        if (e.index == index) return &e;
    return nullptr;
}

bool PartitionTable::window(int index, std::uint64_t mediaBytes, std::uint64_t& offset,
                            std::uint64_t& length) const {
    const PartitionEntry* e = find(index);
    if (e == nullptr || e->startsOutside) return false;
    offset = e->startLba * sectorSize;
    if (offset >= mediaBytes) return false;
    const std::uint64_t room = mediaBytes - offset;
    length = e->sectorCount > room / sectorSize ? room : e->sectorCount * sectorSize;
    return true;
}

bool LooksLikeBootSector(const std::uint8_t* s) {
    if (std::memcmp(s + 3, "EXFAT   ", 8) == 0 || std::memcmp(s + 3, "NTFS    ", 8) == 0) return true;
    const bool jump = (s[0] == 0xEB && s[2] == 0x90) || s[0] == 0xE9;
    const std::uint16_t bps = Le16(s + 11);
    const bool bpb = isPowerOfTwo(bps) && bps >= 512 && bps <= 4096 && isPowerOfTwo(s[13]) && Le16(s + 14) >= 1 &&
                     s[16] >= 1 && s[16] <= 4 && (Le16(s + 19) != 0 || Le32(s + 32) != 0);
    return jump && bpb;
}

PartitionTable ReadPartitionTable(const MediumReader& read, std::uint64_t mediaBytes) {
    PartitionTable table;
    std::uint8_t mbr[kSector];
    if (mediaBytes < 2 * kSector || !readExact(read, mediaBytes, 0, mbr, kSector)) return table;
    if (mbr[510] != 0x55 || mbr[511] != 0xAA || LooksLikeBootSector(mbr)) return table;

    const std::uint64_t mediaSectors = mediaBytes / kSector;
    bool anyInside = false, protective = false;
    for (int i = 0; i < 4; ++i) {
        const MbrSlot s = slot(mbr, i);
        if (s.status != 0x00 && s.status != 0x80) return table;
        if (s.type == 0 || s.count == 0) continue;
        if (s.type == 0xEE) protective = true;
        if (s.start >= 1 && s.start < mediaSectors) anyInside = true;
    }
    if (!anyInside) return table;
    if (protective && readAnyGpt(read, mediaBytes, table)) return table;

    table.scheme = PartitionScheme::Mbr;
    std::uint64_t extStart = 0;
    for (int i = 0; i < 4; ++i) {
        const MbrSlot s = slot(mbr, i);
        if (s.type == 0 || s.count == 0 || s.type == 0xEE) continue;
        if (isExtendedType(s.type)) {
            if (extStart == 0 && s.start != 0) extStart = s.start;
            continue;
        }
        PartitionEntry e;
        e.index = i + 1;
        e.type = s.type;
        e.bootable = s.status == 0x80;
        e.startLba = s.start;
        e.sectorCount = s.count;
        placeEntry(e, mediaBytes, kSector);
        table.entries.push_back(e);
    }
    if (extStart != 0) walkExtended(read, mediaBytes, extStart, table);
    return table;
}

PartitionTable ParsePartitionTable(const std::uint8_t* data, std::size_t size) {
    const MediumReader read = [data, size](std::uint64_t offset, void* out, std::size_t count) -> std::size_t {
        if (offset >= size) return 0;
        const std::size_t n = std::min<std::uint64_t>(count, size - offset);
        std::memcpy(out, data + offset, n);
        return n;
    };
    return ReadPartitionTable(read, size);
}

std::string PartitionDriveId(const std::string& medium, int index) { return medium + "#" + std::to_string(index); }

bool SplitPartitionDriveId(const std::string& id, std::string& medium, int& index) {
    const auto hash = id.rfind('#');
    if (hash == std::string::npos || hash == 0) return false;
    const std::string digits = id.substr(hash + 1);
    if (digits.empty() || digits.size() > 4 || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    medium = id.substr(0, hash);
    index = std::stoi(digits);
    return true;
}

}  // namespace hx::volumes
