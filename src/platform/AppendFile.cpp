#include "platform/AppendFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hx::platform {

CopySource::~CopySource() { close(); }

bool CopySource::open(const std::filesystem::path& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    usable_ = fd_ >= 0;
    return fd_ >= 0;
}

void CopySource::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool CopySource::isRegularFile() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

std::size_t CopySource::readAt(std::uint64_t offset, void* buffer, std::size_t size) {
    std::size_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (fd_ >= 0 && done < size) {
        const ssize_t n = ::pread(fd_, p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

AppendFile::~AppendFile() { close(); }

AppendFile::AppendFile(AppendFile&& other) noexcept : fd_(other.fd_), failed_(other.failed_) { other.fd_ = -1; }

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        failed_ = other.failed_;
        other.fd_ = -1;
    }
    return *this;
}

bool AppendFile::create(const std::filesystem::path& path) {
    close();
    failed_ = false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool AppendFile::openAppend(const std::filesystem::path& path) {
    close();
    failed_ = false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    return fd_ >= 0;
}

bool AppendFile::append(const void* data, std::size_t size) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t AppendFile::appendFrom(CopySource& source, std::uint64_t offset, std::size_t size) {
    if (fd_ < 0 || !source.usable()) return 0;
    std::size_t done = 0;
    auto from = static_cast<off64_t>(offset);
    while (done < size) {
        const ssize_t n = ::copy_file_range(source.fd_, &from, fd_, nullptr, size - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == ENOSPC || errno == EDQUOT)) {
            failed_ = true;
            break;
        }
        if (n <= 0) {
            // Not between these two (devices, other file systems): plain writes from now on.
            source.usable_ = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool AppendFile::close() {
    if (fd_ < 0) return !failed_;
    const bool ok = ::close(fd_) == 0 && !failed_;
    fd_ = -1;
    return ok;
}

}  // namespace hx::platform
