#include "media/SalvagingReader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>
#include <set>
#include <string>

namespace hx::media {

namespace {
constexpr std::size_t kPiece = 64 * 1024;              // reads inside a block that failed
constexpr std::uint64_t kFailuresBeforeSkip = 32 * 1024;  // unreadable in a row before skipping ahead
constexpr std::uint64_t kFirstSkip = 64 * 1024;
constexpr std::uint64_t kLongestSkip = 16ull << 20;
constexpr auto kSlowRead = std::chrono::seconds(1);
constexpr std::uint64_t kNothingEverRead = 8ull << 20;  // failing from the start for this long: no medium
// The system reads a device through its cache a page at a time: a page that
// holds a bad sector fails whole, so sectors are read one by one up to the
// end of such a page, and pieces again from the next.
constexpr std::uint64_t kPage = 4096;
// The watches of the commands that run; each keeps its count bounded, as a
// dying card may fail everywhere.
std::mutex watchesMutex;
std::vector<UnreadableWatch*> watches;
constexpr std::size_t kMostWatched = 1u << 18;
}  // namespace

UnreadableWatch::UnreadableWatch(std::string medium) : medium_(std::move(medium)) {
    std::lock_guard<std::mutex> lock(watchesMutex);
    watches.push_back(this);
}

UnreadableWatch::~UnreadableWatch() {
    std::lock_guard<std::mutex> lock(watchesMutex);
    watches.erase(std::remove(watches.begin(), watches.end(), this), watches.end());
}

std::uint64_t UnreadableWatch::sectors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sectors_.size();
}

void UnreadableWatch::note(std::uint64_t window, std::uint64_t first, std::uint64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::uint64_t k = 0; k < count && sectors_.size() < kMostWatched; ++k) sectors_.emplace(window, first + k);
}

namespace {
// A handle, as the reader reads it.
class HandleSource : public SectorSource {
public:
    explicit HandleSource(Handle& handle) : handle_(handle) {}
    std::size_t readAt(std::uint64_t offset, void* out, std::size_t count) override { return handle_.readAt(offset, out, count); }
    std::size_t readAtUncached(std::uint64_t offset, void* out, std::size_t count) override {
        return handle_.readAtUncached(offset, out, count);
    }
    int lastError() const override { return handle_.lastError(); }
    std::uint64_t size() const override { return handle_.size(); }
    std::string name() const override { return handle_.path().string(); }
    std::uint64_t windowBase() const override { return handle_.windowBase(); }

private:
    Handle& handle_;
};
}  // namespace

SalvagingReader::SalvagingReader(Handle& handle, std::uint32_t sectorBytes)
    : own_(std::make_unique<HandleSource>(handle)), handle_(*own_), sector_(sectorBytes ? sectorBytes : 512), nextSkip_(kFirstSkip) {}

SalvagingReader::SalvagingReader(SectorSource& source, std::uint32_t sectorBytes)
    : handle_(source), sector_(sectorBytes ? sectorBytes : 512), nextSkip_(kFirstSkip) {}

bool SalvagingReader::goneError() {
    const int e = handle_.lastError();
    if (e == ECANCELED) cancelled_ = true;
    else if (e != 0) lastError_ = e;
    return e == ENODEV || e == ENOMEDIUM || e == ENXIO || e == ECANCELED;
}

void SalvagingReader::noteGood(std::uint64_t offset, std::size_t count) {
    if (count < sector_) return;
    lastGood_ = offset + count - sector_;
    anyGood_ = true;
    failedInRow_ = 0;
    nextSkip_ = kFirstSkip;
}

bool SalvagingReader::readSector(std::uint64_t offset, std::uint8_t* out, std::size_t count) {
    // A medium's last sector may be cut short (an image of odd length).
    const std::size_t got = count == sector_ ? handle_.readAtUncached(offset, out, count) : handle_.readAt(offset, out, count);
    if (got == count) {
        noteGood(offset, count);
        return true;
    }
    if (goneError()) gone_ = true;
    return false;
}

bool SalvagingReader::stillAnswers() {
    if (!anyGood_) return failedInRow_ < kNothingEverRead;
    std::vector<std::uint8_t> probe(sector_);
    if (handle_.readAtUncached(lastGood_, probe.data(), sector_) == sector_) return true;
    goneError();
    return false;
}

namespace {
// Adds a run, joined with the one before it when they touch.
void addRun(SectorRuns& runs, std::uint64_t first, std::uint64_t n) {
    auto next = runs.lower_bound(first);
    if (next != runs.begin()) {
        auto before = std::prev(next);
        if (before->first + before->second == first) {
            before->second += n;
            return;
        }
    }
    runs[first] = n;
}
}  // namespace

void SalvagingReader::markUnreadable(std::uint64_t offset, std::uint8_t* out, std::size_t count, bool skipped) {
    std::memset(out, 0, count);
    const std::uint64_t first = offset / sector_, n = (count + sector_ - 1) / sector_;
    unreadableCount_ += n;
    {
        std::lock_guard<std::mutex> lock(watchesMutex);
        for (UnreadableWatch* watch : watches)
            if (watch->medium_ == handle_.name()) watch->note(handle_.windowBase(), first, n);
    }
    failedInRow_ += count;
    addRun(unreadable_, first, n);
    if (skipped) addRun(skipped_, first, n);
}

void SalvagingReader::markSkipped(std::uint64_t offset, std::uint8_t* out, std::size_t count) {
    std::memset(out, 0, count);
    const std::uint64_t first = offset / sector_, n = (count + sector_ - 1) / sector_;
    unreadableCount_ += n;
    addRun(unreadable_, first, n);
    addRun(skipped_, first, n);
}

namespace {
// Takes one sector out of its run; false when no run holds it.
bool takeOut(SectorRuns& runs, std::uint64_t sector) {
    auto it = runs.upper_bound(sector);
    if (it == runs.begin()) return false;
    --it;
    const std::uint64_t first = it->first, end = first + it->second;
    if (sector >= end) return false;
    runs.erase(it);
    if (sector > first) runs[first] = sector - first;
    if (end > sector + 1) runs[sector + 1] = end - sector - 1;
    return true;
}
}  // namespace

void SalvagingReader::forget(std::uint64_t sector) {
    if (takeOut(unreadable_, sector)) --unreadableCount_;
    takeOut(skipped_, sector);
}

void SalvagingReader::retrySkipped(const ReadBack& readBack) {
    std::vector<std::uint8_t> bytes(sector_);
    const SectorRuns skipped = std::move(skipped_);
    skipped_.clear();
    std::vector<std::uint8_t> piece;
    for (const auto& [first, count] : skipped) {
        std::uint64_t from = first, to = first + count;  // still unread: [from, to)
        // Forward in pieces while they read, then by sector up to the first that fails.
        while (from < to && !gone_) {
            const std::uint64_t n = std::min<std::uint64_t>(kPiece / sector_, to - from);
            piece.resize(static_cast<std::size_t>(n * sector_));
            if (n > 1 && handle_.readAt(from * sector_, piece.data(), piece.size()) == piece.size()) {
                for (std::uint64_t k = 0; k < n; ++k) forget(from + k);
                readBack(from * sector_, piece.data(), piece.size());
                from += n;
                continue;
            }
            if (!readSector(from * sector_, bytes.data(), sector_)) break;
            forget(from);
            readBack(from * sector_, bytes.data(), sector_);
            ++from;
        }
        for (; to > from && !gone_; --to) {
            if (!readSector((to - 1) * sector_, bytes.data(), sector_)) break;
            forget(to - 1);
            readBack((to - 1) * sector_, bytes.data(), sector_);
        }
    }
    failedInRow_ = 0;
    if (cancelled_) gone_ = false;
    cancelled_ = false;
}

std::size_t SalvagingReader::salvage(std::uint64_t offset, std::uint8_t* out, std::size_t count) {
    std::size_t pos = 0;
    bool bySector = false;  // pieces first, sectors once a piece fails
    while (pos < count && !gone_) {
        if (bySector && failedInRow_ == 0 && (offset + pos) % kPage == 0) bySector = false;
        if (!bySector && failedInRow_ == 0) {
            const std::size_t want = std::min(kPiece, count - pos);
            std::size_t got = handle_.readAt(offset + pos, out + pos, want);
            got -= got % sector_;
            if (got > 0) noteGood(offset + pos, got);
            pos += got;
            if (got == want) continue;
            if (goneError()) {
                gone_ = true;
                break;
            }
            bySector = true;
        }
        const std::size_t one = std::min<std::size_t>(sector_, count - pos);
        if (readSector(offset + pos, out + pos, one)) {
            pos += one;
            continue;
        }
        if (gone_) break;
        bySector = true;
        markUnreadable(offset + pos, out + pos, one);
        pos += one;
        if (failedInRow_ < kFailuresBeforeSkip) continue;
        // A run of failures: is the medium still there, and if so skip ahead,
        // further each time while the failures go on.
        if (!stillAnswers()) {
            gone_ = true;
            break;
        }
        const std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(nextSkip_, count - pos));
        if (skip > 0) markUnreadable(offset + pos, out + pos, skip, true);
        pos += skip;
        nextSkip_ = std::min(nextSkip_ * 2, kLongestSkip);
    }
    if (gone_) {
        // The failures just before the medium went were of its going, not
        // of bad sectors: they are not given, and are read when it is back.
        const std::size_t back = static_cast<std::size_t>(std::min<std::uint64_t>(failedInRow_, pos)) / sector_ * sector_;
        for (std::uint64_t s = (offset + pos - back) / sector_; s < (offset + pos) / sector_; ++s) forget(s);
        pos -= back;
    }
    return std::min(pos, count);
}

std::size_t SalvagingReader::read(std::uint64_t offset, std::uint8_t* out, std::size_t count) {
    cancelled_ = false;
    const std::size_t got = readOnce(offset, out, count);
    if (cancelled_) {
        // Given up, not gone: the next read asks the medium again.
        gone_ = false;
        failedInRow_ = 0;
    }
    return got;
}

std::size_t SalvagingReader::readOnce(std::uint64_t offset, std::uint8_t* out, std::size_t count) {
    if (gone_ || count == 0) return 0;
    const std::uint64_t size = handle_.size();
    if (offset >= size) return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size - offset));
    if (skipSlow_ && lastSlow_) {
        // After a slow read: skip ahead, for now.
        lastSlow_ = false;
        std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(nextSlowSkip_, count));
        if (skip < count) skip -= skip % sector_;
        markSkipped(offset, out, skip);
        nextSlowSkip_ = std::min(nextSlowSkip_ * 2, kLongestSkip);
        return skip == count ? count : skip + readOnce(offset + skip, out + skip, count - skip);
    }
    // Whole sectors: a medium's last partial sector is read as it is.
    const auto started = std::chrono::steady_clock::now();
    std::size_t got = failedInRow_ == 0 ? handle_.readAt(offset, out, count) : 0;
    if (skipSlow_) {
        lastSlow_ = std::chrono::steady_clock::now() - started > kSlowRead;
        if (!lastSlow_) nextSlowSkip_ = kFirstSkip;
    }
    if (got == count) {
        noteGood(offset, got);
        return count;
    }
    if (failedInRow_ == 0 && goneError()) {
        gone_ = true;
        return got - got % sector_;
    }
    got -= got % sector_;
    if (got > 0) noteGood(offset, got);
    return got + salvage(offset + got, out + got, count - got);
}

std::uint64_t FirstSectorIn(const SectorRuns& runs, std::uint64_t first, std::uint64_t end) {
    auto it = runs.upper_bound(first);
    if (it != runs.begin() && std::prev(it)->first + std::prev(it)->second > first) return first;
    return it != runs.end() && it->first < end ? it->first : ~0ull;
}

std::uint64_t SectorsIn(const SectorRuns& runs, std::uint64_t first, std::uint64_t end) {
    std::uint64_t n = 0;
    auto it = runs.upper_bound(first);
    if (it != runs.begin()) --it;
    for (; it != runs.end() && it->first < end; ++it) {
        const std::uint64_t from = std::max(it->first, first), to = std::min(it->first + it->second, end);
        if (to > from) n += to - from;
    }
    return n;
}

std::uint64_t SalvagingReader::firstUnreadableIn(std::uint64_t offset, std::uint64_t length) const {
    if (unreadable_.empty() || length == 0) return ~0ull;
    return FirstSectorIn(unreadable_, offset / sector_, (offset + length + sector_ - 1) / sector_);
}

std::uint64_t SalvagingReader::unreadableIn(std::uint64_t offset, std::uint64_t length) const {
    if (unreadable_.empty() || length == 0) return 0;
    return SectorsIn(unreadable_, offset / sector_, (offset + length + sector_ - 1) / sector_);
}

std::vector<std::uint8_t> ReadSectorsSalvaging(const std::string& drive, std::uint64_t lba, std::uint64_t count,
                                               std::uint32_t bytesPerSector, SectorRuns* unreadable) {
    Handle file;
    if (count == 0 || !OpenDriveForRead(drive, 0, file, static_cast<int>(bytesPerSector))) return {};
    SalvagingReader reader(file, bytesPerSector);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(count));
    data.resize(reader.read(lba * reader.sectorBytes(), data.data(), data.size()));
    if (unreadable)
        for (const auto& [first, n] : reader.unreadable()) (*unreadable)[first] = n;
    return data;
}

std::uint64_t StretchEnd(const SectorRuns& runs, std::uint32_t sectorBytes, std::uint64_t at, std::uint64_t end,
                         bool& listed) {
    const std::uint64_t sector = at / sectorBytes;
    // The run that holds this sector, or the next one after it.
    const auto run = runs.upper_bound(sector);
    if (run != runs.begin()) {
        const auto before = std::prev(run);
        listed = sector - before->first < before->second;
        if (listed) return std::min(end, (before->first + before->second) * sectorBytes);
    }
    listed = false;
    return run == runs.end() ? end : std::min(end, run->first * sectorBytes);
}

}  // namespace hx::media
