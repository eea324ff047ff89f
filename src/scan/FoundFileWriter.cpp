#include "scan/FoundFileWriter.h"

#include <cstring>

#include <algorithm>
#include <chrono>

#include "media/SectorIo.h"

namespace hx::scan {

namespace fs = std::filesystem;

FoundFileWriter::FoundFileWriter(std::size_t pendingLimit) : pendingLimit_(pendingLimit) {}

FoundFileWriter::~FoundFileWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    else if (out_.isOpen()) out_.close();
}

bool FoundFileWriter::openSource(const fs::path& source, std::uint32_t sectorBytes) {
    wait();
    sectorBytes_ = sectorBytes == 0 ? 512 : sectorBytes;
    sourceOpen_ = source_.open(source) && source_.isRegularFile() && directSource_.open(source);
    if (!sourceOpen_) {
        source_.close();
        directSource_.close();
    }
    return sourceOpen_;
}

void FoundFileWriter::setPendingLimit(std::size_t bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingLimit_ = bytes;
    }
    room_.notify_all();
}

void FoundFileWriter::create(long file, const fs::path& path) { open(file, path, false); }

void FoundFileWriter::reopen(long file, const fs::path& path) { open(file, path, true); }

void FoundFileWriter::open(long file, const fs::path& path, bool append) {
    bool failedBefore = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        direct_ = pendingBytes_ >= pendingLimit_ / 2;
        failedBefore = failed_ >= 0;
    }
    if (failedBefore) {
        // Nothing more is written: the scan undoes this file with the failed one.
        direct_ = true;
        directOut_.close();
        return;
    }
    if (direct_) {
        // The name may be one whose removal is still queued.
        if (removalQueued_) wait();
        removalQueued_ = false;
        directNumber_ = file;
        if (!(append ? directOut_.openAppend(path) : directOut_.create(path))) noteFailure(file);
        return;
    }
    push(Job(append ? Kind::Reopen : Kind::Create, file, path));
}

void FoundFileWriter::appendFromSource(std::uint64_t offset, std::size_t size) {
    if (size == 0) return;
    if (direct_) {
        if (directOut_.isOpen() && !copyRange(directOut_, directSource_, offset, size, directBounce_))
            noteFailure(directNumber_);
        return;
    }
    Job job(Kind::CopyRange);
    job.offset = offset;
    job.size = size;
    push(std::move(job));
}

void FoundFileWriter::appendCopy(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    if (direct_) {
        if (directOut_.isOpen() && !directOut_.append(data, size)) noteFailure(directNumber_);
        return;
    }
    Job job(Kind::Data);
    job.data.assign(data, data + size);
    job.size = size;
    push(std::move(job));
}

void FoundFileWriter::close() {
    if (!direct_) {
        push(Job(Kind::Close));
        return;
    }
    direct_ = false;
    if (directOut_.isOpen() && !directOut_.close()) noteFailure(directNumber_);
}

void FoundFileWriter::truncate(const fs::path& path, std::uint64_t length) {
    Job job(Kind::Truncate, -1, path);
    job.offset = length;
    push(std::move(job));
}

void FoundFileWriter::setTime(const fs::path& path, std::int64_t unixTime) {
    Job job(Kind::SetTime, -1, path);
    job.offset = static_cast<std::uint64_t>(unixTime);
    push(std::move(job));
}

void FoundFileWriter::finished(long file) { push(Job(Kind::Finished, file)); }

void FoundFileWriter::then(std::function<void()> done) {
    Job job(Kind::Then);
    job.done = std::move(done);
    push(std::move(job));
}

std::vector<long> FoundFileWriter::takeFinished() {
    std::vector<long> out;
    std::lock_guard<std::mutex> lock(finishedMutex_);
    out.swap(finished_);
    return out;
}

void FoundFileWriter::remove(const fs::path& path) {
    removalQueued_ = true;
    push(Job(Kind::Remove, -1, path));
}

void FoundFileWriter::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

bool FoundFileWriter::waitFor(std::chrono::milliseconds most) {
    std::unique_lock<std::mutex> lock(mutex_);
    return room_.wait_for(lock, most, [this] { return jobs_.empty() && !busy_; });
}

bool FoundFileWriter::writesInline() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pendingLimit_ == 0 && !thread_.joinable();
}

long FoundFileWriter::failedFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

void FoundFileWriter::push(Job job) {
    if (writesInline()) {
        // No backlog at all: the calling thread does the job.
        run(job);
        return;
    }
    // The thread starts with the first job: a scan that finds nothing never makes one.
    if (!thread_.joinable()) thread_ = std::thread([this] { work(); });
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // Bounded: a big backlog waits, a single big job is let through alone.
        room_.wait(lock, [this] { return pendingBytes_ < std::max<std::size_t>(pendingLimit_, 1); });
        pendingBytes_ += job.size;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void FoundFileWriter::work() {
    for (;;) {
        Job job(Kind::Close);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
            if (jobs_.empty()) break;  // ending, and nothing left to do
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
        }
        run(job);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pendingBytes_ -= job.size;
            busy_ = false;
        }
        room_.notify_all();
    }
    if (out_.isOpen() && !out_.close()) fail();
}

void FoundFileWriter::fail() {
    stopped_ = true;
    noteFailure(std::max(current_, 0L));
}

void FoundFileWriter::noteFailure(long file) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_ < 0 || file < failed_) failed_ = file;
}

void FoundFileWriter::run(Job& job) {
    std::error_code ec;
    switch (job.kind) {
        case Kind::Create:
        case Kind::Reopen: {
            if (out_.isOpen() && !out_.close()) fail();
            current_ = job.number;
            if (stopped_) break;  // nothing is made after a failure
            const bool made = job.kind == Kind::Create ? out_.create(job.path) : out_.openAppend(job.path);
            if (!made) fail();
            break;
        }
        case Kind::CopyRange:
            if (!stopped_ && out_.isOpen() && !copyRange(out_, source_, job.offset, job.size, bounce_)) fail();
            break;
        case Kind::Data:
            if (!stopped_ && out_.isOpen() && !out_.append(job.data.data(), job.data.size())) fail();
            break;
        case Kind::Close:
            if (out_.isOpen() && !out_.close()) fail();
            break;
        case Kind::Truncate:
            if (!stopped_) media::TruncateFile(job.path.string(), job.offset);
            break;
        case Kind::SetTime: {
            const auto sys = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(job.offset));
            fs::last_write_time(job.path, std::chrono::file_clock::from_sys(sys), ec);
            break;
        }
        case Kind::Remove:
            fs::remove(job.path, ec);
            break;
        case Kind::Finished: {
            std::lock_guard<std::mutex> lock(finishedMutex_);
            finished_.push_back(job.number);
            break;
        }
        case Kind::Then:
            if (job.done) job.done();
            break;
    }
}

bool FoundFileWriter::copyRange(platform::AppendFile& out, platform::CopySource& source, std::uint64_t offset,
                                std::size_t size, std::vector<std::uint8_t>& bounce) {
    std::size_t done = out.appendFrom(source, offset, size);
    if (done == size) return true;
    if (out.failed()) return false;  // the disk is full
    // The kernel would not copy (another file system, say): read the bytes
    // again, from the page cache, and write them.
    bounce.resize(std::min<std::size_t>(size, 1u << 20));
    while (done < size) {
        const std::size_t want = std::min(bounce.size(), size - done);
        std::size_t got = source.readAt(offset + done, bounce.data(), want);
        // A failing medium: sector by sector, and what stays unreadable is
        // zeros, as it is in the blocks the scan looked at.
        const std::size_t sector = sectorBytes_;
        for (std::size_t at = got - got % sector; got < want; at += sector) {
            const std::size_t n = std::min(sector, want - at);
            if (source.readAt(offset + done + at, bounce.data() + at, n) < n) std::memset(bounce.data() + at, 0, n);
            got = at + n;
        }
        if (!out.append(bounce.data(), got)) return false;
        done += got;
    }
    return true;
}

}  // namespace hx::scan
