#pragma once
// "QX Adaptive": learning the signatures of file types from sample files.
// Each sample gives its first 1024 bytes and its last 16; what the samples
// of a type share becomes up to six signature variants in the type's record
// (see AdaptiveRecord.h), which the type store turns into scan-table rows.
#include <cstdint>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "shell/Ui.h"

#include "learning/AdaptiveRecord.h"

namespace hx::learning {

// `stored` when `sample` begins with it, else the longest common beginning.
std::string CommonPrefix(const std::string& sample, const std::string& stored);
// The longest run found in both (first found scanning `a` wins), taken from
// `a`; `start` gets its 1-based position in `a`. Empty when either is.
std::string LongestCommonSubstring(const std::string& a, const std::string& b, int& start);
// The longest run of equal positions over the shorter length (first wins),
// from `a`; `start` gets its 1-based start, or grows by one when none.
std::string AlignedCommonRun(const std::string& a, const std::string& b, int& start);
// Where in the first 1024 bytes a 32-bit field holds the file's length
// `length` (or length minus its offset): (offset, kind), kind 2 little-endian,
// kind 1 with its 16-bit halves swapped; (0, 0) when none.
std::pair<int, int> FindSizeField(const std::string& block, std::uint64_t length);

struct LearnOptions {
    bool automatic = false;  // during a scan: about 200 samples, 30 seconds, nothing shown
    unsigned shuffle = 0;    // picks where within the first step the samples begin
    // Called per sample with the files done, all files and the status line
    // (".abc#0 Analized: 57 reliability: 98.25%"); false stops the learning.
    std::function<bool(std::size_t done, std::size_t total, const std::string& status)> progress;
};

struct LearnResult {
    std::vector<std::string> types;  // the types met ("abc"), in order
    std::size_t samples = 0;         // samples that counted
};

// Learns from `files` into the records in `folder`, then cleans the records
// of the types met (drops unreliable variants, merges overlapping ones).
LearnResult LearnFromFiles(const std::filesystem::path& folder, const std::vector<std::filesystem::path>& files,
                           const LearnOptions& options);

// Condenses the record of `type` in `folder` as the end of a learning run does.
void CleanLearnedType(const std::filesystem::path& folder, const std::string& type, bool automatic);

// Every file below `folder`, recursively, by full path (bounded to 2 million,
// and by `until` when one is given: what was found by then).
std::vector<std::filesystem::path> GatherFolder(const std::filesystem::path& folder,
                                                std::chrono::steady_clock::time_point until = {});
// The files below `roots` whose extension is one of `types` ("jpg", or "*" for
// any), leaving out the program's own caches and temporary folders.
std::vector<std::filesystem::path> GatherTypes(const std::vector<std::filesystem::path>& roots,
                                               const std::vector<std::string>& types,
                                               std::chrono::steady_clock::time_point until = {});
// The same through the file search (utilities/FileSearch) on the drives or
// folders that `disks` names (blank or comma separated; empty: every drive),
// one pattern "*.type" after the other, with its progress and its stop.
std::vector<std::filesystem::path> SearchTypes(const std::vector<std::string>& types, const std::string& disks,
                                               shell::Ui& ui);

// What a user typed when asked what to learn from: words are types ("jpg"),
// a word with a "/" is a folder to search them in (blanks, commas and dots
// part the words). `disks` names the folders as SearchTypes takes them.
struct LearnAnswer {
    std::vector<std::string> types;
    std::string disks;
};
LearnAnswer ReadLearnAnswer(std::string text);

}  // namespace hx::learning
