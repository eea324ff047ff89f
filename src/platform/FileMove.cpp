#include "platform/FileMove.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace hx::platform {

namespace fs = std::filesystem;

namespace {

CopyFailureHook& failureHook() {
    static CopyFailureHook hook;
    return hook;
}

MoveResult fromErrno(int err) {
    MoveResult r;
    r.detail = std::strerror(err);
    switch (err) {
        case 0: r.error = MoveError::None; break;
        case ENOENT: r.error = MoveError::FolderMissing; break;
        case EEXIST: r.error = MoveError::TargetExists; break;
        case EACCES:
        case EPERM:
        case EROFS: r.error = MoveError::ReadOnly; break;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: r.error = MoveError::NoSpace; break;
        case EINVAL:
        case ENAMETOOLONG:
        case EILSEQ: r.error = MoveError::NameRefused; break;
        default: r.error = MoveError::Failed; break;
    }
    return r;
}

// Writes all of `size` bytes, or returns the errno that stopped it.
int writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

void SetCopyFailureHook(CopyFailureHook hook) { failureHook() = std::move(hook); }

MoveResult CopyFileSafely(const fs::path& from, const fs::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        MoveResult r = fromErrno(errno);
        if (errno == ENOENT) r.error = MoveError::SourceMissing;
        return r;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const int err = errno;
        ::close(in);
        return fromErrno(err);
    }
    // O_EXCL: a file that appeared at the target meanwhile is not replaced.
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return fromErrno(err);
    }
    int err = 0;
    std::uint64_t written = 0;
    std::vector<std::uint8_t> buffer(1u << 20);
    while (err == 0) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        if (n == 0) break;
        if (failureHook()) err = failureHook()(to, written);
        if (err == 0) err = writeAll(out, buffer.data(), static_cast<std::size_t>(n));
        written += static_cast<std::uint64_t>(n);
    }
    // Only bytes that reached the disk count as saved.
    if (err == 0 && ::fsync(out) != 0) err = errno;
    if (::close(out) != 0 && err == 0) err = errno;
    ::close(in);
    struct stat copied {};
    if (err == 0 && (::stat(to.c_str(), &copied) != 0 || copied.st_size != st.st_size)) err = EIO;
    if (err != 0) {
        ::unlink(to.c_str());
        return fromErrno(err);
    }
    return {};
}

MoveResult MoveFile(const fs::path& from, const fs::path& to, bool allowRename) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return {MoveError::SourceMissing, std::strerror(errno)};
    if (::lstat(to.c_str(), &st) == 0) return {MoveError::TargetExists, {}};
    if (allowRename) {
        // RENAME_NOREPLACE: even a file that appears meanwhile is never replaced.
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
        const int err = errno;
        if (err != EXDEV && err != EINVAL && err != ENOSYS) return fromErrno(err);
    }
    MoveResult copied = CopyFileSafely(from, to);
    // The copy is whole on the disk: only now does the original go. Should
    // that fail, both stay rather than either being lost.
    if (copied.ok()) ::unlink(from.c_str());
    return copied;
}

}  // namespace hx::platform
