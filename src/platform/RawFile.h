#pragma once
// A file or block device opened for positioned reads and writes. The only
// place where the engine touches file descriptors directly.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/DirectoryEntry.h"

namespace hx::platform {

class MappedFile;
class ReadGuard;

class RawFile {
public:
    enum class Mode { Read, ReadWrite, Create };

    RawFile();
    ~RawFile();
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    RawFile(RawFile&& other) noexcept;
    RawFile& operator=(RawFile&& other) noexcept;

    // Opens a file or device. On failure isOpen() is false and lastError() holds errno.
    bool open(const std::filesystem::path& path, Mode mode);
    void close();
    // Closes, and says why the file could not be used.
    void closeWith(int error);
    bool isOpen() const { return fd_ >= 0; }
    int lastError() const { return error_; }
    const std::filesystem::path& path() const { return path_; }
    // What the open file is: a plain file or a device, and which version of it.
    EntryFacts facts() const;

    // Reads up to `count` bytes at `offset`, retrying short reads until end of
    // file or an error. Returns the number of bytes read (0 at end or on error).
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count);
    std::size_t writeAt(std::uint64_t offset, const void* buffer, std::size_t count);
    // As readAt, past the system's cache: a device then answers for each of
    // its sectors on its own, where a cached read fails a whole page for one
    // bad sector. `offset` and `count` are whole sectors; a file that cannot
    // be read so is read as readAt reads it. A descriptor that cannot be
    // opened again (one the desktop's disk service handed over) reads past
    // the cache itself, for these reads only.
    std::size_t readAtUncached(std::uint64_t offset, void* buffer, std::size_t count);

    // Reads from now on (also after the file is opened again) as `guard`
    // guards them, that may never return: none to read as they come.
    void guardReads(std::shared_ptr<ReadGuard> guard) { guard_ = std::move(guard); }

    // Sequential access from the current position (set by seek()).
    void seek(std::uint64_t offset) { position_ = offset; }
    std::uint64_t position() const { return position_; }
    std::size_t read(void* buffer, std::size_t count);
    std::size_t write(const void* buffer, std::size_t count);

    // Size of a regular file, or of a block device (ioctl BLKGETSIZE64); the
    // window's length when one is set.
    std::uint64_t size() const;
    bool flush();
    // Refused (false) while a window is set: a partition is never cut.
    bool truncate(std::uint64_t length);

    // Every offset of readAt/writeAt/seek then counts from `base`, and nothing
    // at or beyond `length` is read or written. Open files only.
    void setWindow(std::uint64_t base, std::uint64_t length);
    bool windowed() const { return windowed_; }
    // The id the file answers to from now on (a partition's, for a window of its medium).
    void nameAs(const std::filesystem::path& id);
    std::uint64_t windowBase() const { return base_; }
    // Tells the kernel the file is read front to back.
    void adviseSequential();
    // Drops the file's clean cached pages, so that the next reads come from the medium.
    void dropCache();
    // Up to `count` bytes at `offset` of a regular file, looked at where the
    // system caches them instead of copied: the file is mapped for reading at
    // the first call. `count` becomes the bytes there (cut as readAt cuts a
    // read: at the window's or the file's end, at a page that cannot be read,
    // after the pace); null when none, or for a device or a file that cannot be mapped.
    // Valid until close(). The pages before `offset` are let go: a reader
    // that goes front to back holds only what it looks at.
    const std::uint8_t* view(std::uint64_t offset, std::size_t& count);

private:
    int fd_ = -1;
    int uncachedFd_ = -1;  // the same file opened past the cache, at the first readAtUncached (or what stands for it)
    int error_ = 0;
    std::uint64_t position_ = 0;
    std::filesystem::path path_;
    bool windowed_ = false;
    std::uint64_t base_ = 0;
    std::uint64_t length_ = 0;
    std::unique_ptr<MappedFile> map_;  // made by the first view()
    std::shared_ptr<ReadGuard> guard_;

    std::uint64_t deviceSize() const;
    // Bytes of a transfer at `offset` that fit in the window.
    std::size_t clip(std::uint64_t offset, std::size_t count) const;
    // The loop shared by readAt and writeAt.
    template <typename Step>
    std::size_t transfer(std::uint64_t offset, std::size_t count, Step step);
};

// True when errno says we lack permission (EACCES/EPERM): the caller shows the rights notice.
bool isPermissionError(int error);

}  // namespace hx::platform
