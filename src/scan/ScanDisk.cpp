#include "scan/ScanDisk.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "platform/FreeSpace.h"
#include "scan/BlockReader.h"
#include "scan/EmbeddedPictures.h"
#include "scan/FileEndRule.h"
#include "scan/FoundFileWriter.h"
#include "scan/ListingCursor.h"
#include "scan/Ole2End.h"
#include "scan/SignatureMatcher.h"
#include "shell/Settings.h"
#include "shell/Strings.h"
#include "viewing/Exif.h"
#include "shell/Text.h"

namespace hx::scan {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

namespace {

constexpr std::size_t kWindow = kSignatureWindow;
constexpr double kMB = 1048576.0;
constexpr double kSpaceReserveMB = 2500;

const char* const kRawExtensions = ".CRW.CR2.DNG.NEF.RAW.RAF.X3F.ORF.SRF.MRW.DCR.BAY.PEF.TIFF.TIF.SR2.ARW.RW2";
const char* const kPictureExtensions =
    ".jpeg.jpg.jpe.thm.ico.wmf.bmp.cur.png.gif.tiff.tif.kdc.jfif.mef.nef.dng.thc.rpc";
const char* const kAllRawExtensions =
    ".CRW.CR2.DNG.NEF.RAW.RAF.X3F.ORF.SRF.MRW.DCR.BAY.PEF.TIFF.TIF.SR2.ARW.RW2.FOVb.MEW.RAW.RDC.KDC.DCR.RDC.3FR.MEF";

std::string extensionOf(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : shell::ToLower(name.substr(dot));
}

bool contains(const std::uint8_t* data, std::size_t size, std::string_view what) {
    return std::string_view(reinterpret_cast<const char*>(data), size).find(what) != std::string_view::npos;
}

std::string formatFixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

// The largest size a picture of these dimensions can plausibly have.
double pictureCapMB(const viewing::ExifValues& exif, const std::string& ext, double capMB) {
    if (shell::ContainsNoCase(kAllRawExtensions, ext) || exif.height < 1001) return capMB;
    const double exifCap = static_cast<double>(exif.width) * exif.height * 6 / kMB;
    return capMB > 0 ? std::min(capMB, exifCap) : exifCap;
}

// The file being copied out of the medium.
struct OpenFile {
    bool open = false;       // units are added to it
    bool complete = false;   // its end is reached; units until the next find are skipped
    bool inWriter = false;   // the writer holds it open
    std::unique_ptr<FileEndRule> rule;
    std::string ext;
    std::string name;
    std::string description;
    std::uint64_t writtenBytes = 0;
    double writtenMB = 0;    // whole units, as the size limits count
    double capMB = 0;
    double repeatMB = 0;
    std::array<std::uint8_t, 512> repeatPiece{};
    viewing::ExifValues exif;
    bool haveExif = false;
};

class Scanner {
public:
    explicit Scanner(ScanContext& c) : ctx_(c), ui_(c.ui) {}
    ScanOutcome run();

private:
    void setUp();
    void startOrResume();
    std::optional<ScanOutcome> openSource();
    std::optional<ScanOutcome> scanBlocks(bool& stopped);
    void settleWrites(bool stopped);
    ScanOutcome report(bool stopped);
    ScanOutcome unreadable();

    std::size_t blockUnits() const;
    void buildSecondTable();
    bool findFreeRun(std::uint64_t from);
    void examineBlock(std::size_t units);
    void lookForEmbedded(const std::uint8_t* unit, std::size_t index);
    void emitEmbedded();
    void startFile(const SignatureRow& row, const std::uint8_t* window);
    void readPictureHeader(const std::uint8_t* window);
    void appendUnit(const std::uint8_t* unit);
    void writeBytes(const std::uint8_t* data, std::size_t size);
    void flushPending();
    void finishFile();
    void dropFile(const fs::path& path);
    void nameAsCamera(const std::string& ownName);
    void keepWithinReserve(std::uint64_t size);
    void closeAsWritten();
    void reopenLastFile();
    void showProgress(bool force);
    void setLastCluster(const char* value) {
        ctx_.LastCluster = value;
        if (ctx_.settings) shell::SaveSetting(*ctx_.settings, shell::kLastCluster, value);
    }

    ScanContext& ctx_;
    shell::Ui& ui_;
    ScanGeometry geo_;
    std::uint64_t unitSize_ = 512;
    std::size_t unitsPerBlock_ = 1;
    std::uint64_t endUnit_ = 0;  // one past the last unit
    std::uint64_t unit_ = 0;     // number of the unit being examined
    std::uint64_t startUnit_ = 0;
    std::uint64_t runEnd_ = 0;   // SmartScan: end of the run of free units being read
    std::unique_ptr<BlockReader> reader_;
    std::vector<std::uint8_t> previousSector_;
    bool fixedDisk_ = false;

    SignatureMatcher matcher_;
    SignatureTable secondTable_;  // listed types that were not chosen: they end a file without starting one
    SignatureMatcher secondMatcher_;
    std::optional<ListingCursor> listing_;

    long counter_ = -1;
    double budgetMB_ = 0;
    double recoveredMB_ = 0;
    bool outOfSpace_ = false;
    std::unordered_set<std::string> madeNames_;  // names given in this scan (the writer may still be at work)
    FoundFileWriter writer_;
    // DeepScan: JPEGs at any byte offset, written once no file is open.
    EmbeddedPictureFinder embedded_;
    bool lookEmbedded_ = false;
    bool jpegInTable_ = false;
    int docRow_ = -1;  // the DOC row of the table, when chosen
    std::uint64_t embeddedEnd_ = 0;  // source offset up to which pictures were taken
    struct QueuedPicture {
        EmbeddedPicture picture;
        std::uint64_t unit = 0;
    };
    std::vector<QueuedPicture> embeddedQueue_;
    OpenFile file_;
    // Consecutive units of the block are written with one call.
    const std::uint8_t* pending_ = nullptr;
    std::size_t pendingSize_ = 0;

    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastProgress_;
};

std::size_t Scanner::blockUnits() const {
    double k = platform::AvailableMemoryMB() / 10;
    // Blocks of a few megabytes stay in the CPU cache between the read and the
    // look at the same bytes: 1.4 times faster on a photo card than 66 MB blocks.
    k = std::clamp(k, 0.0, 2.0);
    std::uint64_t units = static_cast<std::uint64_t>((static_cast<std::uint64_t>(k) + 2) * 1048576ull / unitSize_);
    units = std::min(units, geo_.totalUnits / 20);
    if ((ctx_.record.DriveType != "CDRom" && geo_.sectorsPerCluster == 1) || ctx_.options.unattended) units /= 4;
    units = std::max<std::uint64_t>(units, 1);
    while (units * unitSize_ < kWindow) ++units;
    return static_cast<std::size_t>(units);
}

void Scanner::buildSecondTable() {
    secondTable_.clear();
    if (!fixedDisk_ || ctx_.options.deepScan || ctx_.listed.empty()) return;
    const std::string selected = TableExtensions(ctx_.table);
    std::string listedExts;
    for (const auto& e : ctx_.listed) listedExts += extensionOf(e.name) + "|";
    for (auto& row : BuildSignatureTable("all")) {
        const std::string ext = shell::ToLower(row.Extension);
        if (selected.find(ext) != std::string::npos) continue;
        if (listedExts.find(ext + "|") == std::string::npos) continue;
        secondTable_.push_back(row);
    }
    OrderForScan(secondTable_);
    secondMatcher_.build(secondTable_);
}

void Scanner::setUp() {
    unitSize_ = geo_.unitBytes();
    fixedDisk_ = ctx_.record.DriveType == "Fixed";
    unitsPerBlock_ = blockUnits();
    ctx_.unitSize = unitSize_;
    ctx_.unitsPerBlock = unitsPerBlock_;
    ctx_.totalUnits = geo_.totalUnits;
    endUnit_ = geo_.endUnit();
    matcher_.build(ctx_.table);
    budgetMB_ = platform::FreeMegabytes(ctx_.cacheFolder.string()) - kSpaceReserveMB;
    buildSecondTable();
    startOrResume();
    listing_.emplace(ctx_.listed, ctx_.record.isNtfs(), TableExtensions(ctx_.table), ctx_.cacheFolder);
    listing_->advance(unit_, endUnit_);
    reader_ = std::make_unique<BlockReader>(ctx_.drive, geo_, unitsPerBlock_, kWindow, ctx_.options.damaged);
    // Found files wait to be written for at most a few blocks: memory stays bounded by the block size.
    writer_.setPendingLimit(4 * unitsPerBlock_ * unitSize_);
    previousSector_.assign(512, 0);
    for (std::size_t i = 0; i < ctx_.table.size(); ++i) {
        const std::string ext = shell::ToLower(ctx_.table[i].Extension);
        if (ext == ".jpg") jpegInTable_ = true;
        if (ext == ".doc" && docRow_ < 0) docRow_ = static_cast<int>(i);
    }
    lookEmbedded_ = ctx_.options.deepScan && jpegInTable_ && embedded_.open(ctx_.drive);
}

void Scanner::startOrResume() {
    const bool resuming = ctx_.resumeUnit > geo_.rootCluster && ctx_.resumeUnit < endUnit_ && ctx_.resumeDrive == ctx_.drive;
    startUnit_ = resuming ? ctx_.resumeUnit : geo_.rootCluster;
    unit_ = startUnit_;
    if (!resuming) {
        ctx_.found.clear();
        ctx_.List3.clear();
        ctx_.emptyUnits = 0;
        ctx_.found.reserve(100);
    } else {
        counter_ = static_cast<long>(ctx_.found.size()) - 1;
        if (ctx_.lastFileOpen) reopenLastFile();
    }
    ctx_.lastFileOpen = false;
    ctx_.resumeDrive = ctx_.drive;
}

bool Scanner::findFreeRun(std::uint64_t from) {
    // Units are mapped to the medium's clusters; a run ends at the first used cluster.
    auto used = [this](std::uint64_t u) { return ctx_.clusterInUse(geo_.clusterOf(u)); };
    std::uint64_t u = from;
    while (u < endUnit_ && used(u)) ++u;
    if (u >= endUnit_) return false;
    std::uint64_t e = u;
    while (e < endUnit_ && !used(e)) ++e;
    if (u != unit_) {
        unit_ = u;
        reader_->seek(u);
    }
    runEnd_ = e;
    return true;
}

void Scanner::readPictureHeader(const std::uint8_t* window) {
    // Pictures: the camera and the size of the picture from the EXIF header.
    file_.haveExif = false;
    file_.exif = {};
    const std::size_t sectorBytes = std::min<std::size_t>(geo_.bytesPerSector, kWindow);
    if (!shell::ContainsNoCase(kRawExtensions, file_.ext) && !shell::ContainsNoCase(kPictureExtensions, file_.ext)) return;
    if (contains(window, kWindow, "Exif") || contains(window, sectorBytes, "TTW") || contains(window, 16, "II") ||
        contains(window, 16, "MM")) {
        viewing::ReadExif("BUF", window, kWindow, file_.exif);
        file_.haveExif = true;
        auto pos = file_.exif.model.find("DIGITAL");
        if (pos != std::string::npos) file_.exif.model = shell::Trim(file_.exif.model.erase(pos, 7));
        file_.capMB = pictureCapMB(file_.exif, file_.ext, file_.capMB);
    }
    if (!file_.exif.model.empty()) {
        file_.description = file_.exif.model;
        if (file_.ext == ".mrw") file_.description = "KM" + file_.exif.model.substr(0, 10) + " Raw";
    }
}

void Scanner::startFile(const SignatureRow& row, const std::uint8_t* window) {
    ++counter_;
    file_ = OpenFile{};
    file_.open = true;
    file_.capMB = ctx_.options.maxMB;
    file_.ext = shell::ToLower(row.Extension);
    file_.description = shell::Trim(row.DisplayName);
    file_.rule = EndRuleFor(file_.ext, window, geo_.bytesPerSector);

    std::string name = FoundFileName(counter_, row.Extension);
    std::uint64_t listedSize = 0;
    // Units skipped by SmartScan or a resume were never looked at; listed files there are past.
    if (listing_->next().unit < unit_) listing_->advance(unit_, endUnit_);
    if (unit_ == listing_->next().unit) {
        const ListedFile& listed = listing_->next();
        const std::string listedExt = extensionOf(listed.name);
        const bool bothJpeg = std::string(".jpg.jpe.thm").find(file_.ext) != std::string::npos &&
                              !listedExt.empty() && std::string(".jpg.jpe.thm").find(listedExt) != std::string::npos;
        if (!listed.name.empty() && (shell::ContainsNoCase(row.Extension, listedExt) || bothJpeg)) {
            if (shell::ContainsNoCase(listed.name + ".thm.jpe.jpg", row.Extension) && !madeNames_.count(listed.name))
                name = listed.name;
            listedSize = listed.size;
        }
        listing_->advance(unit_, endUnit_);
    }
    file_.name = name;
    readPictureHeader(window);

    writer_.create(counter_, ctx_.cacheFolder / file_.name);
    file_.inWriter = true;
    madeNames_.insert(file_.name);
    if (ctx_.found.size() <= static_cast<std::size_t>(counter_)) ctx_.found.resize(counter_ + 1);
    ctx_.found[counter_] = FoundFile{file_.name, file_.ext, file_.description, unit_, 0, listedSize};
}

void Scanner::writeBytes(const std::uint8_t* data, std::size_t size) {
    if (!file_.inWriter || size == 0) return;
    if (pending_ && pending_ + pendingSize_ == data) {
        pendingSize_ += size;
    } else {
        flushPending();
        pending_ = data;
        pendingSize_ = size;
    }
    file_.writtenBytes += size;
}

void Scanner::flushPending() {
    if (file_.inWriter && pending_ && pendingSize_ > 0) {
        if (writer_.hasSource())
            writer_.appendFromSource(reader_->offset() + static_cast<std::uint64_t>(pending_ - reader_->data()),
                                     pendingSize_);
        else
            writer_.appendCopy(pending_, pendingSize_);
    }
    pending_ = nullptr;
    pendingSize_ = 0;
}

void Scanner::appendUnit(const std::uint8_t* unit) {
    // A file the listing names ends at its listed size, whatever its insides
    // say: a camera's trailer after a JPEG's end marker belongs to the photo.
    if (const std::uint64_t listed = ctx_.found[counter_].listedSize; listed > 0) {
        const std::uint64_t left = listed > file_.writtenBytes ? listed - file_.writtenBytes : 0;
        const auto keep = static_cast<std::size_t>(std::min<std::uint64_t>(unitSize_, left));
        if (file_.writtenBytes + keep >= listed) file_.complete = true;
        writeBytes(unit, keep);
        file_.writtenMB += unitSize_ / kMB;
        return;
    }
    bool ends = false;
    const std::size_t keep = file_.rule->unit(unit, static_cast<std::size_t>(unitSize_), ends);
    if (ends) file_.complete = true;
    writeBytes(unit, keep);
    file_.writtenMB += unitSize_ / kMB;
    if (file_.capMB > 0 && file_.writtenMB >= file_.capMB) file_.complete = true;
    if (fixedDisk_ && file_.capMB == 0 && file_.writtenMB < 20 && !file_.complete) {
        // Runs of one repeated piece (blank or filler sectors) do not belong to a file.
        const bool repeats = std::memcmp(unit, unit + 512, 512) == 0 &&
                             std::memcmp(unit, file_.repeatPiece.data(), 512) == 0;
        if (repeats) {
            file_.repeatMB += unitSize_ / kMB;
            if (file_.repeatMB >= 10) file_.complete = true;
        } else {
            file_.repeatMB = 0;
            std::memcpy(file_.repeatPiece.data(), unit, 512);
        }
    }
}

void Scanner::closeAsWritten() {
    flushPending();
    if (!file_.inWriter) return;
    writer_.close();
    file_.inWriter = false;
    if (counter_ >= 0) ctx_.found[counter_].size = file_.writtenBytes;
}

void Scanner::dropFile(const fs::path& path) {
    writer_.remove(path);
    ctx_.found.resize(counter_);
    --counter_;
}

void Scanner::nameAsCamera(const std::string& ownName) {
    // The camera's own name, made unique in the cache folder.
    writer_.wait();
    const fs::path path = ctx_.cacheFolder / file_.name;
    std::string candidate = ownName;
    std::error_code ec;
    for (int guard = 0; guard < 100000 && fs::exists(ctx_.cacheFolder / candidate, ec); ++guard) {
        const auto dash = candidate.find('-');
        long n = dash == std::string::npos ? 0 : std::strtol(candidate.substr(0, dash).c_str(), nullptr, 10);
        if (n != 0) candidate = std::to_string(n + 1) + candidate.substr(dash);
        else candidate = "1-" + candidate;
    }
    fs::rename(path, ctx_.cacheFolder / candidate, ec);
    if (!ec) {
        file_.name = candidate;
        madeNames_.insert(candidate);
    }
}

void Scanner::keepWithinReserve(std::uint64_t size) {
    // The cache disk must keep its reserve.
    const double fileMB = static_cast<double>(size) / kMB;
    if (recoveredMB_ + fileMB <= budgetMB_) {
        if ((counter_ + 1) % 1000 == 0)
            budgetMB_ = std::min(budgetMB_, platform::FreeMegabytes(ctx_.cacheFolder.string()) - kSpaceReserveMB);
    } else if (platform::FreeMegabytes(ctx_.cacheFolder.string()) < kSpaceReserveMB) {
        outOfSpace_ = true;
    }
    recoveredMB_ += fileMB;
}

void Scanner::finishFile() {
    if (!file_.open) return;
    file_.open = false;
    closeAsWritten();
    const fs::path path = ctx_.cacheFolder / file_.name;
    if (file_.writtenMB < ctx_.options.minMB) return dropFile(path);
    FoundFile& found = ctx_.found[counter_];
    std::uint64_t size = file_.writtenBytes;
    const EndVerdict verdict = file_.rule->closed(
        {path, size, found.listedSize, ctx_.options.minMB * kMB, [this] { writer_.wait(); }});
    if (!verdict.keep) return dropFile(path);
    // A listed file is as long as the listing says; otherwise its own structure decides.
    const std::uint64_t end = found.listedSize > 0 ? found.listedSize : verdict.end;
    if (end > 0 && end < size) {
        writer_.truncate(path, end);
        size = end;
    }
    const FileFacts& facts = file_.rule->facts();
    if (!facts.model.empty()) {
        auto raw = file_.description.find(" Raw");
        if (raw != std::string::npos) file_.description.replace(raw, 4, " " + facts.model);
    }
    if (!facts.ownName.empty() && facts.ownName != file_.name) nameAsCamera(facts.ownName);
    found.name = file_.name;
    found.size = size;
    found.description = file_.description;
    if (counter_ < 32760) ctx_.List3.push_back(FoundEntryText(counter_, file_.description));
    keepWithinReserve(size);
    std::int64_t when = 0;
    if (file_.haveExif && viewing::ExifDateToTime(file_.exif.rawDate, when))
        writer_.setTime(ctx_.cacheFolder / file_.name, when);
}

void Scanner::reopenLastFile() {
    // A resumed scan continues the file that was still open at the stop.
    if (ctx_.found.empty()) return;
    counter_ = static_cast<long>(ctx_.found.size()) - 1;
    const FoundFile& last = ctx_.found[counter_];
    const fs::path path = ctx_.cacheFolder / last.name;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return;
    std::vector<std::uint8_t> head(kWindow, 0);
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        head.resize(std::fread(head.data(), 1, kWindow, f));
        head.resize(kWindow, 0);
        std::fclose(f);
    }
    file_ = OpenFile{};
    file_.open = true;
    file_.name = last.name;
    file_.ext = last.extension;
    file_.description = last.description;
    file_.writtenBytes = size;
    file_.writtenMB = static_cast<double>(size) / kMB;
    file_.capMB = ctx_.options.maxMB;
    file_.rule = EndRuleFor(file_.ext, head.data(), geo_.bytesPerSector);
    file_.rule->resumedMidFile();
    file_.haveExif = viewing::ReadExif("BUF", head.data(), head.size(), file_.exif) || !file_.exif.rawDate.empty();
    file_.capMB = pictureCapMB(file_.exif, file_.ext, file_.capMB);
    writer_.reopen(counter_, path);
    file_.inWriter = true;
}

void Scanner::showProgress(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastProgress_ < std::chrono::seconds(3)) return;
    lastProgress_ = now;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double done = static_cast<double>(unit_ - startUnit_);
    const double perSecond = elapsed > 0 ? done / elapsed : 0;
    const double toGo = perSecond > 0 ? static_cast<double>(endUnit_ - unit_) / perSecond : 0;
    const double mbps = elapsed > 0 ? done * static_cast<double>(unitSize_) / kMB / elapsed : 0;
    const std::string text = FormatStr(LoadStr(1492, "Elapsed: %0 && to go: %1 seconds %2 MB/s"),
                                       {formatFixed(elapsed, 0), formatFixed(toGo, 0), formatFixed(mbps, 1)});
    const double total = static_cast<double>(endUnit_ - geo_.rootCluster);
    ui_.progress(total > 0 ? static_cast<double>(unit_ - geo_.rootCluster) / total : 0, text);
}

void Scanner::examineBlock(std::size_t units) {
    const std::size_t sectorBytes = std::min<std::size_t>(geo_.bytesPerSector, 512);
    const std::uint8_t* block = reader_->data();
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint8_t* p = block + i * unitSize_;
        if (counter_ < 0 && ctx_.found.empty()) {
            if (std::memcmp(p, previousSector_.data(), sectorBytes) == 0) ++ctx_.emptyUnits;
            std::memcpy(previousSector_.data(), p, sectorBytes);
        }
        int row = matcher_.match(p);
        // Compound documents the DOC row's pattern misses are known by their header.
        if (row < 0 && docRow_ >= 0 && p[0] == 0xD0 && IsOle2Header(p, kWindow)) row = docRow_;
        // A thumbnail inside the open picture's EXIF block is not a new file.
        if (row >= 0 && file_.open && !file_.complete && file_.rule->insideStructure()) row = -1;
        if (row >= 0) {
            finishFile();
            if (outOfSpace_) break;
            emitEmbedded();
            startFile(ctx_.table[row], p);
            appendUnit(p);
        } else {
            if (unit_ >= listing_->next().unit) listing_->advance(unit_, endUnit_);
            if (file_.open && !file_.complete) {
                if (!secondTable_.empty() && secondMatcher_.match(p) >= 0) file_.complete = true;
                else appendUnit(p);
            }
        }
        if (lookEmbedded_) lookForEmbedded(p, i);
        ++unit_;
    }
    flushPending();  // the block buffer is about to be reused
    if (writer_.failedFile() >= 0) outOfSpace_ = true;
}

void Scanner::lookForEmbedded(const std::uint8_t* unit, std::size_t index) {
    // Inside a picture being copied, a JPEG start is its thumbnail or preview.
    const bool insidePicture = file_.open && !file_.complete &&
                               (shell::ContainsNoCase(kPictureExtensions, file_.ext) || shell::ContainsNoCase(kRawExtensions, file_.ext));
    if (insidePicture) return;
    const std::uint64_t at = reader_->offset() + index * unitSize_;
    for (std::uint64_t start : embedded_.candidates(unit, static_cast<std::size_t>(unitSize_), at, 0, unitSize_, jpegInTable_)) {
        if (start < embeddedEnd_) continue;
        const std::uint64_t length = embedded_.measure(start);
        if (length == 0) continue;
        embeddedQueue_.push_back({{start, length}, unit_});
        embeddedEnd_ = start + length;
    }
}

void Scanner::emitEmbedded() {
    for (const QueuedPicture& q : embeddedQueue_) {
        if (outOfSpace_) break;
        ++counter_;
        const std::string name = FoundFileName(counter_, ".jpg");
        writer_.create(counter_, ctx_.cacheFolder / name);
        if (writer_.hasSource()) {
            writer_.appendFromSource(q.picture.offset, static_cast<std::size_t>(q.picture.length));
        } else {
            const auto bytes = embedded_.read(q.picture);
            writer_.appendCopy(bytes.data(), bytes.size());
        }
        writer_.close();
        madeNames_.insert(name);
        if (ctx_.found.size() <= static_cast<std::size_t>(counter_)) ctx_.found.resize(counter_ + 1);
        const std::string description = LoadStr(0, "JPEG inside other data");
        ctx_.found[counter_] = FoundFile{name, ".jpg", description, q.unit, q.picture.length, 0};
        if (counter_ < 32760) ctx_.List3.push_back(FoundEntryText(counter_, description));
        keepWithinReserve(q.picture.length);
    }
    embeddedQueue_.clear();
}

ScanOutcome Scanner::unreadable() {
    ui_.message(LoadStr(562, "Cannot read the disk."), LoadStr(38, "Scan"), {shell::Buttons::OK, shell::Icon::Exclamation});
    setLastCluster("0");
    return ScanOutcome::Unreadable;
}

std::optional<ScanOutcome> Scanner::openSource() {
    if (!reader_->open(startUnit_)) {
        closeAsWritten();
        if (!reader_->permissionDenied()) return unreadable();
        ui_.message(LoadStr(560, "Disk is either protected by Windows or damaged and unreadable."),
                    LoadStr(561, "Scan disk ") + ctx_.drive, {shell::Buttons::OK, shell::Icon::Exclamation});
        setLastCluster("0");
        return ScanOutcome::Unreadable;
    }
    // Found files are copied from an image inside the kernel; a device is
    // not read twice: its bytes are handed over from the block.
    if (!ctx_.options.damaged) writer_.openSource(ctx_.drive);
    return std::nullopt;
}

std::optional<ScanOutcome> Scanner::scanBlocks(bool& stopped) {
    const bool smart = ctx_.options.smartScan && static_cast<bool>(ctx_.clusterInUse);
    runEnd_ = endUnit_;
    if (smart && !findFreeRun(unit_)) unit_ = endUnit_;
    while (unit_ < endUnit_) {
        std::size_t want = unitsPerBlock_;
        if (smart) {
            if (unit_ >= runEnd_ && !findFreeRun(unit_)) break;
            want = static_cast<std::size_t>(std::min<std::uint64_t>(want, runEnd_ - unit_));
        }
        if (endUnit_ - unit_ < want) {
            want = static_cast<std::size_t>(endUnit_ - unit_);
            setLastCluster("0");
        }
        const std::size_t got = reader_->read(unit_, want);
        if (reader_->unreadable()) {
            closeAsWritten();
            reader_->close();
            return unreadable();
        }
        if (got == 0) break;
        ctx_.megabytesRead += static_cast<double>(got * unitSize_) / kMB;
        examineBlock(got);
        ctx_.resumeUnit = unit_;
        if (outOfSpace_) break;
        showProgress(false);
        ui_.yield();
        if (ui_.stopRequested()) {
            stopped = true;
            break;
        }
        // A short read: the rest of the medium is not there.
        if (reader_->shortRead() && !ctx_.options.damaged) break;
    }
    return std::nullopt;
}

void Scanner::settleWrites(bool stopped) {
    ui_.status(LoadStr(337, "Flushing, wait..."));
    // A file whose end was reached is finished at a stop too: a resume goes
    // on with the units after the stop, which belong to no file yet.
    if (file_.open && (file_.complete || !stopped) && !outOfSpace_) {
        finishFile();
    } else if (file_.open) {
        ctx_.lastFileOpen = true;
        file_.open = false;
        closeAsWritten();
    }
    // Pictures found inside the file left open at a stop are looked for again
    // only if the scan starts anew: the resumed file must stay the last one.
    if (!ctx_.lastFileOpen && !outOfSpace_) emitEmbedded();
    writer_.wait();
    const long failed = writer_.failedFile();
    if (failed >= 0) {
        // The first file the cache disk could not hold whole, and those after
        // it, are made again when the scan resumes.
        outOfSpace_ = true;
        ctx_.lastFileOpen = false;
        if (failed <= counter_) {
            std::error_code ec;
            for (long i = failed; i <= counter_; ++i) fs::remove(ctx_.cacheFolder / ctx_.found[i].name, ec);
            unit_ = ctx_.found[failed].startUnit;
            counter_ = failed - 1;
            // List entries start with the file's number.
            auto undone = [failed](const std::string& e) { return std::strtol(e.c_str(), nullptr, 10) >= failed; };
            auto& entries = ctx_.List3;
            entries.erase(std::remove_if(entries.begin(), entries.end(), undone), entries.end());
        }
    }
    reader_->close();
    setLastCluster("0");
    const bool reachedEnd = unit_ >= endUnit_;
    ctx_.resumeUnit = (reachedEnd || ctx_.options.damaged) ? 0 : unit_;
    if (ctx_.resumeUnit == 0) ctx_.lastFileOpen = false;
    ctx_.found.resize(counter_ + 1);  // up to the last found file
}

ScanOutcome Scanner::report(bool stopped) {
    ctx_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double rate = ctx_.seconds > 0 ? ctx_.megabytesRead / ctx_.seconds : 0;
    ctx_.finishedText = FormatStr(LoadStr(1494, "Finished: %0 seconds. Average: %1 MB/sec"),
                                  {formatFixed(ctx_.seconds, 0), formatFixed(rate, 1)});
    ui_.status(ctx_.finishedText);
    if (outOfSpace_) {
        ui_.message(LoadStr(587, "Ran out of free disk space while scanning. Execution aborted.") + "\n" +
                        FormatStr(LoadStr(588, "Please resume scanning after freeing space on the target disk: %0"),
                                  {ctx_.cacheFolder.string()}),
                    LoadStr(589, "Out of disk space"), {shell::Buttons::OK, shell::Icon::Exclamation});
        return ScanOutcome::OutOfSpace;
    }
    if (ctx_.found.empty() && !stopped) {
        const std::string title = LoadStr(592, "Scan") + " " + ctx_.drive;
        if (static_cast<double>(ctx_.emptyUnits) > 0.9 * static_cast<double>(geo_.totalUnits))
            ui_.message(LoadStr(590, "Not any data retrievable.") + "\n" +
                            FormatStr(LoadStr(1410, "Disk %0 is wiped and entirely empty!"), {ctx_.drive}),
                        title, {shell::Buttons::OK, shell::Icon::Information});
        else
            ui_.message(LoadStr(593, "Data found but no recoverable files.") + "\n" +
                            LoadStr(594, "Adjust the file types and/or use DeepScan."),
                        title, {shell::Buttons::OK, shell::Icon::Information});
    }
    return stopped ? ScanOutcome::Stopped : ScanOutcome::Finished;
}

ScanOutcome Scanner::run() {
    setLastCluster("33");
    started_ = lastProgress_ = std::chrono::steady_clock::now();
    if (!PlanGeometry(ctx_.record, ctx_.drive, ctx_.imageFolder, ctx_.options.deepScan, ui_, geo_)) return unreadable();
    setUp();
    if (auto failed = openSource()) return *failed;
    bool stopped = false;
    if (auto failed = scanBlocks(stopped)) return *failed;
    // A stop asked for while the last block was read comes too late: the scan
    // is whole, and its last file is finished rather than left for a resume
    // that would never come.
    if (stopped && unit_ >= endUnit_) stopped = false;
    settleWrites(stopped);
    return report(stopped);
}

}  // namespace

ScanOutcome ScanDisk(ScanContext& ctx) {
    Scanner scanner(ctx);
    return scanner.run();
}

}  // namespace hx::scan
