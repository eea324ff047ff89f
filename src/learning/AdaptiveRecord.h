#pragma once
// What "QX Adaptive" learned of one file type, as kept in the learned-type
// folder: the record in QX_<type>.dat (six signature variants, "slots") and
// the sample log in QXAnalyze_<type>.dat. Both are written field after field
// with no padding: a variable string as a 16-bit little-endian length and its
// bytes, a fixed string as exactly its length, integers little-endian.
// Byte strings hold one byte per character and compare exactly.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace hx::learning {

constexpr int kAdaptiveSlots = 6;
constexpr int kSampleLogEntries = 100;

struct AdaptiveTypeRecord {
    std::string Extension;    // ".abc", lower case; empty: never filled
    std::string DisplayName;  // 10 characters: the type in capitals, cut to 8, blank-padded
    std::array<std::string, kAdaptiveSlots> HeadPattern, BodyPattern, TailPattern, TailBody;
    std::array<std::int16_t, kAdaptiveSlots> SizeOffset{}, SizeKind{};
    std::array<std::string, kAdaptiveSlots> ExtraPattern1, ExtraPattern2;
    std::array<std::int32_t, kAdaptiveSlots> Hits{}, Samples{};
    std::int16_t CurrentSlot = 0;
    std::array<std::int32_t, kAdaptiveSlots> TailStart{};

    bool operator==(const AdaptiveTypeRecord&) const = default;
};

struct AdaptiveSampleLog {
    std::string Extension;  // 5 characters
    std::array<std::string, kSampleLogEntries> SampleHead, SampleBlock;
    std::int16_t NextIndex = 0;

    bool operator==(const AdaptiveSampleLog&) const = default;
};

// The record's and the log's bytes, and back. Reading stops where the bytes
// end: what is missing reads as empty or 0.
std::string EncodeAdaptiveRecord(const AdaptiveTypeRecord& record);
AdaptiveTypeRecord DecodeAdaptiveRecord(const std::string& bytes);
std::string EncodeSampleLog(const AdaptiveSampleLog& log);
AdaptiveSampleLog DecodeSampleLog(const std::string& bytes);

// Reads `fileName` in `folder`; a missing or short file reads as an empty record.
AdaptiveTypeRecord LoadAdaptiveRecord(const std::filesystem::path& folder, const std::string& fileName);
bool SaveAdaptiveRecord(const std::filesystem::path& folder, const std::string& fileName,
                        const AdaptiveTypeRecord& record);

// Adds a sample's first 16 and 1024 bytes to the log of `type` ("abc") in
// `folder`, at its next index (wrapping after 99 to 0).
bool LogSample(const std::filesystem::path& folder, const std::string& type, const std::string& head,
               const std::string& block);

// "QX_abc.dat" and "QXAnalyze_abc.dat" for type "abc".
std::string LearnedFileName(const std::string& type);
std::string SampleLogFileName(const std::string& type);
// The 10-character display name of extension ".abc": "ABC       ".
std::string AdaptiveDisplayName(const std::string& extension);

}  // namespace hx::learning
