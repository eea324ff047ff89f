#pragma once
// The carving scan's inner parts, shared by the two files that hold the
// scanner: ScanDisk.cpp (the blocks, the run and its end) and
// ScanFoundFile.cpp (one found file, from its first unit to its last).
// Only those two include it.
#include "scan/ScanDisk.h"
#include "scan/ContentPrint.h"

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
#include "formats/FileEndRule.h"
#include "scan/FoundFileWriter.h"
#include "scan/LaterChecks.h"
#include "scan/ListingCursor.h"
#include "formats/Ole2End.h"
#include "scan/SignatureMatcher.h"
#include "shell/Settings.h"
#include "formats/Formats.h"
#include "viewing/RawConverter.h"
#include "shell/Strings.h"
#include "viewing/Exif.h"
#include "shell/Text.h"
#include "shell/Text.h"

namespace hx::scan::detail {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

inline constexpr std::size_t kWindow = kSignatureWindow;
inline constexpr double kMB = 1048576.0;
// Unreadable bytes past which the user is told to make an image of the medium first.
inline constexpr std::uint64_t kAdviseImageBytes = 1048576;
inline constexpr double kSpaceReserveMB = 2500;


inline std::string extensionOf(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : shell::ToLower(name.substr(dot));
}

inline bool contains(const std::uint8_t* data, std::size_t size, std::string_view what) {
    return std::string_view(reinterpret_cast<const char*>(data), size).find(what) != std::string_view::npos;
}

inline std::string formatFixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

// The largest size a picture of these dimensions can plausibly have.
inline double pictureCapMB(const viewing::ExifValues& exif, const std::string& ext, double capMB) {
    if (formats::HasTrait(ext, formats::kNoSizeCap) || exif.height < 1001) return capMB;
    const double exifCap = static_cast<double>(exif.width) * exif.height * 6 / kMB;
    return capMB > 0 ? std::min(capMB, exifCap) : exifCap;
}

// The file being copied out of the medium.
struct OpenFile {
    bool open = false;       // units are added to it
    bool complete = false;   // its end is reached; units until the next find are skipped
    bool inWriter = false;   // the writer holds it open
    std::unique_ptr<formats::FileEndRule> rule;
    std::string ext;
    const formats::Format* format = nullptr;  // of `ext`, looked up once: units ask it again and again
    std::string name;
    std::string description;
    std::uint64_t writtenBytes = 0;
    double writtenMB = 0;    // whole units, as the size limits count
    double capMB = 0;
    double repeatMB = 0;
    std::array<std::uint8_t, 512> repeatPiece{};
    const std::uint8_t* repeatAt = nullptr;  // the piece, while it lies in the block read
    viewing::ExifValues exif;
    bool haveExif = false;
    // Complete: the unit it ended in, and its bytes that belong to it.
    std::uint64_t endsInUnit = ~0ull;
    std::size_t endsAfter = 0;
    std::string camera;      // as the EXIF header names it
    bool printing = false;   // every byte written went through `print`
    ContentPrint print;
    ContentPrint beginning;  // of its first kBeginningBytes
    // Keeping each content once: the file's ranges of the medium, not yet
    // handed to the writer, so that a copy of a kept file is never written.
    bool deferring = false;
    std::vector<std::pair<std::uint64_t, std::size_t>> deferred;
    std::uint64_t deferredBytes = 0;
};

class Scanner {
public:
    explicit Scanner(ScanContext& c) : ctx_(c), ui_(c.ui) {}
    ScanOutcome run(const FinishFinds& finish);

private:
    void setUp();
    void startOrResume();
    std::optional<ScanOutcome> openSource();
    std::optional<ScanOutcome> scanBlocks(bool& stopped);
    void settleWrites(bool stopped);
    // The verdicts of the checks left for later, put in the found list.
    void applyLaterChecks(long firstFailed);
    ScanOutcome report(bool stopped);
    ScanOutcome unreadable();
    // What could not be read: marked on the finds that hold it, and listed.
    void noteDamage();
    // A resumed scan: the unreadable sectors from `byte` of the medium on,
    // and the damage of finds first met there, are forgotten, as they are read again.
    void forgetDamageFrom(std::uint64_t byte);
    // The areas skipped over after failures, read again once the rest is
    // safe: put into the finds that hold them, and searched for files that
    // start there.
    void rescanSkipped();
    // Bytes of the medium read late, put into the finds that hold zeros for them.
    void patchFinds(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size);

    std::size_t blockUnits() const;
    void buildSecondTable(const std::string& selected);
    bool findFreeRun(std::uint64_t from);
    void examineBlock(std::size_t units);
    void lookForEmbedded(const std::uint8_t* unit, std::size_t index);
    void emitEmbedded();
    void startFile(const formats::SignatureRow& row, const std::uint8_t* window);
    void readPictureHeader(const std::uint8_t* window);
    void appendUnit(const std::uint8_t* unit);
    void writeBytes(const std::uint8_t* data, std::size_t size);
    void flushPending();
    // Bytes of the medium for the writer to copy; the sectors the scan found
    // unreadable go in as zeros, never read again.
    void appendFromMedium(std::uint64_t offset, std::size_t size);
    void finishFile();
    void dropFile(const fs::path& path);
    void dropCopy(const fs::path& path);
    void deferRange(std::uint64_t offset, std::size_t size);
    void releaseDeferred();
    void nameAsCamera(const std::string& ownName);
    void keepWithinReserve(std::uint64_t size);
    // `keepDeferred`: the file's end decides first whether its copy is written.
    void closeAsWritten(bool keepDeferred = false);
    void reopenLastFile();
    void showProgress(bool force);
    // Tells the user of the files whose bytes are all written since the last call.
    void reportFinished();
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
    formats::SignatureTable secondTable_;  // listed types that were not chosen: they end a file without starting one
    SignatureMatcher secondMatcher_;
    std::optional<ListingCursor> listing_;

    long counter_ = -1;
    double budgetMB_ = 0;
    double recoveredMB_ = 0;
    bool outOfSpace_ = false;
    bool gone_ = false;  // the medium stopped answering
    // Units from here on were searched already: a match there ends the open file, and starts none.
    std::uint64_t searchedFrom_ = UINT64_MAX;
    std::unordered_set<std::string> madeNames_;  // names given in this scan (the writer may still be at work)
    std::unordered_set<std::string> earlierNames_;  // files of an earlier scan the cache keeps (options.addToFound)
    // Before the writer: its thread hands checks over until it ends.
    LaterChecks later_;
    FoundFileWriter writer_;
    // DeepScan: JPEGs at any byte offset, written once no file is open.
    EmbeddedPictureFinder embedded_;
    bool lookEmbedded_ = false;
    bool jpegInTable_ = false;
    // A format known by its structure where no signature matches, and the row of the table its finds count in.
    struct StructuralRow {
        const formats::Format* format;
        int row;
    };
    std::vector<StructuralRow> structural_;
    // A file is open whose format may hold JPEGs of its own (previews, album art, frames).
    bool openFileHoldsPictures() const;
    // The row a unit's first bytes start a file of by their structure; -1 for none.
    int structuralRow(const std::uint8_t* unit) const;
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


}  // namespace hx::scan::detail
