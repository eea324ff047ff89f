#pragma once
// Moving a file without ever losing it: within one file system a rename that
// refuses to replace; across file systems a copy that is flushed and checked
// for its size before the original is removed. A move that fails leaves the
// original where it was and nothing half-written at the target.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace hx::platform {

enum class MoveError {
    None,
    SourceMissing,   // the file to move is not there (any more)
    TargetExists,    // never replaced: the caller decides
    FolderMissing,   // the target folder is not there
    ReadOnly,        // the target refuses writing (permissions, read-only mount)
    NoSpace,         // the target is full
    NameRefused,     // the target file system cannot hold the name
    Failed,          // any other read or write error
};

struct MoveResult {
    MoveError error = MoveError::None;
    std::string detail;  // the system's words for it
    bool ok() const { return error == MoveError::None; }
};

// Moves `from` to `to` (a full file path). `to` must not exist. With
// `allowRename` false the file is copied even within one file system.
MoveResult MoveFile(const std::filesystem::path& from, const std::filesystem::path& to, bool allowRename = true);

// Copies `from` to `to` (which must not exist), flushed and size-checked; the
// source stays. On failure nothing is left at `to`.
MoveResult CopyFileSafely(const std::filesystem::path& from, const std::filesystem::path& to);

// Tests only: called before every block the copy writes, with the target and
// the bytes written so far; a nonzero return is taken as that errno.
using CopyFailureHook = std::function<int(const std::filesystem::path& target, std::uint64_t written)>;
void SetCopyFailureHook(CopyFailureHook hook);

}  // namespace hx::platform
