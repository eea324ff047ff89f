// MFT FILE records, NTFS boot sectors and compressed units from a medium:
// fixups, the attribute walk, names, data runs, LZNT1. Whatever the bytes, no crash and no hang.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "filesystems/ntfs/NtfsStructs.h"

using namespace hx::filesystems::ntfs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    ParseBootSector(data, size);
    const std::uint8_t mode = data[0];
    if (mode & 4) {
        // Compressed data of NTFS files: one unit of 16 clusters of 4 KiB.
        std::vector<std::uint8_t> unit(65536);
        Lznt1Decompress(data + 1, size - 1, unit.data(), unit.size());
        return 0;
    }
    const std::size_t recordSize = (mode & 2) ? 4096 : 1024;
    std::vector<std::uint8_t> rec(recordSize, 0);
    std::memcpy(rec.data(), data + 1, std::min(size - 1, recordSize));
    if (mode & 1) {
        // Make the header and the fixups valid so that the walk itself is reached.
        std::memcpy(rec.data(), "FILE", 4);
        rec[4] = 48, rec[5] = 0;
        const std::uint16_t count = static_cast<std::uint16_t>(recordSize / 512 + 1);
        rec[6] = count & 0xFF, rec[7] = count >> 8;
        for (std::size_t s = 1; s < count; ++s) {
            rec[s * 512 - 2] = rec[48];
            rec[s * 512 - 1] = rec[49];
        }
    }
    if (!ApplyFixups(rec.data(), rec.size())) return 0;
    RecordHeader header;
    std::vector<AttrRef> attrs;
    WalkAttributes(rec.data(), rec.size(), header, attrs);
    for (const auto& a : attrs) {
        const std::uint8_t* p = rec.data() + a.offset;
        FileNameInfo fn;
        ParseFileName(p, a.length, fn);
        std::string streamName;
        AttributeName(p, a.length, streamName);
        std::uint32_t len = 0;
        ResidentValue(p, a.length, len);
        NonResidentHeader nr;
        if (ParseNonResident(p, a.length, nr)) {
            std::vector<Run> runs;
            if (DecodeRuns(p + nr.runsOffset, a.length - nr.runsOffset, nr.startVcn, 0, runs)) {
                const auto again = EncodeRuns(runs);
                std::vector<Run> back;
                DecodeRuns(again.data(), again.size(), nr.startVcn, 0, back);
                if (back.size() != runs.size()) __builtin_trap();
            }
        }
    }
    return 0;
}
