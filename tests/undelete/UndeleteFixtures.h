#pragma once
// Real media for the undelete tests: NTFS through ntfs-3g, exFAT through a
// loop device and exfat-fuse, FAT through mtools. Files are deleted by the
// file system itself.
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/MediaImages.h"
#include "fixtures/TempDir.h"
#include "undelete/UndeleteEntry.h"

namespace hx::test {

// A FUSE mount of an image (NTFS) or of a loop device over it (exFAT),
// unmounted (and the loop device freed) when it goes out of scope.
class FuseMount {
public:
    enum class Kind { Ntfs, Exfat };
    // `options`: extra mount options (ntfs-3g "compression").
    FuseMount(Kind kind, const std::filesystem::path& image, const std::filesystem::path& dir,
              const std::string& options = {});
    ~FuseMount();
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    // Flushes and unmounts now.
    void unmount();
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path dir_;
    std::string image_;
    std::string loop_;
    std::string error_;
    bool ok_ = false;
    bool mounted_ = false;
};

// Why FUSE or loop devices cannot be used here, or empty when they can.
std::string FuseUnavailableReason(bool needLoop);

// The entry listed under `name` (its list name or its file name); a deleted
// FAT short name matches whatever its lost first letter was. Null if none.
const undelete::UndeleteEntry* FindListed(const std::vector<undelete::UndeleteEntry>& list, const std::string& name);

}  // namespace hx::test

// The undelete tests use these helpers as their own.
namespace hx::undelete {
namespace fs = std::filesystem;
using test::PatternBytes;
using test::ReadFile;
using test::RunCommand;
using test::WriteFile;
}  // namespace hx::undelete
