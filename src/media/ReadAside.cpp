#include "media/ReadAside.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/ReadGuard.h"

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

namespace {
constexpr std::chrono::milliseconds kHungRead{5000};
}  // namespace

void GuardReads(platform::RawFile& handle, shell::Ui& ui, std::optional<ReadAside>& aside) {
    auto stop = std::make_shared<std::atomic<bool>>(false);
    const bool window = ui.servesWhileReading();
    if (window)
        aside.emplace([&ui, stop] {
            ui.yield();
            if (ui.stopRequested()) stop->store(true);
        });
    handle.guardReads(std::make_shared<platform::ReadGuard>(
        kHungRead, [&ui, stop, window] { return window ? stop->load() : ui.stopRequested(); }));
}

GuardCommandReads::GuardCommandReads(shell::Ui& ui, std::shared_ptr<std::atomic<int>> stuck)
    : guard_(
          kHungRead,
          // A window is served while a read waits, on its own thread only.
          [&ui, window = ui.servesWhileReading(), owner = std::this_thread::get_id()] {
              if (window && std::this_thread::get_id() == owner) ui.yield();
              return ui.stopRequested();
          },
          std::move(stuck)) {}

}  // namespace hx::media
