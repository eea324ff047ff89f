#include "output/DiskBackup.h"

#include "shell/Settings.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "filesystems/DriveInfo.h"
#include "media/ReadAside.h"
#include "media/ReadFailure.h"
#include "media/SalvagingReader.h"
#include "platform/FreeSpace.h"
#include "platform/LocalTime.h"
#include "platform/RawFile.h"
#include "shell/Strings.h"
#include "filesystems/DirEntCache.h"
#include "volumes/DriveFiles.h"

namespace hx::output {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

namespace {

std::string fixed(double v, int decimals) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// A name part without path separators or blanks.
std::string namePart(std::string s) {
    for (char& c : s)
        if (c == '/' || c == '\\' || c == ' ' || c == ':' || c == '#') c = '-';
    return s;
}

// The image is written by one thread while the next block is read. Three
// buffers go round: one being read into, the others written or waiting. They
// are not cleared when made (a block of memory each, which the reads fill),
// and a window that waits for one, or for the last writes, is answered all
// the while: a target disk slower than the card holds nothing up.
class BlockWriter {
public:
    using WhileWaiting = std::function<void()>;
    BlockWriter(platform::RawFile& out, std::size_t blockBytes, WhileWaiting whileWaiting)
        : out_(out), whileWaiting_(std::move(whileWaiting)) {
        for (auto& b : buffers_) {
            b.reset(new std::uint8_t[blockBytes]);
            free_.push_back(b.get());
        }
        thread_ = std::thread([this] { loop(); });
    }
    ~BlockWriter() { finish(); }
    // A buffer to read the next block into.
    std::uint8_t* take() {
        std::unique_lock<std::mutex> lock(mutex_);
        waitFor(lock, [this] { return !free_.empty(); });
        auto* b = free_.front();
        free_.pop_front();
        return b;
    }
    void put(std::uint64_t offset, std::uint8_t* block, std::size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({offset, block, size});
        ready_.notify_one();
    }
    bool finish() {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            done_ = true;
            ready_.notify_one();
            waitFor(lock, [this] { return ended_; });
        }
        if (thread_.joinable()) thread_.join();
        return !failed_;
    }

private:
    struct Job {
        std::uint64_t offset;
        std::uint8_t* block;
        std::size_t size;
    };
    template <class Ready>
    void waitFor(std::unique_lock<std::mutex>& lock, Ready ready) {
        while (!room_.wait_for(lock, std::chrono::milliseconds(15), ready)) {
            if (!whileWaiting_) continue;
            lock.unlock();
            whileWaiting_();
            lock.lock();
        }
    }
    void loop() {
        for (;;) {
            Job job{};
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !queue_.empty() || done_; });
                if (queue_.empty()) {
                    ended_ = true;
                    room_.notify_all();
                    return;
                }
                job = queue_.front();
                queue_.pop_front();
            }
            if (!failed_ && out_.writeAt(job.offset, job.block, job.size) != job.size) failed_ = true;
            std::lock_guard<std::mutex> lock(mutex_);
            free_.push_back(job.block);
            room_.notify_all();
        }
    }
    platform::RawFile& out_;
    WhileWaiting whileWaiting_;
    std::unique_ptr<std::uint8_t[]> buffers_[3];
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<std::uint8_t*> free_;
    std::deque<Job> queue_;
    bool done_ = false, ended_ = false;
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

}  // namespace

fs::path ImageFileName(const fs::path& imageFolder, const std::string& drive, const std::string& label,
                       const std::string& date) {
    const std::string stem = namePart(fs::path(drive).stem().string()) + "_" + namePart(label) + "_" + date + "_";
    std::error_code ec;
    for (int n = 0;; ++n) {
        const fs::path candidate = imageFolder / (stem + std::to_string(n) + ".img");
        if (!fs::exists(candidate, ec)) return candidate;
    }
}

int BackupBlockMegabytes(double availableMB) {
    for (int b = 10; b >= 3; --b)
        if (availableMB / 10 >= b) return b;
    return 2;
}

bool WriteCompanionFile(const fs::path& companion, const fs::path& image, const media::DriveRecord& r,
                        const std::vector<filesystems::UndeleteEntry>& entries) {
    // Numbers as the number-to-text conversion writes them: a blank before a non-negative one.
    auto number = [](double v) { return (v >= 0 ? " " : "") + fixed(v, 0); };
    std::string head = "\"" + image.string() + "\"\r\n";
    head += "\"" + number(r.BytesPerSector) + "\"\r\n";
    head += "\"" + number(r.SectorsPerCluster) + "\"\r\n";
    head += "\"" + number(static_cast<double>(r.TotalClusters)) + "\"\r\n";
    head += "\"" + number(static_cast<double>(r.FirstDataSector)) + "\"\r\n";
    head += "\"" + number(static_cast<double>(entries.size()) - 1) + "\"\r\n";
    std::vector<std::uint8_t> bytes(head.begin(), head.end());
    for (const auto& e : entries) filesystems::EncodeUndeleteEntry(e, bytes);
    std::ofstream out(companion, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

fs::path CompanionImage(const fs::path& companion) {
    std::ifstream in(companion, std::ios::binary);
    std::string first;
    // A path, not a whole file: a line past 4096 characters is no companion's.
    char c = 0;
    while (first.size() <= 4096 && in.get(c) && c != '\n') first += c;
    if (first.size() > 4096) return {};
    while (!first.empty() && (first.back() == '\r' || first.back() == '"')) first.pop_back();
    if (!first.empty() && first.front() == '"') first.erase(0, 1);
    return first;
}

void PruneImageFolder(const fs::path& imageFolder) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(imageFolder, ec)) {
        if (e.path().extension() != ".dat" || e.path().stem().extension() != ".img") continue;
        const fs::path image = CompanionImage(e.path());
        std::error_code missing;
        if (!image.empty() && !fs::exists(image, missing)) fs::remove(e.path(), missing);
    }
}

BackupRequest UnattendedBackup(const std::string& drive, const fs::path& image, shell::SettingsStore* settings) {
    BackupRequest req;
    req.drive = drive;
    req.image = image;
    req.damaged = true;
    req.backwards = true;
    req.settings = settings;
    return req;
}

namespace {

// One copy of a medium into an image: the medium and the target opened, the
// copy block by block through the salvaging reader, the skipped areas read
// again, and what could not be read or written said.
class Backup {
public:
    Backup(shell::Ui& ui, const BackupRequest& req) : ui_(ui), req_(req), title_(LoadStr(0, "Backup")) {}

    BackupResult run() {
        if (!openMedium() || !openTarget()) return result_;
        copy();
        finish();
        return result_;
    }

private:
    void tell(const std::string& text) { ui_.message(text, title_, {shell::Buttons::OK, shell::Icon::Exclamation}); }

    bool openMedium() {
        filesystems::GetDriveInfo(req_.drive, rec_);
        if (!volumes::OpenDrive(in_, req_.drive, platform::RawFile::Mode::Read)) {
            tell(FormatStr(LoadStr(0, "%0 cannot be read, so no image of it can be made."), {req_.drive}));
            return false;
        }
        size_ = in_.size();
        return size_ > 0 || ui_.message(LoadStr(0, "Impossible to retrieve disk data.") + "\n" +
                                            LoadStr(0, "Operation not sure.") + "\n" + LoadStr(0, "However, you may proceed."),
                                        title_, {shell::Buttons::OKCancel, shell::Icon::Information}) == shell::Answer::OK;
    }

    bool openTarget() {
        const fs::path imageFolder = req_.image.empty() ? req_.folder / "DiskImages" : req_.image.parent_path();
        std::error_code ec;
        fs::create_directories(imageFolder, ec);
        if (req_.image.empty()) {
            PruneImageFolder(imageFolder);
            result_.image = ImageFileName(imageFolder, rec_.Drive.empty() ? req_.drive : rec_.Drive, rec_.VolumeLabel,
                                          req_.date.empty() ? platform::LocalTimeText("%Y-%m-%d") : req_.date);
            result_.companion = result_.image.string() + ".dat";
        } else {
            result_.image = req_.image;
        }
        if ((!result_.companion.empty() && !WriteCompanionFile(result_.companion, result_.image, rec_, req_.entries)) ||
            !out_.open(result_.image, platform::RawFile::Mode::Create)) {
            tell(FormatStr(LoadStr(0, "The folder %0 cannot be written to."), {imageFolder.string()}));
            return false;
        }
        return true;
    }

    void copy() {
        // The read size: a block of memory, a cluster with DeepScan, a sector for a damaged medium.
        sector_ = static_cast<std::uint64_t>(rec_.sectorSize());
        const std::uint64_t cluster = sector_ * std::max<std::uint64_t>(1, rec_.SectorsPerCluster);
        std::uint64_t step = static_cast<std::uint64_t>(BackupBlockMegabytes(platform::AvailableMemoryMB())) * 1048576;
        if (req_.deep) step = cluster;
        if (req_.damaged) step = sector_;
        in_.adviseSequential();
        // Until the copy ends, a restart knows that it was ended while reading.
        if (req_.settings) {
            shell::SaveSetting(*req_.settings, shell::kLastDrive, req_.drive);
            shell::SaveSetting(*req_.settings, shell::kLastCluster, "33");
        }
        salvage_.emplace(in_, static_cast<std::uint32_t>(sector_));
        // Slow areas wait for the end: a card that is getting worse gives its healthy parts first.
        salvage_->skipSlowAreas();
        // A window stays answered while a read waits, and a read that hangs holds nothing.
        media::GuardReads(in_, ui_, aside_);
        writer_.emplace(out_, static_cast<std::size_t>(std::min<std::uint64_t>(step, std::max<std::uint64_t>(size_, 1))),
                        ui_.servesWhileReading() ? BlockWriter::WhileWaiting([this] { ui_.yield(); }) : nullptr);
        started_ = std::chrono::steady_clock::now();
        auto lastShown = started_, lastYield = started_;
        while (done_ < size_) {
            if (ui_.stopRequested()) {
                result_.stopped = true;
                break;
            }
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(step, size_ - done_));
            at_ = req_.backwards ? size_ - done_ - want : done_;
            std::uint8_t* block = writer_->take();
            // What stays unreadable is zeros; a medium that stops answering leaves zeros from there on.
            std::size_t got = 0;
            const auto read = [&] { got = salvage_->read(at_, block, want); };
            if (aside_) aside_->run(read);
            else read();
            if (got < want) std::fill(block + got, block + want, 0);
            writer_->put(at_, block, want);
            done_ += want;
            if (salvage_->gone() || salvage_->cancelled()) {
                done_ -= want - got;
                result_.stopped |= salvage_->cancelled();
                break;
            }
            // The progress every 2 seconds; the window answered in between.
            if (const auto now = std::chrono::steady_clock::now(); now - lastShown >= std::chrono::seconds(2)) {
                lastShown = lastYield = now;
                showProgress(now);
            } else if (now - lastYield >= std::chrono::milliseconds(15)) {
                lastYield = now;
                ui_.yield();
            }
        }
    }

    void showProgress(std::chrono::steady_clock::time_point now) {
        const double elapsed = std::chrono::duration<double>(now - started_).count();
        const double perSecond = static_cast<double>(done_) / elapsed;
        ui_.progress(static_cast<double>(done_) / static_cast<double>(size_),
                     FormatStr(LoadStr(1492, "Elapsed: %0 & to go: %1 seconds %2 MB/s"),
                               {fixed(elapsed, 0), fixed(static_cast<double>(size_ - done_) / perSecond, 0),
                                fixed(perSecond / 1048576.0, 1)}));
        // Backwards, the marker tells the sector the copy has come down to.
        if (req_.settings && req_.backwards)
            shell::SaveSetting(*req_.settings, shell::kLastCluster, std::to_string(at_ / sector_ + 1));
        ui_.yield();
    }

    void finish() {
        ui_.status(LoadStr(337, "Flushing, wait..."));
        // The areas skipped over after failures, read again now that the rest is saved.
        std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> late;
        const auto retry = [&late, this] {
            salvage_->retrySkipped([&late, this](std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
                late.emplace_back(offset, std::vector<std::uint8_t>(bytes, bytes + n));
                result_.readLast += n;
            });
        };
        // Those reads are slow ones again, most likely: the window stays answered.
        if (!result_.stopped && aside_) aside_->run(retry);
        else if (!result_.stopped) retry();
        // Written as dd writes: the system puts it on the disk in its own time; a
        // write that failed (a full disk) was seen above.
        bool written = writer_->finish();
        for (const auto& [offset, bytes] : late)
            written = written && out_.writeAt(offset, bytes.data(), bytes.size()) == bytes.size();
        out_.close();
        if (req_.settings) shell::SaveSetting(*req_.settings, shell::kLastCluster, "0");
        result_.bytes = done_;
        result_.ok = written;
        if (!written || result_.stopped || salvage_->gone()) notePartial(written);
        if (!written) {
            tell(FormatStr(LoadStr(0, "The image %0 could not be written whole: the disk may be full."),
                           {result_.image.string()}) +
                 "\n" + FormatStr(LoadStr(0, "What was written is kept, marked as partial in %0."),
                                  {result_.partialNote.string()}));
            return;
        }
        if (salvage_->unreadableSectors() > 0) listUnreadable();
        if (salvage_->gone())
            tell(media::NoLongerAnswersText(req_.drive) + "\n" +
                 FormatStr(LoadStr(0, "What was written is kept, marked as partial in %0."), {result_.partialNote.string()}));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        ui_.status(FormatStr(LoadStr(1494, "Finished: %0 seconds. Average: %1 MB/sec"),
                             {fixed(seconds, 0), fixed(seconds > 0 ? static_cast<double>(done_) / 1048576.0 / seconds : 0, 1)}));
    }

    // What is there is kept (a dying card may not be read again), and a note
    // beside it says that it is not the whole medium.
    void notePartial(bool written) {
        result_.partialNote = result_.image.string() + ".partial.txt";
        std::ofstream note(result_.partialNote);
        note << "This image of " << req_.drive << " is partial: "
             << (written ? (salvage_->gone() ? "the medium stopped answering after " : "the copy was stopped after ") +
                               std::to_string(done_) + " of " + std::to_string(size_)
                         : "the target disk did not take all of its " + std::to_string(size_))
             << " bytes. "
             << (req_.backwards ? "It was copied from the end backwards: what lies before byte " + std::to_string(at_) +
                                      " on the medium is not in it (zeros stand there).\n"
                                : "What follows that point on the medium is not in it.\n");
    }

    void listUnreadable() {
        result_.unreadableSectors = salvage_->unreadableSectors();
        result_.unreadableList = result_.image.string() + ".unreadable.txt";
        std::ofstream list(result_.unreadableList);
        list << "# Sectors (of " << sector_ << " bytes) of " << req_.drive
             << " that could not be read; the image holds zeros there.\n";
        for (const auto& [first, count] : salvage_->unreadable())
            for (std::uint64_t s = first; s < first + count; ++s) list << s << "\n";
    }

    shell::Ui& ui_;
    const BackupRequest& req_;
    const std::string title_;
    BackupResult result_;
    media::DriveRecord rec_;
    platform::RawFile in_, out_;
    std::uint64_t size_ = 0;
    std::uint64_t sector_ = 512;
    std::optional<media::SalvagingReader> salvage_;
    std::optional<BlockWriter> writer_;
    std::optional<media::ReadAside> aside_;  // the reads, while a window is answered
    std::chrono::steady_clock::time_point started_;
    std::uint64_t done_ = 0;  // bytes copied, from the start or, backwards, from the end
    std::uint64_t at_ = 0;    // where the last block was read
};

}  // namespace

BackupResult BackupDisk(shell::Ui& ui, const BackupRequest& req) { return Backup(ui, req).run(); }

}  // namespace hx::output
