#include "scan/LaterChecks.h"

#include <algorithm>

namespace hx::scan {

unsigned HelperThreads() { return std::max(2u, std::thread::hardware_concurrency()) - 1; }

LaterChecks::LaterChecks(unsigned threads) : threads_(threads > 0 ? threads : HelperThreads()) {}

LaterChecks::~LaterChecks() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    for (auto& t : pool_) t.join();
}

void LaterChecks::add(long file, std::filesystem::path path, formats::LaterCheck check) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back({file, std::move(path), std::move(check)});
        // A thread comes with a job: a scan that checks nothing later makes none.
        if (pool_.size() < threads_ && pool_.size() < jobs_.size() + running_)
            pool_.emplace_back([this] { work(); });
    }
    wake_.notify_one();
}

std::vector<LaterChecks::Result> LaterChecks::take() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return jobs_.empty() && running_ == 0; });
    std::vector<Result> out;
    out.swap(results_);
    std::sort(out.begin(), out.end(), [](const Result& a, const Result& b) { return a.file < b.file; });
    return out;
}

bool LaterChecks::waitFor(std::chrono::milliseconds most) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, most, [this] { return jobs_.empty() && running_ == 0; });
}

void LaterChecks::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
        // Ending: what was asked for is still done, so that nothing is left half-checked.
        if (jobs_.empty()) return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        ++running_;
        lock.unlock();
        formats::EndVerdict verdict = job.check ? job.check(job.path) : formats::EndVerdict{};
        lock.lock();
        results_.push_back({job.file, std::move(job.path), std::move(verdict)});
        --running_;
        done_.notify_all();
    }
}

}  // namespace hx::scan
