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
#include <mutex>
#include <thread>

#include "filesystems/DriveInfo.h"
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
// buffers go round: one being read into, the others written or waiting.
class BlockWriter {
public:
    BlockWriter(platform::RawFile& out, std::size_t blockBytes) : out_(out) {
        for (auto& b : buffers_) {
            b.resize(blockBytes);
            free_.push_back(&b);
        }
        thread_ = std::thread([this] { loop(); });
    }
    ~BlockWriter() { finish(); }
    // A buffer to read the next block into.
    std::vector<std::uint8_t>* take() {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return !free_.empty(); });
        auto* b = free_.front();
        free_.pop_front();
        return b;
    }
    void put(std::uint64_t offset, std::vector<std::uint8_t>* block, std::size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({offset, block, size});
        ready_.notify_one();
    }
    bool finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            ready_.notify_one();
        }
        if (thread_.joinable()) thread_.join();
        return !failed_;
    }

private:
    struct Job {
        std::uint64_t offset;
        std::vector<std::uint8_t>* block;
        std::size_t size;
    };
    void loop() {
        for (;;) {
            Job job{};
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !queue_.empty() || done_; });
                if (queue_.empty()) return;
                job = queue_.front();
                queue_.pop_front();
            }
            if (!failed_ && out_.writeAt(job.offset, job.block->data(), job.size) != job.size) failed_ = true;
            std::lock_guard<std::mutex> lock(mutex_);
            free_.push_back(job.block);
            room_.notify_one();
        }
    }
    platform::RawFile& out_;
    std::vector<std::uint8_t> buffers_[3];
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<std::vector<std::uint8_t>*> free_;
    std::deque<Job> queue_;
    bool done_ = false;
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

BackupResult BackupDisk(shell::Ui& ui, const BackupRequest& req) {
    BackupResult result;
    const std::string title = LoadStr(0, "Backup");
    media::DriveRecord rec;
    filesystems::GetDriveInfo(req.drive, rec);
    platform::RawFile in;
    if (!volumes::OpenDrive(in, req.drive, platform::RawFile::Mode::Read)) {
        ui.message(FormatStr(LoadStr(0, "%0 cannot be read, so no image of it can be made."), {req.drive}), title,
                   {shell::Buttons::OK, shell::Icon::Exclamation});
        return result;
    }
    const std::uint64_t size = in.size();
    if (size == 0 && ui.message(LoadStr(0, "Impossible to retrieve disk data.") + "\n" +
                                    LoadStr(0, "Operation not sure.") + "\n" + LoadStr(0, "However, you may proceed."),
                                title, {shell::Buttons::OKCancel, shell::Icon::Information}) != shell::Answer::OK)
        return result;

    const fs::path imageFolder = req.image.empty() ? req.folder / "DiskImages" : req.image.parent_path();
    std::error_code ec;
    fs::create_directories(imageFolder, ec);
    if (req.image.empty()) {
        PruneImageFolder(imageFolder);
        result.image = ImageFileName(imageFolder, rec.Drive.empty() ? req.drive : rec.Drive, rec.VolumeLabel,
                                     req.date.empty() ? platform::LocalTimeText("%Y-%m-%d") : req.date);
        result.companion = result.image.string() + ".dat";
    } else {
        result.image = req.image;
    }
    if (!result.companion.empty() && !WriteCompanionFile(result.companion, result.image, rec, req.entries)) {
        ui.message(FormatStr(LoadStr(0, "The folder %0 cannot be written to."), {imageFolder.string()}), title,
                   {shell::Buttons::OK, shell::Icon::Exclamation});
        return result;
    }
    platform::RawFile out;
    if (!out.open(result.image, platform::RawFile::Mode::Create)) {
        ui.message(FormatStr(LoadStr(0, "The folder %0 cannot be written to."), {imageFolder.string()}), title,
                   {shell::Buttons::OK, shell::Icon::Exclamation});
        return result;
    }

    // The read size: a block of memory, a cluster with DeepScan, a sector for a damaged medium.
    const std::uint64_t sector = static_cast<std::uint64_t>(rec.sectorSize());
    const std::uint64_t cluster = sector * std::max<std::uint64_t>(1, rec.SectorsPerCluster);
    std::uint64_t step = static_cast<std::uint64_t>(BackupBlockMegabytes(platform::AvailableMemoryMB())) * 1048576;
    if (req.deep) step = cluster;
    if (req.damaged) step = sector;
    in.adviseSequential();

    // Until the copy ends, a restart knows that it was ended while reading.
    if (req.settings) {
        shell::SaveSetting(*req.settings, shell::kLastDrive, req.drive);
        shell::SaveSetting(*req.settings, shell::kLastCluster, "33");
    }
    media::SalvagingReader salvage(in, static_cast<std::uint32_t>(sector));
    // Slow areas wait for the end: a card that is getting worse gives its healthy parts first.
    salvage.skipSlowAreas();
    BlockWriter writer(out, static_cast<std::size_t>(std::min<std::uint64_t>(step, std::max<std::uint64_t>(size, 1))));
    const auto started = std::chrono::steady_clock::now();
    auto lastShown = started;
    std::uint64_t done = 0;  // bytes copied, from the start or, backwards, from the end
    std::uint64_t at = 0;
    while (done < size) {
        if (ui.stopRequested()) {
            result.stopped = true;
            break;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(step, size - done));
        at = req.backwards ? size - done - want : done;
        std::vector<std::uint8_t>& block = *writer.take();
        // What stays unreadable is zeros; a medium that stops answering leaves zeros from there on.
        const std::size_t got = salvage.read(at, block.data(), want);
        if (got < want) std::fill(block.begin() + static_cast<std::ptrdiff_t>(got), block.begin() + static_cast<std::ptrdiff_t>(want), 0);
        writer.put(at, &block, want);
        done += want;
        if (salvage.gone()) {
            done -= want - got;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastShown >= std::chrono::seconds(2)) {
            lastShown = now;
            const double elapsed = std::chrono::duration<double>(now - started).count();
            const double perSecond = static_cast<double>(done) / elapsed;
            ui.progress(static_cast<double>(done) / static_cast<double>(size),
                        FormatStr(LoadStr(1492, "Elapsed: %0 & to go: %1 seconds %2 MB/s"),
                                  {fixed(elapsed, 0), fixed(static_cast<double>(size - done) / perSecond, 0),
                                   fixed(perSecond / 1048576.0, 1)}));
            // Backwards, the marker tells the sector the copy has come down to.
            if (req.settings && req.backwards)
                shell::SaveSetting(*req.settings, shell::kLastCluster, std::to_string(at / sector + 1));
            ui.yield();
        }
    }
    ui.status(LoadStr(337, "Flushing, wait..."));
    // The areas skipped over after failures, read again now that the rest is saved.
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> late;
    if (!result.stopped)
        salvage.retrySkipped([&late](std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
            late.emplace_back(offset, std::vector<std::uint8_t>(bytes, bytes + n));
        });
    // Written as dd writes: the system puts it on the disk in its own time; a
    // write that failed (a full disk) was seen above.
    bool written = writer.finish();
    for (const auto& [offset, bytes] : late)
        written = written && out.writeAt(offset, bytes.data(), bytes.size()) == bytes.size();
    out.close();
    if (req.settings) shell::SaveSetting(*req.settings, shell::kLastCluster, "0");
    result.bytes = done;
    result.ok = written;
    if (!written || result.stopped || salvage.gone()) {
        // What is there is kept (a dying card may not be read again), and a
        // note beside it says that it is not the whole medium.
        result.partialNote = result.image.string() + ".partial.txt";
        std::ofstream note(result.partialNote);
        note << "This image of " << req.drive << " is partial: "
             << (written ? (salvage.gone() ? "the medium stopped answering after " : "the copy was stopped after ") +
                               std::to_string(done) + " of " + std::to_string(size)
                         : "the target disk did not take all of its " + std::to_string(size))
             << " bytes. "
             << (req.backwards ? "It was copied from the end backwards: what lies before byte " + std::to_string(at) +
                                     " on the medium is not in it (zeros stand there).\n"
                               : "What follows that point on the medium is not in it.\n");
    }
    if (!written) {
        ui.message(FormatStr(LoadStr(0, "The image %0 could not be written whole: the disk may be full."),
                             {result.image.string()}) +
                       "\n" + FormatStr(LoadStr(0, "What was written is kept, marked as partial in %0."),
                                        {result.partialNote.string()}),
                   title, {shell::Buttons::OK, shell::Icon::Exclamation});
        return result;
    }
    if (salvage.unreadableSectors() > 0) {
        result.unreadableSectors = salvage.unreadableSectors();
        result.unreadableList = result.image.string() + ".unreadable.txt";
        std::ofstream list(result.unreadableList);
        list << "# Sectors (of " << sector << " bytes) of " << req.drive
             << " that could not be read; the image holds zeros there.\n";
        for (const auto& [first, count] : salvage.unreadable())
            for (std::uint64_t s = first; s < first + count; ++s) list << s << "\n";
    }
    if (salvage.gone())
        ui.message(media::NoLongerAnswersText(req.drive) +
                       "\n" + FormatStr(LoadStr(0, "What was written is kept, marked as partial in %0."),
                                        {result.partialNote.string()}),
                   title, {shell::Buttons::OK, shell::Icon::Exclamation});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ui.status(FormatStr(LoadStr(1494, "Finished: %0 seconds. Average: %1 MB/sec"),
                        {fixed(seconds, 0), fixed(seconds > 0 ? static_cast<double>(done) / 1048576.0 / seconds : 0, 1)}));
    return result;
}

}  // namespace hx::output
