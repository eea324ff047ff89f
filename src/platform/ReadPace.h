#pragma once
// For benchmarks of the scan against a card's read speed: reads of a file
// that come no faster than a card delivers them. The card reads on by itself
// at its pace, ahead of the program by up to `ahead` bytes (the system's
// read-ahead), so a program that keeps up never waits longer than the card's
// own time; one that falls behind makes the card idle. Without a pace set,
// reads are not touched.
#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace hx::platform {

// Paces the reads of `path` from now on; a pace of 0 ends it.
void PaceReads(const std::filesystem::path& path, double bytesPerSecond, std::uint64_t ahead = 8ull << 20);

// Waits until the card would have delivered bytes [offset, offset + count) of `path`.
void WaitForPace(const std::filesystem::path& path, std::uint64_t offset, std::size_t count);

}  // namespace hx::platform
