#include "platform/RawFile.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hx::platform {

RawFile::~RawFile() { close(); }

RawFile::RawFile(RawFile&& other) noexcept
    : fd_(other.fd_), error_(other.error_), position_(other.position_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

RawFile& RawFile::operator=(RawFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        error_ = other.error_;
        position_ = other.position_;
        path_ = std::move(other.path_);
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
    return fd_ >= 0;
}

void RawFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::size_t RawFile::readAt(std::uint64_t offset, void* buffer, std::size_t count) {
    if (fd_ < 0) return 0;
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
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

std::size_t RawFile::writeAt(std::uint64_t offset, const void* buffer, std::size_t count) {
    if (fd_ < 0) return 0;
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
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
    return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

void RawFile::adviseSequential() {
    if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void RawFile::dropCache() {
    if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
}

bool isPermissionError(int error) { return error == EACCES || error == EPERM; }

}  // namespace hx::platform
