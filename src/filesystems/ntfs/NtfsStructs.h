#pragma once
// NTFS on-disk structures: boot sector, FILE record fixups, the attribute
// walk and data runs. Pure functions over byte buffers, every offset checked,
// so they can be fed anything read from a medium.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/DriveRecord.h"
#include "platform/ByteOrder.h"

namespace hx::filesystems::ntfs {

constexpr std::uint32_t kAttrStandardInformation = 0x10;
constexpr std::uint32_t kAttrAttributeList = 0x20;
constexpr std::uint32_t kAttrFileName = 0x30;
constexpr std::uint32_t kAttrData = 0x80;
constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;

constexpr std::uint16_t kAttrFlagCompressed = 0x0001;
constexpr std::uint16_t kAttrFlagEncrypted = 0x4000;

constexpr std::uint16_t kRecordInUse = 0x0001;
constexpr std::uint16_t kRecordDirectory = 0x0002;

constexpr std::uint8_t kNamespacePosix = 0;
constexpr std::uint8_t kNamespaceWin32 = 1;
constexpr std::uint8_t kNamespaceDos = 2;
constexpr std::uint8_t kNamespaceWin32AndDos = 3;

using platform::Le16;
using platform::Le32;
using platform::Le64;

struct BootSector {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t bytesPerCluster = 0;
    std::uint64_t totalSectors = 0;
    std::uint64_t totalClusters = 0;
    std::uint64_t mftLcn = 0;
    std::uint64_t mftMirrLcn = 0;  // $MFTMirr: a copy of the first four records; 0 when none can be used
    std::uint32_t recordSize = 0;
};

// Parses an NTFS boot sector; nullopt when it is not one or its geometry is absurd.
std::optional<BootSector> ParseBootSector(const std::uint8_t* data, std::size_t size);

// An NTFS drive's geometry as ParseBootSector read it when the drive was
// catalogued; the record holds it (DriveRecord::Opened).
struct OpenedNtfs : media::OpenedFileSystem {
    explicit OpenedNtfs(const BootSector& b) : boot(b) {}
    BootSector boot;
};
// The record's NTFS geometry; null when its boot sector gave none that can be used.
const BootSector* NtfsGeometryOf(const media::DriveRecord& rec);

// Checks the "FILE" signature and undoes the update-sequence fixups in place
// (one 2-byte check value at the end of every 512-byte stride). False on any mismatch.
bool ApplyFixups(std::uint8_t* record, std::size_t size);

// One attribute found by the walk: offset and length inside the record.
struct AttrRef {
    std::uint32_t type = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    bool nonResident = false;
    std::uint8_t nameLength = 0;
    std::uint16_t id = 0;
};

struct RecordHeader {
    std::uint16_t sequence = 0;
    std::uint16_t flags = 0;
    std::uint64_t baseRecord = 0;  // 48-bit record number of the base record, 0 for a base record
    std::uint32_t bytesInUse = 0;
};

// Walks the attributes of a fixed-up record. Every attribute returned lies
// inside the record's used bytes and has a plausible header; a malformed
// chain makes the whole record invalid (false).
bool WalkAttributes(const std::uint8_t* record, std::size_t size, RecordHeader& header, std::vector<AttrRef>& attrs);

// Resident value of an attribute (bounds-checked): pointer and length, or nullptr.
const std::uint8_t* ResidentValue(const std::uint8_t* attr, std::size_t attrLength, std::uint32_t& valueLength);

struct NonResidentHeader {
    std::int64_t startVcn = 0;
    std::int64_t lastVcn = 0;
    std::uint16_t runsOffset = 0;
    std::uint16_t compressionUnit = 0;
    std::uint16_t flags = 0;
    std::int64_t allocatedSize = 0;
    std::int64_t realSize = 0;
    std::int64_t initializedSize = 0;
};
bool ParseNonResident(const std::uint8_t* attr, std::size_t attrLength, NonResidentHeader& out);

// A data run: `length` clusters at `lcn`, or sparse (lcn < 0).
struct Run {
    std::int64_t vcn = 0;
    std::int64_t lcn = -1;
    std::int64_t length = 0;
};
// Decodes a run list starting at VCN `startVcn`. False when it is malformed or
// a run reaches past `totalClusters` (0: no volume check).
bool DecodeRuns(const std::uint8_t* runs, std::size_t size, std::int64_t startVcn, std::uint64_t totalClusters,
                std::vector<Run>& out);
// Encodes runs back into a run list (used to merge the pieces of a split attribute).
std::vector<std::uint8_t> EncodeRuns(const std::vector<Run>& runs);

struct FileNameInfo {
    std::uint64_t parentRecord = 0;  // 48-bit record number
    std::uint16_t parentSequence = 0;
    std::uint8_t nameSpace = 0;
    std::string name;  // UTF-8
};
// Reads a $FILE_NAME attribute (header included).
bool ParseFileName(const std::uint8_t* attr, std::size_t attrLength, FileNameInfo& out);

// UTF-16LE name characters as UTF-8; lone surrogates become '?'.
std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t chars);
// The name of an attribute (a stream's name for $DATA); false when it has
// none or it does not fit in the attribute's `attrLength` bytes.
bool AttributeName(const std::uint8_t* attr, std::size_t attrLength, std::string& name);
// Appends one code point (below 0x110000) as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

// Expands one LZNT1 compression unit (NTFS compressed files) into `out`,
// which is zero-filled first. Returns false on malformed input (what was
// expanded so far stays in `out`).
bool Lznt1Decompress(const std::uint8_t* in, std::size_t inLen, std::uint8_t* out, std::size_t outLen);

}  // namespace hx::filesystems::ntfs
