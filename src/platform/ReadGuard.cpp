#include "platform/ReadGuard.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace hx::platform {

namespace {
constexpr int kMostStuck = 2;
constexpr auto kPoll = std::chrono::milliseconds(15);
// The most one helper reads at once, and so the most its buffer holds.
constexpr std::size_t kMostAtOnce = 1 << 20;
}  // namespace

// A helper thread and the read it serves. Shared with the thread, which
// outlives the guard when its read never came back.
struct ReadGuard::Helper {
    std::mutex mutex;
    std::condition_variable wake;
    bool job = false, done = false, ending = false;
    int fd = -1;
    off_t at = 0;
    // Aligned as a read past the system's cache needs it; grown as reads ask.
    struct Free {
        void operator()(unsigned char* p) const { std::free(p); }
    };
    std::unique_ptr<unsigned char, Free> buffer;
    std::size_t count = 0, capacity = 0;
    ssize_t result = 0;
    int error = 0;

    static void serve(std::shared_ptr<Helper> self, std::shared_ptr<std::atomic<int>> stuck) {
        std::unique_lock<std::mutex> lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&] { return self->ending || (self->job && !self->done); });
            if (self->ending && !(self->job && !self->done)) return;
            const int fd = self->fd;
            const off_t at = self->at;
            unsigned char* out = self->buffer.get();
            const std::size_t count = self->count;
            lock.unlock();
            ssize_t n;
            do n = ::pread(fd, out, count, at);
            while (n < 0 && errno == EINTR);
            const int error = n < 0 ? errno : 0;
            lock.lock();
            self->result = n;
            self->error = error;
            self->done = true;
            self->wake.notify_all();
            if (self->ending) {  // given up on while it read
                stuck->fetch_sub(1);
                return;
            }
        }
    }
};

ReadGuard::ReadGuard(std::chrono::milliseconds limit, std::function<bool()> giveUp,
                     std::shared_ptr<std::atomic<int>> stuck)
    : limit_(limit), giveUp_(std::move(giveUp)), stuck_(stuck ? std::move(stuck) : std::make_shared<std::atomic<int>>(0)) {}

ReadGuard::~ReadGuard() {
    if (!helper_) return;
    {
        std::lock_guard<std::mutex> lock(helper_->mutex);
        helper_->ending = true;
        helper_->wake.notify_all();
    }
    // No read of its is waiting: it ends at once.
    if (thread_.joinable()) thread_.join();
}

ssize_t ReadGuard::pread(int fd, void* out, std::size_t count, off_t at) {
    if (count <= kMostAtOnce) return preadOnce(fd, out, count, at);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = std::min(kMostAtOnce, count - done);
        const ssize_t got = preadOnce(fd, static_cast<unsigned char*>(out) + done, n, at + static_cast<off_t>(done));
        if (got < 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
        done += static_cast<std::size_t>(got);
        if (static_cast<std::size_t>(got) < n) break;
    }
    return static_cast<ssize_t>(done);
}

ssize_t ReadGuard::preadOnce(int fd, void* out, std::size_t count, off_t at) {
    if (stuck_->load() >= kMostStuck) {
        errno = ETIMEDOUT;
        return -1;
    }
    if (!helper_) {
        helper_ = std::make_shared<Helper>();
        thread_ = std::thread(Helper::serve, helper_, stuck_);
    }
    Helper& h = *helper_;
    std::unique_lock<std::mutex> lock(h.mutex);
    h.fd = fd;
    h.at = at;
    if (count > h.capacity) {
        constexpr std::size_t kAlign = 4096;
        const std::size_t rounded = (count + kAlign - 1) / kAlign * kAlign;
        void* p = nullptr;
        if (::posix_memalign(&p, kAlign, rounded) != 0) {
            errno = ENOMEM;
            return -1;
        }
        h.buffer.reset(static_cast<unsigned char*>(p));
        h.capacity = rounded;
    }
    h.count = count;
    h.job = true;
    h.done = false;
    h.wake.notify_all();
    const auto until = std::chrono::steady_clock::now() + limit_;
    bool cancelled = false;
    while (!h.wake.wait_for(lock, kPoll, [&h] { return h.done; })) {
        if (giveUp_ && giveUp_()) cancelled = true;
        if (cancelled || std::chrono::steady_clock::now() >= until) {
            // Left to the kernel: the thread ends when its read does.
            h.ending = true;
            stuck_->fetch_add(1);
            lock.unlock();
            thread_.detach();
            helper_.reset();
            errno = cancelled ? ECANCELED : ETIMEDOUT;
            return -1;
        }
    }
    h.job = false;
    if (h.result > 0) std::memcpy(out, h.buffer.get(), static_cast<std::size_t>(h.result));
    errno = h.error;
    return h.result;
}

namespace {
thread_local GuardDeviceReads* innermost = nullptr;
}  // namespace

GuardDeviceReads::GuardDeviceReads(std::chrono::milliseconds limit, std::function<bool()> giveUp,
                                   std::shared_ptr<std::atomic<int>> stuck)
    : limit_(limit),
      giveUp_(std::move(giveUp)),
      stuck_(stuck ? std::move(stuck) : std::make_shared<std::atomic<int>>(0)),
      outer_(innermost) {
    innermost = this;
}

GuardDeviceReads::~GuardDeviceReads() { innermost = outer_; }

std::shared_ptr<ReadGuard> GuardDeviceReads::forDevice() {
    if (!innermost) return nullptr;
    return std::make_shared<ReadGuard>(innermost->limit_, innermost->giveUp_, innermost->stuck_);
}

}  // namespace hx::platform
