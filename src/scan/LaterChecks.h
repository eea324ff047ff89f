#pragma once
// Checks of found files that read the whole file back and decode it (where a
// damaged photo goes wrong, say) run here, on threads of their own, while the
// scan reads on. A check starts once its file is written whole; the scan
// takes the verdicts when it ends and puts them in its found list.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "formats/FileEndRule.h"

namespace hx::scan {

// Threads that work beside the scan's own: one for every other core, at least one.
unsigned HelperThreads();

class LaterChecks {
public:
    // `threads` 0: one for every core but the scan's, at least one.
    explicit LaterChecks(unsigned threads = 0);
    ~LaterChecks();
    LaterChecks(const LaterChecks&) = delete;
    LaterChecks& operator=(const LaterChecks&) = delete;

    struct Result {
        long file = -1;
        std::filesystem::path path;
        formats::EndVerdict verdict;
    };
    // Checks file number `file`, written whole at `path`. Never waits.
    void add(long file, std::filesystem::path path, formats::LaterCheck check);
    // Waits for every check added so far and hands out their verdicts, by file number.
    std::vector<Result> take();
    // Waits at most `most` for every check added so far: true when they are done.
    bool waitFor(std::chrono::milliseconds most);

private:
    struct Job {
        long file;
        std::filesystem::path path;
        formats::LaterCheck check;
    };
    void work();

    unsigned threads_;
    std::mutex mutex_;
    std::condition_variable wake_;  // a job, or the end
    std::condition_variable done_;  // a job done
    std::deque<Job> jobs_;
    std::vector<Result> results_;
    unsigned running_ = 0;
    bool ending_ = false;
    std::vector<std::thread> pool_;
};

}  // namespace hx::scan
