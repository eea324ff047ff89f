#pragma once
// What the photo joiner's files share: its limits, and the read of a find's
// copy in the cache. Inside the photo joiner only.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace hx::reassembly::photos::limits {

// Pictures larger than this are not joined.
constexpr std::uint64_t kMaxPicture = 64ull << 20;
// Split points tried before the first fault, in units.
constexpr std::uint64_t kSplitBack = 4;
// Gaps of other data tried, in units.
constexpr std::uint64_t kMaxGap = 16;
// Found files between the pieces that are stepped over, at most.
constexpr std::size_t kMaxBetween = 4;
// Bytes of the continuation decoded to judge a join (the first kLook of them
// must look like picture data before any is decoded).
constexpr std::size_t kProbe = 128 * 1024;
// Joins tried in one scan, and for one picture, at most (each decodes the
// first piece again).
constexpr int kMaxProbes = 2000;
constexpr int kProbesPerPicture = 96;
// Second pieces shorter than the probe followed, and the tries each gets for the piece after it.
constexpr std::size_t kShorterTried = 4;
constexpr int kShorterProbes = 24;
// Places right after other finds, anywhere on the medium, tried for a second piece.
constexpr std::size_t kFarCandidates = 256;
// Pieces of one picture joined at most.
constexpr int kMaxPieces = 4;
// The continuation is read in pieces of this size until its end marker.
constexpr std::size_t kChunk = 1 << 20;
// A place to start the entropy walk again is kept about every so many bytes.
constexpr std::size_t kMarkEvery = 256;
// On a medium written in blocks: how far on a second piece is looked for, the
// found files it takes to tell the block size, and the largest block told.
constexpr std::uint64_t kReach = 32ull << 20;
// Back before the picture's start (a card whose allocation wrapped), and the
// places looked at this far off, at most, for one split of one picture and
// for the whole scan (a first glance at each is a sector's read).
constexpr std::uint64_t kReachBack = 16ull << 20;
constexpr std::size_t kMaxFarCandidates = 16384;
constexpr int kMaxGlances = 1 << 20;
constexpr std::size_t kGlance = 512;
// How far before the other data the entropy walk may stop.
constexpr std::uint64_t kReadAhead = 16;

// A find's copy in the cache, whole; empty when it is larger than `cap`.
inline std::vector<std::uint8_t> readFile(const std::filesystem::path& path, std::uint64_t cap) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes;
    if (!in) return bytes;
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(in.tellg());
    if (size > cap) return bytes;
    in.seekg(0);
    bytes.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return bytes;
}

}  // namespace hx::reassembly::photos::limits
