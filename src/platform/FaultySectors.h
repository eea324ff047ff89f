#pragma once
// For tests of damaged media: sectors of a file that fail to read, as those
// of a dying card do (EIO). Named in $HARVESTRIX_FAULTY_SECTORS as
// "FILE:FIRST-LAST,SECTOR;FILE2:..." with 512-byte sector numbers; read once.
// A range written "!FIRST-LAST" ends the process (SIGKILL) when a read
// touches it, as the system may end a program that reads a damaged card.
// Without the variable nothing changes.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace hx::platform {

// How many of `count` bytes from byte `offset` of `path` read before the
// first faulty sector: `count` when none lies in between, 0 when the first does.
std::size_t ReadableBefore(const std::filesystem::path& path, std::uint64_t offset, std::size_t count);

}  // namespace hx::platform
