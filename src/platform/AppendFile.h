#pragma once
// Files written front to back that can also take bytes straight from another
// file inside the kernel (copy_file_range): a found file is copied out of an
// image without passing through our buffers a second time.
#include <cstdint>
#include <filesystem>

namespace hx::platform {

// The source of such copies: a file or device opened read-only.
class CopySource {
public:
    CopySource() = default;
    ~CopySource();
    CopySource(const CopySource&) = delete;
    CopySource& operator=(const CopySource&) = delete;
    bool open(const std::filesystem::path& path);
    void close();
    // False once the kernel refused to copy from it (a block device, say).
    bool usable() const { return fd_ >= 0 && usable_; }
    // A regular file: reading it again costs no trip to the medium.
    bool isRegularFile() const;
    // Plain positioned read, for when the kernel cannot copy; bytes read.
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t size);

private:
    friend class AppendFile;
    int fd_ = -1;
    bool usable_ = true;
};

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    AppendFile(AppendFile&& other) noexcept;
    AppendFile& operator=(AppendFile&& other) noexcept;

    bool create(const std::filesystem::path& path);      // empty, replacing an old file
    bool openAppend(const std::filesystem::path& path);  // at the end of an existing file
    bool isOpen() const { return fd_ >= 0; }
    bool append(const void* data, std::size_t size);
    // Appends `size` bytes of `source` from `offset`; returns how many were
    // copied (fewer when the kernel cannot, then the caller appends the rest).
    std::size_t appendFrom(CopySource& source, std::uint64_t offset, std::size_t size);
    // False when an earlier write or the close failed.
    bool close();
    bool failed() const { return failed_; }

private:
    int fd_ = -1;
    bool failed_ = false;
};

}  // namespace hx::platform
