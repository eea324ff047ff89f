#pragma once
// Writes the scan's found files on a thread of its own, in the order the scan
// asks, so that looking for the next file and copying the last one overlap.
// When the writer falls behind, the next file is written on the scan's own
// thread instead: both threads copy, and neither waits for the other.
// Bytes come from the source medium by offset (copied inside the kernel when
// it can, read again from the page cache when it cannot), or are handed over
// as a copy where the source cannot be read twice (the per-call reader).
//
// Files are made on the writer's thread too (making one can cost the file
// system more than copying it), except those the scan writes itself.
//
// Every file is known by the number the scan gave it. The first file that
// the cache disk could not take whole is remembered; no file is made after
// it, and the scan undoes it and what followed.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/AppendFile.h"

namespace hx::scan {

class FoundFileWriter {
public:
    // At most this many bytes wait to be written; the scan waits beyond it.
    // With 0 nothing waits: every file is written on the calling thread, and
    // no thread is made (a medium of a few blocks gains nothing from one).
    explicit FoundFileWriter(std::size_t pendingLimit = 16u << 20);
    ~FoundFileWriter();
    FoundFileWriter(const FoundFileWriter&) = delete;
    FoundFileWriter& operator=(const FoundFileWriter&) = delete;

    // The medium that appendFromSource() takes bytes from, in sectors of
    // `sectorBytes`. False when it cannot be opened or is no regular file:
    // hand over copies then.
    bool openSource(const std::filesystem::path& source, std::uint32_t sectorBytes = 512);
    bool hasSource() const { return sourceOpen_; }
    void setPendingLimit(std::size_t bytes);

    // The file is made (or opened to append to what is there) in its turn;
    // what follows is done in order after it.
    void create(long file, const std::filesystem::path& path);
    void reopen(long file, const std::filesystem::path& path);
    void appendFromSource(std::uint64_t offset, std::size_t size);
    void appendCopy(const std::uint8_t* data, std::size_t size);
    void close();
    void truncate(const std::filesystem::path& path, std::uint64_t length);
    void setTime(const std::filesystem::path& path, std::int64_t unixTime);
    // Done in its turn: a file made after it may take the same name.
    void remove(const std::filesystem::path& path);
    // Marks file `file` as finished: once everything queued before is done,
    // it is among those takeFinished() hands out.
    void finished(long file);
    // The files finished since the last call, in order; never waits.
    std::vector<long> takeFinished();
    // Calls `done` once everything queued before is written (on the writer's
    // thread, or on the caller's when it writes inline): keep it short.
    void then(std::function<void()> done);

    // Returns when everything queued so far is done.
    void wait();
    // As wait, for at most `most`: true when every job is done.
    bool waitFor(std::chrono::milliseconds most);
    // The first file the disk could not take whole, or -1.
    long failedFile() const;

private:
    enum class Kind { Create, Reopen, CopyRange, Data, Close, Truncate, SetTime, Remove, Finished, Then };
    struct Job {
        explicit Job(Kind k, long n = -1, std::filesystem::path p = {}) : kind(k), number(n), path(std::move(p)) {}
        Kind kind;
        long number = -1;
        std::filesystem::path path;
        std::uint64_t offset = 0;  // CopyRange: where in the source; Truncate: the length; SetTime: the time
        std::size_t size = 0;
        std::vector<std::uint8_t> data;
        std::function<void()> done;  // Then
    };

    void push(Job job);
    bool writesInline() const;
    void work();
    void run(Job& job);
    void fail();
    void open(long file, const std::filesystem::path& path, bool append);
    void noteFailure(long file);
    // Appends `size` bytes of the source from `offset` to `out`; false when the disk refused them.
    bool copyRange(platform::AppendFile& out, platform::CopySource& source, std::uint64_t offset,
                   std::size_t size, std::vector<std::uint8_t>& bounce);

    std::size_t pendingLimit_;  // guarded by mutex_
    platform::CopySource source_;
    bool sourceOpen_ = false;
    std::uint32_t sectorBytes_ = 512;  // of the source, read one by one where a copy fails

    // The file written on the scan's thread, if the present one is.
    bool direct_ = false;
    bool removalQueued_ = false;  // a file the scan makes itself waits for it
    long directNumber_ = -1;
    platform::AppendFile directOut_;
    platform::CopySource directSource_;
    std::vector<std::uint8_t> directBounce_;

    mutable std::mutex mutex_;
    std::mutex finishedMutex_;  // guards finished_, filled on the writer's thread
    std::vector<long> finished_;
    std::condition_variable wake_;   // work queued, or the end
    std::condition_variable room_;   // work done
    std::deque<Job> jobs_;
    std::size_t pendingBytes_ = 0;
    bool busy_ = false;
    bool ending_ = false;
    long failed_ = -1;

    // Writer thread only.
    platform::AppendFile out_;
    long current_ = -1;
    bool stopped_ = false;  // after a failure: nothing more is written
    std::vector<std::uint8_t> bounce_;

    std::thread thread_;
};

}  // namespace hx::scan
