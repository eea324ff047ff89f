#include "media/ReadAside.h"

#include <chrono>

namespace hx::media {

ReadAside::ReadAside(std::function<void()> whileWaiting) : whileWaiting_(std::move(whileWaiting)) {}

ReadAside::~ReadAside() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ReadAside::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || (job_ && !done_); });
        if (ending_) return;
        const std::function<void()>* job = job_;
        lock.unlock();
        (*job)();
        lock.lock();
        done_ = true;
        wake_.notify_all();
    }
}

void ReadAside::run(const std::function<void()>& read) {
    if (!whileWaiting_) {
        read();
        return;
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
    std::unique_lock<std::mutex> lock(mutex_);
    job_ = &read;
    done_ = false;
    wake_.notify_all();
    while (!wake_.wait_for(lock, std::chrono::milliseconds(15), [this] { return done_; })) {
        lock.unlock();
        whileWaiting_();
        lock.lock();
    }
    job_ = nullptr;
}

}  // namespace hx::media
