#pragma once
// Reads of a medium on a thread of their own, for a front end that has input
// to serve while one read waits: a slow or failing card may keep a read
// waiting for seconds, and the window stays answered all the while. One
// thread serves every read, so a copy of a sector a read costs little more.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <memory>
#include <optional>
#include <thread>

#include "platform/RawFile.h"
#include "platform/ReadGuard.h"
#include "shell/Ui.h"

namespace hx::media {

class ReadAside {
public:
    // `whileWaiting` is called every few milliseconds while a read runs;
    // without it every read runs on the caller's thread.
    explicit ReadAside(std::function<void()> whileWaiting = {});
    ~ReadAside();
    ReadAside(const ReadAside&) = delete;
    ReadAside& operator=(const ReadAside&) = delete;

    // Runs `read` and returns once it has.
    void run(const std::function<void()>& read);

private:
    void loop();

    std::function<void()> whileWaiting_;
    std::mutex mutex_;
    std::condition_variable wake_;
    const std::function<void()>* job_ = nullptr;
    bool done_ = false;
    bool ending_ = false;
    std::thread thread_;
};

// The reads of `handle` made safe from a card that keeps them waiting: one
// that has not come back within 5 s fails, and one that `ui`'s stop gives up
// fails at once (platform::ReadGuard). Where `ui` serves input while a read
// waits, `aside` is made to run the reads, and the stop is seen on its yields.
void GuardReads(platform::RawFile& handle, shell::Ui& ui, std::optional<ReadAside>& aside);

// While one lives, every device the calling thread opens for reading is
// read so too, on that thread (a command that reads a medium in many
// places: the undelete): a read not back within 5 s fails, `ui`'s stop
// gives one up at once, and once two are stuck every read of the command
// (all that share `stuck`) fails at once, as of a card that stopped answering.
// A window (Ui::servesWhileReading) is served while a read of that thread waits.
class GuardCommandReads {
public:
    GuardCommandReads(shell::Ui& ui, std::shared_ptr<std::atomic<int>> stuck);

private:
    platform::GuardDeviceReads guard_;
};

}  // namespace hx::media
