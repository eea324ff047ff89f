#include "platform/RawFile.h"

#include "platform/ReadGuard.h"

#include "platform/DiskService.h"
#include "platform/MappedFile.h"
#include "platform/ReadPace.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace hx::platform {

RawFile::RawFile() = default;
RawFile::~RawFile() { close(); }

RawFile::RawFile(RawFile&& other) noexcept
    : fd_(other.fd_),
      uncachedFd_(other.uncachedFd_),
      error_(other.error_),
      position_(other.position_),
      path_(std::move(other.path_)),
      windowed_(other.windowed_),
      base_(other.base_),
      length_(other.length_),
      map_(std::move(other.map_)),
      guard_(std::move(other.guard_)) {
    other.fd_ = -1;
    other.uncachedFd_ = -1;
}

RawFile& RawFile::operator=(RawFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        uncachedFd_ = other.uncachedFd_;
        other.uncachedFd_ = -1;
        error_ = other.error_;
        position_ = other.position_;
        path_ = std::move(other.path_);
        windowed_ = other.windowed_;
        base_ = other.base_;
        length_ = other.length_;
        map_ = std::move(other.map_);
        guard_ = std::move(other.guard_);
        other.fd_ = -1;
    }
    return *this;
}

bool RawFile::open(const std::filesystem::path& path, Mode mode) {
    close();
    path_ = path;
    position_ = 0;
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read: flags |= O_RDONLY; break;
        case Mode::ReadWrite: flags |= O_RDWR; break;
        case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    error_ = fd_ < 0 ? errno : 0;
    // A device this user may not open: the desktop's disk service may open it for them.
    if (fd_ < 0 && isPermissionError(error_) && mode != Mode::Create) {
        const DiskServiceOpen served = OpenThroughDiskService(path.string(), mode == Mode::ReadWrite);
        if (served.fd >= 0) {
            fd_ = served.fd;
            error_ = 0;
        }
    }
    // A device read while a command guards its reads: a read that hangs
    // does not hold it (a handle with a guard of its own keeps that one).
    if (fd_ >= 0 && mode == Mode::Read && !guard_) {
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode)) guard_ = GuardDeviceReads::forDevice();
    }
    return fd_ >= 0;
}

void RawFile::closeWith(int error) {
    close();
    error_ = error;
}

void RawFile::nameAs(const std::filesystem::path& id) { path_ = id; }

EntryFacts RawFile::facts() const { return EntryOfOpen(fd_); }

void RawFile::setWindow(std::uint64_t base, std::uint64_t length) {
    windowed_ = true;
    base_ = base;
    length_ = length;
}

std::size_t RawFile::clip(std::uint64_t offset, std::size_t count) const {
    if (!windowed_) return count;
    if (offset >= length_) return 0;
    return static_cast<std::size_t>(std::min<std::uint64_t>(count, length_ - offset));
}

void RawFile::close() {
    map_.reset();
    if (fd_ >= 0) ::close(fd_);
    if (uncachedFd_ >= 0) ::close(uncachedFd_);
    fd_ = uncachedFd_ = -1;
    windowed_ = false;
    base_ = length_ = 0;
}

// Repeats a pread/pwrite step until the bytes that fit the window are moved,
// the end of the file is reached or an error other than EINTR occurs. The
// step gets the absolute offset, the bytes done so far and the bytes left.
template <typename Step>
std::size_t RawFile::transfer(std::uint64_t offset, std::size_t count, Step step) {
    if (fd_ < 0) return 0;
    count = clip(offset, count);
    offset += base_;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = step(static_cast<off_t>(offset + done), done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            break;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t RawFile::readAt(std::uint64_t offset, void* buffer, std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    error_ = 0;
    WaitForPace(path_, offset + base_, clip(offset, count));
    return transfer(offset, count, [&](off_t at, std::size_t done, std::size_t left) {
        return guard_ ? guard_->pread(fd_, out + done, left, at) : ::pread(fd_, out + done, left, at);
    });
}

namespace {
// uncachedFd_ before the first uncached read, where the file cannot be read
// so, and where the descriptor itself reads past the cache for each.
constexpr int kNotYet = -1, kCachedOnly = -2, kOwnDescriptor = -3;
}  // namespace

std::size_t RawFile::readAtUncached(std::uint64_t offset, void* buffer, std::size_t count) {
    constexpr std::size_t kAlign = 4096;
    if (fd_ < 0) return 0;
    if (uncachedFd_ == kNotYet) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        uncachedFd_ = ::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
        // A descriptor handed over by the desktop's disk service may not be
        // opened again by this user: its own reads go past the cache then,
        // the flag set for each and taken off after.
        const int flags = uncachedFd_ < 0 ? ::fcntl(fd_, F_GETFL) : -1;
        if (uncachedFd_ < 0)
            uncachedFd_ = flags >= 0 && ::fcntl(fd_, F_SETFL, flags | O_DIRECT) == 0 && ::fcntl(fd_, F_SETFL, flags) == 0
                               ? kOwnDescriptor
                               : kCachedOnly;
    }
    count = clip(offset, count);
    if (uncachedFd_ == kCachedOnly || count == 0 || count > (1u << 20)) return readAt(offset, buffer, count);
    error_ = 0;
    WaitForPace(path_, offset + base_, count);
    // A guard reads into aligned memory of its own; else the read goes into ours.
    void* aligned = nullptr;
    const std::size_t rounded = (count + kAlign - 1) / kAlign * kAlign;
    if (!guard_ && ::posix_memalign(&aligned, kAlign, rounded) != 0) return readAt(offset, buffer, count);
    void* into = guard_ ? buffer : aligned;
    const int fd = uncachedFd_ == kOwnDescriptor ? fd_ : uncachedFd_;
    const int flags = fd == fd_ ? ::fcntl(fd_, F_GETFL) : -1;
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_DIRECT);
    ssize_t n;
    do n = guard_ ? guard_->pread(fd, into, count, static_cast<off_t>(offset + base_))
                  : ::pread(fd, into, count, static_cast<off_t>(offset + base_));
    while (n < 0 && errno == EINTR);
    if (n < 0) error_ = errno;
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags);
    const std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (aligned) std::memcpy(buffer, aligned, got);
    ::free(aligned);
    if (n < 0 && error_ == EINVAL) return readAt(offset, buffer, count);  // an offset or size the device does not take so
    return got;
}

std::size_t RawFile::writeAt(std::uint64_t offset, const void* buffer, std::size_t count) {
    const auto* in = static_cast<const char*>(buffer);
    return transfer(offset, count, [&](off_t at, std::size_t done, std::size_t left) {
        return ::pwrite(fd_, in + done, left, at);
    });
}

std::size_t RawFile::read(void* buffer, std::size_t count) {
    std::size_t n = readAt(position_, buffer, count);
    position_ += n;
    return n;
}

std::size_t RawFile::write(const void* buffer, std::size_t count) {
    std::size_t n = writeAt(position_, buffer, count);
    position_ += n;
    return n;
}

std::uint64_t RawFile::size() const {
    if (fd_ < 0) return 0;
    if (windowed_) return length_;
    return deviceSize();
}

std::uint64_t RawFile::deviceSize() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
    if (S_ISBLK(st.st_mode)) {
        std::uint64_t bytes = 0;
        if (::ioctl(fd_, BLKGETSIZE64, &bytes) == 0) return bytes;
        return 0;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

bool RawFile::flush() { return fd_ >= 0 && ::fsync(fd_) == 0; }

bool RawFile::truncate(std::uint64_t length) {
    return fd_ >= 0 && !windowed_ && ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

void RawFile::adviseSequential() {
    if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

const std::uint8_t* RawFile::view(std::uint64_t offset, std::size_t& count) {
    if (!map_) {
        map_ = std::make_unique<MappedFile>();
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
            map_->map(fd_, static_cast<std::uint64_t>(st.st_size));
    }
    const std::uint64_t at = offset + base_;
    count = map_->mapped() && at < map_->size() ? clip(offset, count) : 0;
    if (count > 0) WaitForPace(path_, at, count);
    // Each page read once here: one the system cannot read ends the view before it.
    if (count > 0) count = map_->touch(at, count);
    if (count == 0) return nullptr;
    map_->releaseBefore(at);
    return map_->data() + at;
}

void RawFile::dropCache() {
    if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
}

bool isPermissionError(int error) { return error == EACCES || error == EPERM; }

}  // namespace hx::platform
