#include "platform/MappedFile.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hx::platform {

namespace {

// The mappings the guard answers for: a page of one that cannot be read is
// replaced by a page of zeros and the mapping marked, so the read goes on.
struct Guarded {
    std::atomic<std::uintptr_t> begin{0}, end{0};
    std::atomic<bool> faulted{false};  // since the touch that looks
    std::atomic<bool> broken{false};   // since the mapping was made
};
constexpr int kSlots = 16;
Guarded gGuarded[kSlots];
std::uintptr_t gPage = 4096;
struct sigaction gPrevious {};

void onBusError(int signal, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Guarded& g : gGuarded) {
        const std::uintptr_t begin = g.begin.load();
        if (begin == 0 || at < begin || at >= g.end.load()) continue;
        void* page = reinterpret_cast<void*>(at & ~(gPage - 1));
        if (::mmap(page, gPage, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) break;
        g.faulted.store(true);
        g.broken.store(true);
        return;
    }
    // Not one of ours: as it would have gone without the guard.
    if (gPrevious.sa_flags & SA_SIGINFO) {
        gPrevious.sa_sigaction(signal, info, context);
        return;
    }
    if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
        gPrevious.sa_handler(signal);
        return;
    }
    ::signal(SIGBUS, SIG_DFL);
    ::raise(SIGBUS);
}

void installGuard() {
    static std::once_flag once;
    std::call_once(once, [] {
        gPage = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &gPrevious);
    });
}

}  // namespace

bool MappedFile::map(int fd, std::uint64_t bytes) {
    unmap();
    if (fd < 0 || bytes == 0) return false;
    installGuard();
    int slot = -1;
    for (int i = 0; i < kSlots && slot < 0; ++i) {
        std::uintptr_t free = 0;
        // Taken with a placeholder; the real range is set once the mapping exists.
        if (gGuarded[i].begin.compare_exchange_strong(free, 1)) slot = i;
    }
    if (slot < 0) return false;  // more mappings than the guard holds: read them with copies
    void* m = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    if (m == MAP_FAILED) {
        gGuarded[slot].begin.store(0);
        return false;
    }
    ::madvise(m, bytes, MADV_SEQUENTIAL);
    Guarded& g = gGuarded[slot];
    g.faulted.store(false);
    g.broken.store(false);
    g.end.store(reinterpret_cast<std::uintptr_t>(m) + bytes);
    g.begin.store(reinterpret_cast<std::uintptr_t>(m));
    data_ = static_cast<const std::uint8_t*>(m);
    bytes_ = bytes;
    slot_ = slot;
    return true;
}

bool MappedFile::open(const std::filesystem::path& path, std::uint64_t bytes) {
    unmap();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size <= 0 ||
        !map(fd, std::min<std::uint64_t>(bytes, static_cast<std::uint64_t>(st.st_size)))) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    ownFd_ = fd;
    return true;
}

void MappedFile::unmap() {
    if (ownFd_ >= 0) ::close(ownFd_);
    ownFd_ = -1;
    if (!data_) return;
    Guarded& g = gGuarded[slot_];
    g.end.store(0);
    ::munmap(const_cast<std::uint8_t*>(data_), bytes_);
    g.begin.store(0);
    data_ = nullptr;
    bytes_ = 0;
    slot_ = -1;
    released_ = 0;
}

void MappedFile::releaseBefore(std::uint64_t offset) {
    const std::uint64_t upTo = std::min<std::uint64_t>(offset, bytes_) & ~static_cast<std::uint64_t>(gPage - 1);
    // In steps of a few megabytes: each step interrupts the other cores to forget the pages.
    constexpr std::uint64_t kStep = 2ull << 20;
    if (!data_ || upTo < released_ + kStep) return;
    ::madvise(const_cast<std::uint8_t*>(data_) + released_, upTo - released_, MADV_DONTNEED);
    released_ = upTo;
}

std::size_t MappedFile::touch(std::uint64_t offset, std::size_t count) {
    if (!data_ || offset >= bytes_) return 0;
    if (count > bytes_ - offset) count = static_cast<std::size_t>(bytes_ - offset);
    Guarded& g = gGuarded[slot_];
    // A page that failed once reads as zeros since: the mapping is not looked at again.
    if (g.broken.load()) return 0;
    const std::uint8_t* const first = data_ + offset;
    const auto start = reinterpret_cast<std::uintptr_t>(first);
    for (std::uintptr_t page = start & ~(gPage - 1); page < start + count; page += gPage) {
        const auto* at = reinterpret_cast<const volatile std::uint8_t*>(std::max(page, start));
        (void)*at;
        if (g.faulted.exchange(false))
            return page > start ? static_cast<std::size_t>(page - start) : 0;
    }
    return count;
}

}  // namespace hx::platform
