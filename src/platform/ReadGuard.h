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
#include <thread>

#include <sys/types.h>

namespace hx::platform {

class ReadGuard {
public:
    // `stuck`: the count of stuck helpers, when guards share it (those of
    // one command's handles); else the guard's own.
    ReadGuard(std::chrono::milliseconds limit, std::function<bool()> giveUp,
              std::shared_ptr<std::atomic<int>> stuck = nullptr);
    ~ReadGuard();
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

    // As ::pread; -1 with errno ETIMEDOUT or ECANCELED as above. A long
    // read is made in reads of 1 MiB at most (each guarded, the buffer no
    // larger): a short count where a later one fails.
    ssize_t pread(int fd, void* out, std::size_t count, off_t at);
    // Helper threads left in a read that has not come back.
    int stuck() const { return stuck_->load(); }

private:
    struct Helper;
    ssize_t preadOnce(int fd, void* out, std::size_t count, off_t at);
    std::chrono::milliseconds limit_;
    std::function<bool()> giveUp_;
    std::shared_ptr<Helper> helper_;
    // The helper's thread, joined when the guard goes (left to end on its own
    // only once its read was given up on).
    std::thread thread_;
    std::shared_ptr<std::atomic<int>> stuck_;
};

// While one lives, each device that this thread opens for reading
// (RawFile::open, a block device) has its reads guarded: each handle by a
// guard of its own, the guards sharing one count of stuck reads, so that a
// medium that stopped answering fails every further read of the command at
// once. A handle given a guard of its own keeps it.
class GuardDeviceReads {
public:
    GuardDeviceReads(std::chrono::milliseconds limit, std::function<bool()> giveUp,
                     std::shared_ptr<std::atomic<int>> stuck);
    ~GuardDeviceReads();
    GuardDeviceReads(const GuardDeviceReads&) = delete;
    GuardDeviceReads& operator=(const GuardDeviceReads&) = delete;
    // A guard for a device opened now; null outside every such scope.
    static std::shared_ptr<ReadGuard> forDevice();

private:
    std::chrono::milliseconds limit_;
    std::function<bool()> giveUp_;
    std::shared_ptr<std::atomic<int>> stuck_;
    GuardDeviceReads* outer_;
};

}  // namespace hx::platform
