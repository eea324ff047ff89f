#include "scan/ScanDisk.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <unordered_set>

#include "media/SectorIo.h"
#include "platform/FreeSpace.h"
#include "platform/RawFile.h"
#include "scan/FoundFileWriter.h"
#include "scan/TiffEnd.h"
#include "shell/Settings.h"
#include "shell/Strings.h"
#include "viewing/Exif.h"
#include "viewing/PictureCheck.h"

namespace hx::scan {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

namespace {

constexpr std::size_t kWindow = 1024;
// A found JPEG's first bytes (its headers) are kept to check the picture without reading it back.
constexpr std::size_t kHead = 256 * 1024;
constexpr double kMB = 1048576.0;
constexpr double kSpaceReserveMB = 2500;

const char* const kRawExtensions = ".CRW.CR2.DNG.NEF.RAW.RAF.X3F.ORF.SRF.MRW.DCR.BAY.PEF.TIFF.TIF.SR2.ARW.RW2";
const char* const kPictureExtensions =
    ".jpeg.jpg.jpe.thm.ico.wmf.bmp.cur.png.gif.tiff.tif.kdc.jfif.mef.nef.dng.thc.rpc";
const char* const kAllRawExtensions =
    ".CRW.CR2.DNG.NEF.RAW.RAF.X3F.ORF.SRF.MRW.DCR.BAY.PEF.TIFF.TIF.SR2.ARW.RW2.FOVb.MEW.RAW.RDC.KDC.DCR.RDC.3FR.MEF";

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool containsNoCase(const std::string& list, const std::string& item) {
    return !item.empty() && lower(list).find(lower(item)) != std::string::npos;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string extensionOf(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : lower(name.substr(dot));
}

bool contains(const std::uint8_t* data, std::size_t size, std::string_view what) {
    return std::string_view(reinterpret_cast<const char*>(data), size).find(what) != std::string_view::npos;
}

std::size_t findIn(const std::uint8_t* data, std::size_t size, std::string_view what, std::size_t from = 0) {
    return std::string_view(reinterpret_cast<const char*>(data), size).find(what, from);
}

std::string formatFixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

// Candidate rows per first byte: a unit is only compared with rows that can
// start with its first byte, in table order, so the first match is the same
// as trying every row from the top.
struct Matcher {
    const SignatureTable* table = nullptr;
    std::array<std::vector<std::uint32_t>, 256> candidates;
    std::array<bool, 256> any{};

    void build(const SignatureTable& t) {
        table = &t;
        for (auto& c : candidates) c.clear();
        any.fill(false);
        for (std::size_t i = 0; i < t.size(); ++i) {
            if (t[i].Signature1.empty() || t[i].Signature1.size() > kWindow) continue;
            const auto b = static_cast<unsigned char>(t[i].Signature1[0]);
            candidates[b].push_back(static_cast<std::uint32_t>(i));
            any[b] = true;
        }
    }

    // The matching row for the unit whose 1024-byte window starts at `w`, or -1.
    int match(const std::uint8_t* w) const {
        if (!any[w[0]]) return -1;
        for (std::uint32_t idx : candidates[w[0]]) {
            const SignatureRow& row = (*table)[idx];
            const std::string& s1 = row.Signature1;
            if (std::memcmp(w, s1.data(), s1.size()) != 0) continue;
            if (row.Signature2.empty()) return static_cast<int>(idx);
            const std::size_t from = s1.size() / 2 >= 1 ? s1.size() / 2 - 1 : 0;
            if (findIn(w, kWindow, row.Signature2, from) != std::string_view::npos) return static_cast<int>(idx);
        }
        return -1;
    }
};

struct Geometry {
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerCluster = 1;  // after the DeepScan adjustment
    std::uint32_t clusterRatio = 1;       // medium's sectors per cluster / units per cluster
    std::uint64_t firstDataSector = 0;
    std::uint64_t totalUnits = 0;
    std::uint64_t rootCluster = 0;
};

class Scanner {
public:
    explicit Scanner(ScanContext& c) : ctx_(c), ui_(c.ui) {}
    ScanOutcome run();

private:
    bool prepareGeometry();
    void sizeBlocks();
    bool openSource(std::uint64_t startUnit);
    std::size_t readBlock(std::size_t units);
    void examineBlock(std::size_t units);
    void startFile(const SignatureRow& row, const std::uint8_t* window);
    void appendUnit(const std::uint8_t* unit, const std::uint8_t* window);
    void writeBytes(const std::uint8_t* data, std::size_t size);
    void flushPending();
    void finishFile();
    void closeAsWritten();
    void reopenLastFile();
    void nextListedFile();
    static std::uint64_t tiffEnd(const std::filesystem::path& path);
    void sortListing();
    bool findFreeRun(std::uint64_t from);
    void showProgress(bool force);
    std::string entryText(long counter, const std::string& description) const;
    void buildSecondTable();
    void setLastCluster(const char* value) {
        ctx_.LastCluster = value;
        if (ctx_.settings) shell::SaveSetting(*ctx_.settings, shell::kLastCluster, value);
    }

    ScanContext& ctx_;
    shell::Ui& ui_;
    Geometry geo_;
    std::uint64_t unitSize_ = 512;
    std::size_t unitsPerBlock_ = 1;
    std::uint64_t endUnit_ = 0;  // one past the last unit
    std::uint64_t unit_ = 0;     // number of the unit being examined
    std::uint64_t startUnit_ = 0;
    media::Handle handle_;
    std::vector<std::uint8_t> buffer_;     // the block, with kWindow zeros after it
    std::vector<std::uint8_t> previousSector_;
    bool fixedDisk_ = false;
    bool image_ = false;

    Matcher matcher_;
    SignatureTable secondTable_;
    Matcher secondMatcher_;

    // Found files.
    long counter_ = -1;
    double budgetMB_ = 0;
    double recoveredMB_ = 0;
    bool outOfSpace_ = false;
    std::unordered_set<std::string> madeNames_;  // names given in this scan (the writer may still be at work)

    // The open file; the writer makes it, on its own thread or on this one.
    FoundFileWriter writer_;
    bool fileOpen_ = false;
    std::vector<std::uint8_t> head_;     // a JPEG's first bytes: its headers, at most kHead
    bool headDone_ = false;
    std::uint64_t blockOffset_ = 0;      // byte offset of the block in the source
    // Consecutive units of the block are written with one call.
    const std::uint8_t* pending_ = nullptr;
    std::size_t pendingSize_ = 0;
    bool open_ = false;
    bool complete_ = false;
    bool crwNamed_ = false;
    double writtenMB_ = 0;
    std::uint64_t writtenBytes_ = 0;
    double capMB_ = 0;
    std::string ext_;
    std::string name_;
    std::string description_;
    std::string pendingName_;
    viewing::ExifValues exif_;
    bool haveExif_ = false;
    std::array<std::uint8_t, 512> repeatPiece_{};
    bool jpeg_ = false;  // starts with a JPEG start marker: its end is followed as it is written
    viewing::JpegEndFinder jpegEnd_;
    double repeatMB_ = 0;

    // Directory listing.
    std::size_t listCursor_ = 0;
    std::uint64_t nextListedUnit_ = UINT64_MAX;
    std::string nextListedName_;
    std::uint64_t nextListedSize_ = 0;

    // SmartScan run of free units [runStart_, runEnd_).
    std::uint64_t runEnd_ = 0;

    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastProgress_;
};

bool Scanner::prepareGeometry() {
    const media::DriveRecord& r = ctx_.record;
    image_ = r.IsImage;
    fixedDisk_ = r.DriveType == "Fixed";
    geo_.bytesPerSector = r.BytesPerSector > 0 ? static_cast<std::uint32_t>(r.BytesPerSector) : 0;
    geo_.sectorsPerCluster = r.SectorsPerCluster;
    geo_.firstDataSector = r.FirstDataSector;
    geo_.rootCluster = r.RootCluster;
    geo_.totalUnits = r.TotalClusters;
    bool deep = ctx_.options.deepScan;

    std::uint64_t sourceBytes = 0;
    {
        platform::RawFile probe;
        if (probe.open(ctx_.drive, platform::RawFile::Mode::Read)) sourceBytes = probe.size();
    }
    const bool noGeometry = geo_.bytesPerSector == 0 || geo_.sectorsPerCluster == 0 || geo_.totalUnits == 0;
    if (image_ && noGeometry) {
        // An image scanned on its own: its companion file knows the medium.
        media::DriveRecord fromFile;
        const fs::path img(ctx_.drive);
        std::vector<fs::path> candidates;
        for (const fs::path& dir : {ctx_.imageFolder, img.parent_path()}) {
            if (dir.empty()) continue;
            candidates.push_back(dir / (img.stem().string() + ".dat"));
            candidates.push_back(dir / (img.filename().string() + ".dat"));
        }
        bool found = false;
        for (const auto& c : candidates) {
            std::error_code ec;
            if (!fs::exists(c, ec)) continue;
            if (ReadCompanionGeometry(c, sourceBytes, fromFile)) {
                geo_.bytesPerSector = static_cast<std::uint32_t>(fromFile.BytesPerSector);
                geo_.sectorsPerCluster = fromFile.SectorsPerCluster;
                geo_.totalUnits = fromFile.TotalClusters;
                geo_.firstDataSector = fromFile.FirstDataSector;
                geo_.rootCluster = 0;
                while (geo_.sectorsPerCluster >= 9) {
                    geo_.sectorsPerCluster /= 2;
                    geo_.totalUnits *= 2;
                    geo_.clusterRatio *= 2;
                }
                found = true;
            } else {
                ui_.status(LoadStr(0, "The companion file of the image holds no usable geometry; every sector is scanned."));
            }
            break;
        }
        if (!found) deep = true;
    }
    if (geo_.bytesPerSector != 0 && geo_.bytesPerSector != 512 && geo_.bytesPerSector != 1024 &&
        geo_.bytesPerSector != 2048 && geo_.bytesPerSector != 4096)
        geo_.bytesPerSector = 0;
    if (deep && (geo_.bytesPerSector == 0 || geo_.sectorsPerCluster == 0 || geo_.totalUnits == 0)) {
        geo_.bytesPerSector = 512;
        geo_.sectorsPerCluster = 1;
        geo_.firstDataSector = 0;
        geo_.rootCluster = 0;
        geo_.totalUnits = sourceBytes / 512 + (image_ ? 1 : 0);
    }
    if (geo_.bytesPerSector == 0 || geo_.sectorsPerCluster == 0 || geo_.totalUnits == 0) {
        // No geometry and no DeepScan: scan the whole source sector by sector.
        geo_.bytesPerSector = 512;
        geo_.sectorsPerCluster = 1;
        geo_.firstDataSector = 0;
        geo_.rootCluster = 0;
        geo_.totalUnits = sourceBytes / 512;
    }
    if (deep) {
        geo_.totalUnits *= geo_.sectorsPerCluster;
        geo_.clusterRatio *= geo_.sectorsPerCluster;
        geo_.sectorsPerCluster = 1;
    }
    if (geo_.sectorsPerCluster < 2) geo_.sectorsPerCluster = 1;
    // Never beyond the source: a geometry larger than the medium ends with it.
    if (sourceBytes > 0) {
        const std::uint64_t spu = geo_.sectorsPerCluster;
        const std::uint64_t bytesBefore = geo_.firstDataSector * geo_.bytesPerSector;
        if (bytesBefore >= sourceBytes) return false;
        const std::uint64_t fit = (sourceBytes - bytesBefore + spu * geo_.bytesPerSector - 1) /
                                  (spu * geo_.bytesPerSector);
        geo_.totalUnits = std::min(geo_.totalUnits, fit);
    }
    unitSize_ = std::max<std::uint64_t>(512, static_cast<std::uint64_t>(geo_.sectorsPerCluster) * geo_.bytesPerSector);
    return geo_.totalUnits > 0;
}

void Scanner::sizeBlocks() {
    double k = platform::AvailableMemoryMB() / 10;
    // Blocks of a few megabytes stay in the CPU cache between the read and the
    // look at the same bytes: 1.4 times faster on a photo card than 66 MB blocks.
    if (k > 2) k = 2;
    if (k > 64) k = 64;
    if (k < 0) k = 0;
    std::uint64_t units = static_cast<std::uint64_t>((static_cast<std::uint64_t>(k) + 2) * 1048576ull / unitSize_);
    if (geo_.totalUnits / 20 < units) units = geo_.totalUnits / 20;
    if ((ctx_.record.DriveType != "CDRom" && geo_.sectorsPerCluster == 1) || ctx_.options.unattended) units /= 4;
    if (units < 1) units = 1;
    while (units * unitSize_ < kWindow) ++units;
    unitsPerBlock_ = static_cast<std::size_t>(units);
}

bool Scanner::openSource(std::uint64_t startUnit) {
    const std::int64_t lba = static_cast<std::int64_t>(
        geo_.firstDataSector + (startUnit - geo_.rootCluster) * geo_.sectorsPerCluster);
    if (ctx_.options.damaged) return true;
    return media::OpenDriveForRead(ctx_.drive, lba, handle_, static_cast<int>(geo_.bytesPerSector));
}

std::size_t Scanner::readBlock(std::size_t units) {
    const std::size_t want = units * unitSize_;
    std::size_t got = 0;
    if (ctx_.options.damaged) {
        // Per-call reads: every block opens, reads and closes the medium.
        const std::int64_t lba = static_cast<std::int64_t>(
            geo_.firstDataSector + (unit_ - geo_.rootCluster) * geo_.sectorsPerCluster);
        std::uint32_t n = 0;
        auto data = media::ReadSectors(ctx_.drive, lba, 0, static_cast<std::uint32_t>(want), n,
                                       static_cast<int>(geo_.bytesPerSector));
        if (n == 0) return 0;
        blockOffset_ = static_cast<std::uint64_t>(lba) * geo_.bytesPerSector;
        got = std::min<std::size_t>(n, want);
        std::memcpy(buffer_.data(), data.data(), got);
    } else {
        blockOffset_ = handle_.position();
        got = handle_.read(buffer_.data(), want);
    }
    got -= got % unitSize_;
    std::memset(buffer_.data() + got, 0, buffer_.size() - got);  // the window beyond the block reads as zeros
    return got / unitSize_;
}

void Scanner::sortListing() {
    auto& l = ctx_.listed;
    if (ctx_.record.FileSystem == "NTFS")
        std::stable_sort(l.begin(), l.end(), [](const ListedName& a, const ListedName& b) { return a.name < b.name; });
    else
        std::stable_sort(l.begin(), l.end(),
                         [](const ListedName& a, const ListedName& b) { return a.firstCluster < b.firstCluster; });
}

void Scanner::nextListedFile() {
    nextListedUnit_ = UINT64_MAX;
    const std::string exts = TableExtensions(ctx_.table);
    auto& l = ctx_.listed;
    while (listCursor_ < l.size()) {
        const ListedName& e = l[listCursor_++];
        if (e.firstCluster < unit_ || e.firstCluster > endUnit_ + 1024 || e.size == 0) continue;
        if (e.name.find('.') == std::string::npos) continue;
        const std::string ext = extensionOf(e.name);
        if (ext.size() < 2 || exts.find(ext) == std::string::npos) continue;
        std::string name = trim(e.name);
        if (name.size() > 12) name = name.substr(name.size() - 12);
        // A deleted entry's name starts with "?"; no listed character may leave the cache folder.
        for (char& c : name)
            if (std::string_view("?*:\"<>|/\\").find(c) != std::string_view::npos || static_cast<unsigned char>(c) < 0x20)
                c = '_';
        std::error_code ec;
        if (name.size() < 5 || fs::exists(ctx_.cacheFolder / name, ec)) name.clear();
        nextListedUnit_ = e.firstCluster;
        nextListedName_ = name;
        nextListedSize_ = e.size;
        return;
    }
}

void Scanner::buildSecondTable() {
    secondTable_.clear();
    if (!fixedDisk_ || ctx_.options.deepScan || ctx_.listed.empty()) return;
    const std::string selected = TableExtensions(ctx_.table);
    std::string listedExts;
    for (const auto& e : ctx_.listed) listedExts += extensionOf(e.name) + "|";
    for (auto& row : BuildSignatureTable("all")) {
        const std::string ext = lower(row.Extension);
        if (selected.find(ext) != std::string::npos) continue;
        if (listedExts.find(ext + "|") == std::string::npos) continue;
        secondTable_.push_back(row);
    }
    OrderForScan(secondTable_);
    secondMatcher_.build(secondTable_);
}

bool Scanner::findFreeRun(std::uint64_t from) {
    // Units are mapped to the medium's clusters; a run ends at the first used cluster.
    auto used = [this](std::uint64_t u) {
        const std::uint64_t cluster = geo_.rootCluster + (u - geo_.rootCluster) / geo_.clusterRatio;
        return ctx_.clusterInUse(cluster);
    };
    std::uint64_t u = from;
    while (u < endUnit_ && used(u)) ++u;
    if (u >= endUnit_) return false;
    std::uint64_t e = u;
    while (e < endUnit_ && !used(e)) ++e;
    if (u != unit_) {
        unit_ = u;
        handle_.seek((geo_.firstDataSector + (u - geo_.rootCluster) * geo_.sectorsPerCluster) * geo_.bytesPerSector);
    }
    runEnd_ = e;
    return true;
}

std::string FormatEntry(long counter, const std::string& description) {
    char num[32];
    std::snprintf(num, sizeof num, "%03ld ", counter);
    std::string desc = trim(description);
    std::string text = trim(num + desc);
    while (text.size() > 16) {
        const auto sp = desc.rfind(' ');
        if (sp == std::string::npos || sp == 0) {
            text = text.substr(0, 16);
            break;
        }
        desc = trim(desc.substr(0, sp));
        text = trim(num + desc);
    }
    return text;
}

std::string Scanner::entryText(long counter, const std::string& description) const {
    if (counter >= 32760) return {};
    return FormatEntry(counter, description);
}

void Scanner::startFile(const SignatureRow& row, const std::uint8_t* window) {
    open_ = true;
    complete_ = false;
    crwNamed_ = false;
    ++counter_;
    capMB_ = ctx_.options.maxMB;
    writtenMB_ = 0;
    writtenBytes_ = 0;
    repeatMB_ = 0;
    repeatPiece_.fill(0);
    pendingName_.clear();
    ext_ = lower(row.Extension);
    description_ = trim(row.DisplayName);
    jpeg_ = window[0] == 0xFF && window[1] == 0xD8;
    jpegEnd_ = viewing::JpegEndFinder();

    std::string name = FoundFileName(counter_, row.Extension);
    std::uint64_t listedSize = 0;
    // Units skipped by SmartScan or a resume were never looked at; listed files there are past.
    if (nextListedUnit_ < unit_) nextListedFile();
    if (unit_ == nextListedUnit_) {
        const std::string listedExt = extensionOf(nextListedName_.empty() ? std::string() : nextListedName_);
        const bool bothJpeg = std::string(".jpg.jpe.thm").find(ext_) != std::string::npos &&
                              !listedExt.empty() && std::string(".jpg.jpe.thm").find(listedExt) != std::string::npos;
        if (!nextListedName_.empty() && (containsNoCase(row.Extension, listedExt) || bothJpeg)) {
            if (containsNoCase(nextListedName_ + ".thm.jpe.jpg", row.Extension) && !madeNames_.count(nextListedName_))
                name = nextListedName_;
            listedSize = nextListedSize_;
        }
        nextListedFile();
    }
    name_ = name;

    // Pictures: the camera and the size of the picture from the EXIF header.
    haveExif_ = false;
    exif_ = {};
    const std::uint8_t* firstSector = window;
    const std::size_t sectorBytes = std::min<std::size_t>(geo_.bytesPerSector, kWindow);
    if (containsNoCase(kRawExtensions, ext_) || containsNoCase(kPictureExtensions, ext_)) {
        if (contains(window, kWindow, "Exif") || contains(firstSector, sectorBytes, "TTW") ||
            contains(window, 16, "II") || contains(window, 16, "MM")) {
            viewing::ReadExif("BUF", window, kWindow, exif_);
            haveExif_ = true;
            auto pos = exif_.model.find("DIGITAL");
            if (pos != std::string::npos) exif_.model = trim(exif_.model.erase(pos, 7));
            if (!containsNoCase(kAllRawExtensions, ext_) && exif_.height >= 1001) {
                const double exifCap = static_cast<double>(exif_.width) * exif_.height * 6 / kMB;
                capMB_ = capMB_ > 0 ? std::min(capMB_, exifCap) : exifCap;
            }
        }
        if (!exif_.model.empty()) {
            description_ = exif_.model;
            if (ext_ == ".mrw") description_ = "KM" + exif_.model.substr(0, 10) + " Raw";
        }
    }

    writer_.create(counter_, ctx_.cacheFolder / name_);
    fileOpen_ = true;
    madeNames_.insert(name_);
    head_.clear();
    headDone_ = false;
    if (ctx_.FoundNames.size() <= static_cast<std::size_t>(counter_)) {
        ctx_.FoundNames.resize(counter_ + 1);
        ctx_.FoundSizes.resize(counter_ + 1);
        ctx_.found.resize(counter_ + 1);
    }
    ctx_.FoundNames[counter_] = name_;
    ctx_.FoundSizes[counter_] = listedSize;
    ctx_.found[counter_] = FoundFile{name_, ext_, description_, unit_, 0};
}

void Scanner::writeBytes(const std::uint8_t* data, std::size_t size) {
    if (!fileOpen_ || size == 0) return;
    if (jpeg_ && !headDone_ && head_.size() < kHead)
        head_.insert(head_.end(), data, data + std::min(size, kHead - head_.size()));
    if (pending_ && pending_ + pendingSize_ == data) {
        pendingSize_ += size;
    } else {
        flushPending();
        pending_ = data;
        pendingSize_ = size;
    }
    writtenBytes_ += size;
}

void Scanner::flushPending() {
    if (fileOpen_ && pending_ && pendingSize_ > 0) {
        if (writer_.hasSource())
            writer_.appendFromSource(blockOffset_ + static_cast<std::uint64_t>(pending_ - buffer_.data()), pendingSize_);
        else
            writer_.appendCopy(pending_, pendingSize_);
    }
    pending_ = nullptr;
    pendingSize_ = 0;
}

void Scanner::appendUnit(const std::uint8_t* unit, const std::uint8_t* window) {
    const std::size_t size = static_cast<std::size_t>(unitSize_);
    std::size_t writeSize = size;
    // A file the listing names ends at its listed size, whatever its insides
    // say: a camera's trailer after a JPEG's end marker belongs to the photo.
    if (const std::uint64_t listed = ctx_.FoundSizes[counter_]; listed > 0) {
        const std::uint64_t left = listed > writtenBytes_ ? listed - writtenBytes_ : 0;
        writeSize = static_cast<std::size_t>(std::min<std::uint64_t>(size, left));
        if (writtenBytes_ + writeSize >= listed) complete_ = true;
        writeBytes(unit, writeSize);
        writtenMB_ += unitSize_ / kMB;
        return;
    }
    if (ext_ == ".crw") {
        const std::size_t mark = findIn(unit, size, ".CRW");
        if (mark != std::string_view::npos && mark >= 8) {
            std::string name;
            for (std::size_t i = mark - 8; i < mark + 4 && i < size; ++i)
                if (unit[i] != 0) name.push_back(static_cast<char>(unit[i]));
            name = trim(name);
            if (!name.empty() && name != name_) pendingName_ = name;
            crwNamed_ = true;
            const bool ccd = contains(unit, size, "CCD");
            const std::size_t at = mark + 4 + (ccd ? 64 : 32);
            if (at < size) {
                std::string model;
                for (std::size_t i = at; i < size && i < at + 32 && unit[i] >= 0x20 && unit[i] < 0x7F; ++i)
                    model.push_back(static_cast<char>(unit[i]));
                model = trim(model);
                if (!model.empty()) {
                    auto raw = description_.find(" Raw");
                    if (raw != std::string::npos) description_.replace(raw, 4, " " + model);
                }
            }
        }
        if (crwNamed_) {
            // The last sector holding 00 0A 30 with a zero 14 bytes on ends the file there.
            const std::size_t sector = geo_.bytesPerSector;
            for (std::size_t s = size; s >= sector && s > 0; s -= sector) {
                const std::size_t from = s - sector;
                const std::size_t hit = findIn(unit + from, sector, std::string_view("\0\n0", 3));
                if (hit == std::string_view::npos) continue;
                const std::size_t zero = from + hit + 14;
                if (zero < size && unit[zero] == 0) {
                    writeSize = zero + 1;
                    complete_ = true;
                }
                break;
            }
        }
    } else if (ext_ == ".doc") {
        if (contains(unit, size, "MSWordDoc")) complete_ = true;
    } else if (ext_ == ".x3f") {
        const std::size_t mark = findIn(unit, size, "SECd");
        if (mark != std::string_view::npos) {
            std::uint32_t count = 0;
            if (mark + 12 <= size)
                count = unit[mark + 8] | unit[mark + 9] << 8 | unit[mark + 10] << 16 |
                        static_cast<std::uint32_t>(unit[mark + 11]) << 24;
            const std::uint64_t last = mark + 12ull * count + 15;
            writeSize = static_cast<std::size_t>(std::min<std::uint64_t>(last + 1, size));
            complete_ = true;
        }
    }
    if (jpeg_ && !jpegEnd_.failed()) {
        const std::size_t n = jpegEnd_.feed(unit, writeSize);
        if (jpegEnd_.done()) {
            writeSize = n;
            complete_ = true;
        }
    }
    writeBytes(unit, writeSize);
    if (jpeg_ && jpegEnd_.scanStarted()) headDone_ = true;  // enough to check the picture
    writtenMB_ += unitSize_ / kMB;
    if (capMB_ > 0 && writtenMB_ >= capMB_) complete_ = true;
    if (fixedDisk_ && capMB_ == 0 && writtenMB_ < 20 && !complete_) {
        // Runs of one repeated piece (blank or filler sectors) do not belong to a file.
        const bool repeats = std::memcmp(window, window + 512, 512) == 0 &&
                             std::memcmp(window, repeatPiece_.data(), 512) == 0;
        if (repeats) {
            repeatMB_ += unitSize_ / kMB;
            if (repeatMB_ >= 10) complete_ = true;
        } else {
            repeatMB_ = 0;
            std::memcpy(repeatPiece_.data(), window, 512);
        }
    }
}

void Scanner::closeAsWritten() {
    flushPending();
    if (!fileOpen_) return;
    writer_.close();
    fileOpen_ = false;
    if (counter_ >= 0) ctx_.found[counter_].size = writtenBytes_;
}

std::uint64_t Scanner::tiffEnd(const fs::path& path) {
    platform::RawFile file;
    if (!file.open(path, platform::RawFile::Mode::Read)) return 0;
    return TiffFileEnd([&file](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
        return file.readAt(offset, out, length) == length;
    });
}

void Scanner::finishFile() {
    if (!open_) return;
    open_ = false;
    closeAsWritten();
    const fs::path path = ctx_.cacheFolder / name_;
    auto drop = [&]() {
        writer_.remove(path);
        ctx_.FoundNames.resize(counter_);
        ctx_.FoundSizes.resize(counter_);
        ctx_.found.resize(counter_);
        --counter_;
    };
    if (writtenMB_ < ctx_.options.minMB) {
        drop();
        return;
    }
    std::uint64_t size = writtenBytes_;
    const bool listedName = name_.rfind("R#", 0) != 0;
    // A JPEG is decoded as the renderer would: no picture at all is junk, and
    // the picture's own end is the file's end. When its markers already led
    // to the end marker, the file was written up to there and the first rows
    // tell a picture from junk; otherwise a full decode finds the end.
    if (jpeg_) {
        const bool endKnown = jpegEnd_.done();
        viewing::JpegCheck check;
        if (endKnown) check = viewing::CheckJpegBuffer(head_.data(), head_.size(), true);
        if (!endKnown || (check.ranOut && head_.size() < size)) {
            writer_.wait();
            check = viewing::CheckJpegFile(path.string(), endKnown);
        }
        if (!check.decodes) {
            drop();
            return;
        }
        std::uint64_t end = endKnown ? jpegEnd_.length() : (check.complete ? check.end : 0);
        if (end > 0 && !listedName) {
            if (static_cast<double>(end) <= ctx_.options.minMB * kMB) {
                drop();
                return;
            }
            if (end < size) {
                writer_.truncate(path, end);
                size = end;
            }
        }
    }
    // The listing's size is the file's own: it is cut to exactly that below.
    const std::uint64_t listedSize = ctx_.FoundSizes[counter_];
    if (!jpeg_ && listedSize == 0 && containsNoCase(kRawExtensions, ext_)) {
        // TIFF-based raws end where their directories say; past that lie the cluster's slack and junk.
        writer_.wait();
        const std::uint64_t end = tiffEnd(path);
        if (end > 0 && end < size) {
            writer_.truncate(path, end);
            size = end;
        }
    }
    if (listedSize > 0 && listedSize < size) {
        writer_.truncate(path, listedSize);
        size = listedSize;
    }
    if (!pendingName_.empty()) {
        // The camera's own name, made unique in the cache folder.
        writer_.wait();
        std::string candidate = pendingName_;
        std::error_code ec;
        for (int guard = 0; guard < 100000 && fs::exists(ctx_.cacheFolder / candidate, ec); ++guard) {
            const auto dash = candidate.find('-');
            long n = dash == std::string::npos ? 0 : std::strtol(candidate.substr(0, dash).c_str(), nullptr, 10);
            if (n != 0) candidate = std::to_string(n + 1) + candidate.substr(dash);
            else candidate = "1-" + candidate;
        }
        fs::rename(path, ctx_.cacheFolder / candidate, ec);
        if (!ec) {
            name_ = candidate;
            madeNames_.insert(candidate);
            ctx_.FoundNames[counter_] = candidate;
        }
    }
    ctx_.found[counter_].name = name_;
    ctx_.found[counter_].size = size;
    ctx_.found[counter_].description = description_;
    const std::string entry = entryText(counter_, description_);
    if (!entry.empty()) ctx_.List3.push_back(entry);

    // The cache disk must keep its reserve.
    const double fileMB = static_cast<double>(size) / kMB;
    if (recoveredMB_ + fileMB <= budgetMB_) {
        if ((counter_ + 1) % 1000 == 0)
            budgetMB_ = std::min(budgetMB_, platform::FreeMegabytes(ctx_.cacheFolder.string()) - kSpaceReserveMB);
    } else if (platform::FreeMegabytes(ctx_.cacheFolder.string()) < kSpaceReserveMB) {
        outOfSpace_ = true;
    }
    std::int64_t when = 0;
    if (haveExif_ && viewing::ExifDateToTime(exif_.rawDate, when)) writer_.setTime(ctx_.cacheFolder / name_, when);
    recoveredMB_ += fileMB;
}

void Scanner::reopenLastFile() {
    // A resumed scan continues the file that was still open at the stop.
    if (ctx_.FoundNames.empty() || ctx_.found.size() != ctx_.FoundNames.size()) return;
    counter_ = static_cast<long>(ctx_.FoundNames.size()) - 1;
    name_ = ctx_.FoundNames[counter_];
    const fs::path path = ctx_.cacheFolder / name_;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return;
    writer_.reopen(counter_, path);
    fileOpen_ = true;
    head_.clear();
    headDone_ = true;  // checked from the file: the marker walk cannot pick up mid-file
    open_ = true;
    complete_ = false;
    ext_ = ctx_.found[counter_].extension;
    description_ = ctx_.found[counter_].description;
    writtenBytes_ = size;
    writtenMB_ = static_cast<double>(size) / kMB;
    capMB_ = ctx_.options.maxMB;
    std::vector<std::uint8_t> head(kWindow, 0);
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        head.resize(std::fread(head.data(), 1, kWindow, f));
        head.resize(kWindow, 0);
        std::fclose(f);
    }
    haveExif_ = viewing::ReadExif("BUF", head.data(), head.size(), exif_) || !exif_.rawDate.empty();
    // The marker walk cannot pick up mid-file: the full decode finds the end.
    jpeg_ = head[0] == 0xFF && head[1] == 0xD8;
    jpegEnd_ = viewing::JpegEndFinder();
    const std::uint8_t notJpeg = 0;
    jpegEnd_.feed(&notJpeg, 1);
    if (!containsNoCase(kAllRawExtensions, ext_) && exif_.height >= 1001) {
        const double exifCap = static_cast<double>(exif_.width) * exif_.height * 6 / kMB;
        capMB_ = capMB_ > 0 ? std::min(capMB_, exifCap) : exifCap;
    }
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
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint8_t* p = buffer_.data() + i * unitSize_;
        if (counter_ < 0 && ctx_.found.empty()) {
            if (std::memcmp(p, previousSector_.data(), sectorBytes) == 0) ++ctx_.emptyUnits;
            std::memcpy(previousSector_.data(), p, sectorBytes);
        }
        int row = matcher_.match(p);
        // A thumbnail inside the open picture's EXIF block is not a new file.
        if (row >= 0 && open_ && !complete_ && jpeg_ && jpegEnd_.insideSegment()) row = -1;
        if (row >= 0) {
            finishFile();
            if (outOfSpace_) break;
            startFile(ctx_.table[row], p);
            if (open_) appendUnit(p, p);
        } else {
            if (unit_ >= nextListedUnit_) nextListedFile();
            if (open_ && !complete_) {
                if (!secondTable_.empty() && secondMatcher_.match(p) >= 0) complete_ = true;
                else appendUnit(p, p);
            }
        }
        ++unit_;
    }
    flushPending();  // the block buffer is about to be reused
    if (writer_.failedFile() >= 0) outOfSpace_ = true;
}

ScanOutcome Scanner::run() {
    setLastCluster("33");
    started_ = lastProgress_ = std::chrono::steady_clock::now();
    const std::string driveName = ctx_.drive;
    if (!prepareGeometry()) {
        ui_.message(LoadStr(562, "Cannot read the disk."), LoadStr(38, "Scan"), {shell::Buttons::OK, shell::Icon::Exclamation});
        setLastCluster("0");
        return ScanOutcome::Unreadable;
    }
    sizeBlocks();
    ctx_.unitSize = unitSize_;
    ctx_.unitsPerBlock = unitsPerBlock_;
    ctx_.totalUnits = geo_.totalUnits;
    endUnit_ = geo_.rootCluster + geo_.totalUnits;
    matcher_.build(ctx_.table);
    budgetMB_ = platform::FreeMegabytes(ctx_.cacheFolder.string()) - kSpaceReserveMB;
    buildSecondTable();

    const bool resuming = ctx_.resumeUnit > geo_.rootCluster && ctx_.resumeUnit < endUnit_ && ctx_.resumeDrive == ctx_.drive;
    startUnit_ = resuming ? ctx_.resumeUnit : geo_.rootCluster;
    unit_ = startUnit_;
    if (!resuming) {
        ctx_.FoundNames.clear();
        ctx_.FoundSizes.clear();
        ctx_.found.clear();
        ctx_.List3.clear();
        ctx_.emptyUnits = 0;
        ctx_.FoundNames.reserve(100);
    } else {
        counter_ = static_cast<long>(ctx_.FoundNames.size()) - 1;
        ctx_.found.resize(ctx_.FoundNames.size());
        ctx_.FoundSizes.resize(ctx_.FoundNames.size());
        if (ctx_.lastFileOpen) reopenLastFile();
    }
    ctx_.lastFileOpen = false;
    ctx_.resumeDrive = ctx_.drive;

    sortListing();
    nextListedFile();

    buffer_.assign(unitsPerBlock_ * unitSize_ + kWindow, 0);
    // Found files wait to be written for at most a few blocks: memory stays bounded by the block size.
    writer_.setPendingLimit(4 * unitsPerBlock_ * unitSize_);
    previousSector_.assign(512, 0);

    if (!openSource(startUnit_)) {
        closeAsWritten();
        if (platform::isPermissionError(handle_.lastError()))
            ui_.message(LoadStr(560, "Disk is either protected by Windows or damaged and unreadable."),
                        LoadStr(561, "Scan disk ") + driveName, {shell::Buttons::OK, shell::Icon::Exclamation});
        else
            ui_.message(LoadStr(562, "Cannot read the disk."), LoadStr(38, "Scan"),
                        {shell::Buttons::OK, shell::Icon::Exclamation});
        setLastCluster("0");
        return ScanOutcome::Unreadable;
    }
    if (!ctx_.options.damaged) {
        handle_.adviseSequential();
        // Found files are copied from the image inside the kernel; a device is
        // not read twice: its bytes are handed over from the block.
        writer_.openSource(ctx_.drive);
    }

    bool stopped = false;
    std::uint64_t blocksRead = 0;
    if (ctx_.options.smartScan && ctx_.clusterInUse) {
        if (!findFreeRun(unit_)) unit_ = endUnit_;
    } else {
        runEnd_ = endUnit_;
    }
    while (unit_ < endUnit_) {
        std::size_t want = unitsPerBlock_;
        if (ctx_.options.smartScan && ctx_.clusterInUse) {
            if (unit_ >= runEnd_ && !findFreeRun(unit_)) break;
            want = static_cast<std::size_t>(std::min<std::uint64_t>(want, runEnd_ - unit_));
        }
        if (endUnit_ - unit_ < want) {
            want = static_cast<std::size_t>(endUnit_ - unit_);
            setLastCluster("0");
        }
        std::size_t got = readBlock(want);
        if (got == 0 && blocksRead == 0 && !ctx_.options.damaged && want > 1) {
            // A device that refuses large reads may take smaller ones.
            want = std::max<std::size_t>(1, want / 2);
            handle_.close();
            openSource(unit_);
            got = readBlock(want);
        }
        if (got == 0 && blocksRead == 0) {
            std::uint32_t n = 0;
            const std::int64_t lba = static_cast<std::int64_t>(
                geo_.firstDataSector + (unit_ - geo_.rootCluster) * geo_.sectorsPerCluster);
            media::ReadSectors(ctx_.drive, lba, 0, static_cast<std::uint32_t>(unitSize_), n,
                               static_cast<int>(geo_.bytesPerSector));
            if (n == 0) {
                closeAsWritten();
                handle_.close();
                ui_.message(LoadStr(562, "Cannot read the disk."), LoadStr(38, "Scan"),
                            {shell::Buttons::OK, shell::Icon::Exclamation});
                setLastCluster("0");
                return ScanOutcome::Unreadable;
            }
        }
        if (got == 0) break;
        ++blocksRead;
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
        if (got < want && !ctx_.options.damaged) {
            // A short read: the rest of the medium is not there.
            break;
        }
    }

    // A stop asked for while the last block was read comes too late: the scan
    // is whole, and its last file is finished rather than left for a resume
    // that would never come.
    if (stopped && unit_ >= endUnit_) stopped = false;
    ui_.status(LoadStr(337, "Flushing, wait..."));
    // A file whose end was reached is finished at a stop too: a resume goes
    // on with the units after the stop, which belong to no file yet.
    if (open_ && (complete_ || !stopped) && !outOfSpace_) {
        finishFile();
    } else if (open_) {
        ctx_.lastFileOpen = true;
        open_ = false;
        closeAsWritten();
    }
    writer_.wait();
    const long failed = writer_.failedFile();
    if (failed >= 0) {
        // The first file the cache disk could not hold whole, and those after
        // it, are made again when the scan resumes.
        outOfSpace_ = true;
        ctx_.lastFileOpen = false;
        if (failed <= counter_) {
            std::error_code ec;
            for (long i = failed; i <= counter_; ++i) fs::remove(ctx_.cacheFolder / ctx_.FoundNames[i], ec);
            unit_ = ctx_.found[failed].startUnit;
            counter_ = failed - 1;
            // List entries start with the file's number.
            auto undone = [failed](const std::string& e) { return std::strtol(e.c_str(), nullptr, 10) >= failed; };
            auto& entries = ctx_.List3;
            entries.erase(std::remove_if(entries.begin(), entries.end(), undone), entries.end());
        }
    }
    const bool reachedEnd = unit_ >= endUnit_;
    handle_.close();
    setLastCluster("0");
    ctx_.resumeUnit = (reachedEnd || ctx_.options.damaged) ? 0 : unit_;
    if (ctx_.resumeUnit == 0) ctx_.lastFileOpen = false;
    // Keep the lists up to the last found file.
    ctx_.FoundNames.resize(counter_ + 1);
    ctx_.FoundSizes.resize(counter_ + 1);
    ctx_.found.resize(counter_ + 1);

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
    if (ctx_.FoundNames.empty() && !stopped) {
        const std::string title = LoadStr(592, "Scan") + " " + driveName;
        if (static_cast<double>(ctx_.emptyUnits) > 0.9 * static_cast<double>(geo_.totalUnits))
            ui_.message(LoadStr(590, "Not any data retrievable.") + "\n" +
                            FormatStr(LoadStr(1410, "Disk %0 is wiped and entirely empty!"), {driveName}),
                        title, {shell::Buttons::OK, shell::Icon::Information});
        else
            ui_.message(LoadStr(593, "Data found but no recoverable files.") + "\n" +
                            LoadStr(594, "Adjust the file types and/or use DeepScan."),
                        title, {shell::Buttons::OK, shell::Icon::Information});
    }
    return stopped ? ScanOutcome::Stopped : ScanOutcome::Finished;
}

}  // namespace

std::string FoundFileName(long counter, const std::string& extension) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "R#%04ld", counter);
    return buf + extension;
}

bool ReadCompanionGeometry(const fs::path& companion, std::uint64_t imageBytes, media::DriveRecord& record) {
    std::ifstream in(companion, std::ios::binary);
    if (!in) return false;
    std::string lines[6];
    for (auto& line : lines) {
        if (!std::getline(in, line)) return false;
        line = trim(line);
        if (line.size() >= 2 && line.front() == '"' && line.back() == '"') line = line.substr(1, line.size() - 2);
    }
    // Counts are whole numbers, read exactly.
    auto number = [](const std::string& s, std::uint64_t& v) {
        if (s.empty() || s.size() > 19 || s.find_first_not_of("0123456789") != std::string::npos) return false;
        v = std::stoull(s);
        return true;
    };
    std::uint64_t bps = 0, spc = 0, units = 0, first = 0;
    if (!number(lines[1], bps) || !number(lines[2], spc) || !number(lines[3], units) || !number(lines[4], first))
        return false;
    if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return false;
    if (spc < 1 || spc > 128 || units < 1 || units > 1'000'000'000'000ull || first > 4'000'000'000ull) return false;
    if (imageBytes > 0 && first * bps >= imageBytes) return false;
    record.BytesPerSector = static_cast<std::int16_t>(bps);
    record.SectorsPerCluster = static_cast<std::uint8_t>(spc);
    record.TotalClusters = units;
    record.FirstDataSector = static_cast<std::uint32_t>(first);
    return true;
}

ScanOutcome ScanDisk(ScanContext& ctx) {
    Scanner scanner(ctx);
    return scanner.run();
}

}  // namespace hx::scan
