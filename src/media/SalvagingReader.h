#pragma once
// Reads a medium that may be failing, as a rescue copy does. A read that
// fails is split in halves down to single sectors; a sector that stays
// unreadable is zeros in the caller's buffer and is listed. After a run of
// failures the rest of the failing read is skipped (zeros, listed), so that a
// bad area costs a few reads rather than one per sector, and the healthy parts
// of a card that is getting worse are read while it still can. A medium that
// stops answering altogether (gone from the reader, or failing even where it
// read well before) is told apart from one with bad sectors.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "media/SectorIo.h"

namespace hx::media {

// Sectors that could not be read: first sector and count.
using SectorRuns = std::map<std::uint64_t, std::uint64_t>;

// Sectors of `runs` among sectors [first, end), and the first of them (~0 when none).
std::uint64_t SectorsIn(const SectorRuns& runs, std::uint64_t first, std::uint64_t end);
std::uint64_t FirstSectorIn(const SectorRuns& runs, std::uint64_t first, std::uint64_t end);

// From byte `at` up to `end`: where the stretch of sectors (of `sectorBytes`)
// that are all in `runs`, or all not, ends; `listed` says which.
std::uint64_t StretchEnd(const SectorRuns& runs, std::uint32_t sectorBytes, std::uint64_t at, std::uint64_t end,
                         bool& listed);

// What the reader reads: a medium's bytes as a handle to it gives them (the
// program's is a platform::RawFile; the tests' a medium in memory that fails,
// hangs or goes on cue).
class SectorSource {
public:
    virtual ~SectorSource() = default;
    virtual std::size_t readAt(std::uint64_t offset, void* out, std::size_t count) = 0;
    // Past the system's cache, whole sectors.
    virtual std::size_t readAtUncached(std::uint64_t offset, void* out, std::size_t count) = 0;
    virtual int lastError() const = 0;  // of the last read that failed
    virtual std::uint64_t size() const = 0;
    virtual std::string name() const = 0;  // the medium, as an UnreadableWatch names it
    virtual std::uint64_t windowBase() const = 0;
};

class SalvagingReader {
public:
    SalvagingReader(Handle& handle, std::uint32_t sectorBytes);
    SalvagingReader(SectorSource& source, std::uint32_t sectorBytes);

    // Reads `count` bytes at `offset` of the open handle into `out`. Returns
    // the bytes placed there, read or zeros for unreadable sectors: `count`,
    // unless the medium ends first or stops answering (then what came before).
    std::size_t read(std::uint64_t offset, std::uint8_t* out, std::size_t count);

    // The medium no longer answers: every read since fails.
    bool gone() const { return gone_; }
    // The last read was given up by the user while the medium kept it
    // waiting (a guarded read, platform::ReadGuard): it returned what came
    // before, and nothing it did not read is listed as unreadable.
    bool cancelled() const { return cancelled_; }
    // Nothing has been read well yet.
    bool nothingRead() const { return !anyGood_; }
    const SectorRuns& unreadable() const { return unreadable_; }
    std::uint64_t unreadableSectors() const { return unreadableCount_; }
    // Unreadable sectors among the bytes [offset, offset + length).
    std::uint64_t unreadableIn(std::uint64_t offset, std::uint64_t length) const;
    // The first unreadable sector among those bytes (~0 when none).
    std::uint64_t firstUnreadableIn(std::uint64_t offset, std::uint64_t length) const;
    std::uint32_t sectorBytes() const { return sector_; }
    // The errno of the last read that failed (0 when none has).
    int lastError() const { return lastError_; }

    // Comes back to the areas skipped over: each is read again sector by
    // sector from both of its ends inward, up to the first that fails. Each
    // run of sectors read now goes to `readBack` (its offset and bytes) and is
    // no longer listed as unreadable.
    using ReadBack = std::function<void(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size)>;
    void retrySkipped(const ReadBack& readBack);

    // A read that takes more than a second counts as failing for skipping
    // ahead: what lies after it is skipped (further each time while reads stay
    // slow) and read at the end by retrySkipped. For a copy of the whole
    // medium, which comes back to every skipped area.
    void skipSlowAreas() { skipSlow_ = true; }

private:
    // Reads [offset, offset + count) after a read of it failed: in small
    // pieces, then sector by sector where those fail, skipping ahead while
    // failures go on. Returns the bytes placed before the medium stopped answering.
    std::size_t salvage(std::uint64_t offset, std::uint8_t* out, std::size_t count);
    std::size_t readOnce(std::uint64_t offset, std::uint8_t* out, std::size_t count);
    bool readSector(std::uint64_t offset, std::uint8_t* out, std::size_t count);
    void markUnreadable(std::uint64_t offset, std::uint8_t* out, std::size_t count, bool skipped = false);
    void forget(std::uint64_t sector);  // a sector that reads after all
    // Zeros for now, to be read at the end: after a slow read.
    void markSkipped(std::uint64_t offset, std::uint8_t* out, std::size_t count);
    void noteGood(std::uint64_t offset, std::size_t count);
    // After a run of failures: does the medium still read a sector it read before?
    bool stillAnswers();
    // The last read's error says the medium is gone from the reader (or the
    // user gave the read up: the read ends as if it were, cancelled_ set).
    bool goneError();

    std::unique_ptr<SectorSource> own_;  // over a handle
    SectorSource& handle_;
    std::uint32_t sector_;
    SectorRuns unreadable_;
    SectorRuns skipped_;                // of them, those given up without a read
    std::uint64_t unreadableCount_ = 0;
    std::uint64_t failedInRow_ = 0;     // bytes unreadable since the last good read
    std::uint64_t nextSkip_ = 0;        // how far the next skip goes; grows while failures go on
    std::uint64_t lastGood_ = 0;        // a sector read well, for the check that the medium answers
    bool anyGood_ = false;
    bool gone_ = false;
    bool cancelled_ = false;
    int lastError_ = 0;
    bool skipSlow_ = false;
    bool lastSlow_ = false;             // the last read took more than a second
    std::uint64_t nextSlowSkip_ = 64 * 1024;
};

// The unreadable sectors that readers of one medium meet while it lives,
// whatever thread reads: a command's own count of what it could not read. A
// sector met twice counts once.
class UnreadableWatch {
public:
    // `medium`: the drive or image as the readers' handles name it.
    explicit UnreadableWatch(std::string medium);
    ~UnreadableWatch();
    UnreadableWatch(const UnreadableWatch&) = delete;
    UnreadableWatch& operator=(const UnreadableWatch&) = delete;
    std::uint64_t sectors() const;

private:
    friend class SalvagingReader;
    void note(std::uint64_t window, std::uint64_t first, std::uint64_t count);
    std::string medium_;
    mutable std::mutex mutex_;
    std::set<std::pair<std::uint64_t, std::uint64_t>> sectors_;  // where the reader's window starts, sector
};

// One self-contained read through a SalvagingReader: `count` bytes from
// sector `lba` of `drive`, unreadable sectors as zeros and, when asked,
// added to `unreadable` (the drive's sector numbers). Shorter at the medium's
// end or where it stopped answering; empty when it cannot be opened.
std::vector<std::uint8_t> ReadSectorsSalvaging(const std::string& drive, std::uint64_t lba, std::uint64_t count,
                                               std::uint32_t bytesPerSector, SectorRuns* unreadable = nullptr);

}  // namespace hx::media
