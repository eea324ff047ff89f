#pragma once
// Reads that may never return. A card reader that stops answering can keep
// a read in the kernel for minutes, or for good (the thread in D state):
// the program must not wait on it. A guarded read runs on a helper thread
// into a buffer of its own, aligned as a read past the system's cache needs
// it; one that has not returned within the limit fails (ETIMEDOUT), and one
// the user gives up on fails at once (ECANCELED). Its thread is left to the
// kernel and ends when the read does; nothing of ours waits for it. While
// two such threads are stuck, every further read fails at once: the medium
// is not answering.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include <sys/types.h>

namespace hx::platform {

class ReadGuard {
public:
    ReadGuard(std::chrono::milliseconds limit, std::function<bool()> giveUp);
    ~ReadGuard();
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

    // As ::pread; -1 with errno ETIMEDOUT or ECANCELED as above.
    ssize_t pread(int fd, void* out, std::size_t count, off_t at);
    // Helper threads left in a read that has not come back.
    int stuck() const { return stuck_->load(); }

private:
    struct Helper;
    std::chrono::milliseconds limit_;
    std::function<bool()> giveUp_;
    std::shared_ptr<Helper> helper_;
    std::shared_ptr<std::atomic<int>> stuck_;
};

}  // namespace hx::platform
