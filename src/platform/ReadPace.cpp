#include "platform/ReadPace.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace hx::platform {

namespace {

using Clock = std::chrono::steady_clock;

struct Pace {
    std::string path;
    double rate = 0;              // bytes per second
    std::uint64_t ahead = 0;
    double delivered = 0;         // bytes the card has read so far
    std::uint64_t consumed = 0;   // the furthest byte the program has asked for
    Clock::time_point last;
};

std::atomic<bool> g_paced{false};
std::mutex g_mutex;
Pace g_pace;

std::string key(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::absolute(path, ec).lexically_normal().string();
}

}  // namespace

void PaceReads(const std::filesystem::path& path, double bytesPerSecond, std::uint64_t ahead) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_pace = Pace{key(path), bytesPerSecond, ahead, 0, 0, Clock::now()};
    g_paced = bytesPerSecond > 0;
}

void WaitForPace(const std::filesystem::path& path, std::uint64_t offset, std::size_t count) {
    if (!g_paced.load(std::memory_order_relaxed)) return;
    std::unique_lock<std::mutex> lock(g_mutex);
    if (g_pace.rate <= 0 || key(path) != g_pace.path) return;
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - g_pace.last).count();
    g_pace.last = now;
    // The card reads on while the program works, up to its read-ahead.
    g_pace.delivered = std::min(g_pace.delivered + elapsed * g_pace.rate,
                                std::max(g_pace.delivered, static_cast<double>(g_pace.consumed + g_pace.ahead)));
    const double end = static_cast<double>(offset + count);
    g_pace.consumed = std::max<std::uint64_t>(g_pace.consumed, offset + count);
    if (end <= g_pace.delivered) return;
    const double wait = (end - g_pace.delivered) / g_pace.rate;
    g_pace.delivered = end;
    g_pace.last += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wait));
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::duration<double>(wait));
}

}  // namespace hx::platform
