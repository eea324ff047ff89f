#pragma once
// The carving scan: reads a medium or image unit by unit, recognises the first
// unit of a file by the scan table, copies the units that follow into a file
// in the cache folder until the file's end, and lists every found file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "formats/PhotoParts.h"
#include "media/DriveRecord.h"
#include "scan/Fingerprint.h"
#include "media/ListedNames.h"
#include "scan/ScanGeometry.h"
#include "formats/JpegEntropy.h"
#include "formats/SignatureTable.h"
#include "shell/SettingsStore.h"
#include "shell/Ui.h"

namespace hx::scan {

struct ScanOptions {
    bool deepScan = false;   // ChkDeep: every sector is a unit
    bool damaged = false;    // ChkDamaged: read block by block through the per-call reader
    bool smartScan = false;  // only the clusters that no listed file occupies
    bool unattended = false; // the damaged-media recovery drives the scan
    double minMB = 0;        // 0 = no limit
    double maxMB = 0;
    bool fingerprints = false;  // each found file's fingerprint, taken as its bytes go by
    // With fingerprints: a found file whose content is in ScanContext::keptContents
    // is not kept, and is mostly never written (its copy waits for its end).
    bool keepEachContentOnce = false;
    // The files the cache holds stay and are listed first; this scan's are
    // numbered after them (the damaged-media recovery's last stage keeps the
    // first stage's finds, which the program may not have lived to list).
    bool addToFound = false;
};

// One found file. The window's lists follow these records row for row.
struct FoundFile {
    std::string name;         // file name in the cache folder
    std::string extension;    // of the row that found it
    std::string description;  // the type or camera shown in the list
    std::uint64_t startUnit = 0;
    std::uint64_t size = 0;        // bytes, after any cut
    std::uint64_t listedSize = 0;  // the listing's byte count when a listed file started there; 0 otherwise
    bool damaged = false;          // a picture that does not decode cleanly to its end
    std::uint64_t faultAt = ~0ull; //   and about where its decode first went wrong, when known,
    // and where its entropy walk may start again before that (for this run only)
    std::shared_ptr<const std::vector<formats::JpegEntropy::Mark>> marks;
    bool printed = false;          // `print` is of all its bytes (options.fingerprints)
    Fingerprint print{};
    Fingerprint beginning{};       // of its first kBeginningBytes (when printed)
    bool exifRead = false;         // a picture whose EXIF header the scan read:
    std::string exifDate;          //   its date of exposure ("YYYY:MM:DD HH:MM:SS")
    std::string camera;            //   and its camera's model (or make)
    // Found by an earlier scan of this cache (options.addToFound): where it
    // lay on this medium is not known, and nothing is joined to it.
    bool earlier = false;
    std::uint64_t unreadableSectors = 0;  // of the medium's sectors inside it, which it holds as zeros
    std::uint64_t firstUnreadable = 0;    //   and the byte of the file where the first of them begins
    int pieces = 0;                       // a clip rebuilt from this many pieces of the medium (0: as found)
    // A clip whose lost index was made again after another's: 1 of its
    // video alone, 2 with its sound (0: none).
    std::uint8_t indexRebuilt = 0;
    // A clip one of whose pieces was not found: how far it plays, of how
    // long, in seconds (lasts 0: not so).
    double plays = 0, lasts = 0;
    // A photo of more than one picture (a motion photo's clip, an MPF
    // picture's second picture): its parts, the first picture's first, and
    // the kinds its headers named that did not come back.
    std::vector<formats::PhotoPart> parts;
    std::vector<formats::PartKind> partsMissing;
};

// "damaged: N sectors unreadable (zeros), the first at byte B": what is said
// of a find that holds unreadable sectors; empty when it holds none.
std::string DamageText(const FoundFile& f);
// "rebuilt from N pieces": what is said of a clip put together from the
// pieces of the medium, or of one whose index was made again, and
// "incomplete: N of M s" of one a piece of which was not found; empty for a
// find as it lay.
std::string RebuiltText(const FoundFile& f);
// "motion photo, 2.0 s clip", "with gain map", "motion photo: clip missing":
// what is said of a photo of more than one picture, its clip's length read
// from `file` (where the find was written); empty for a single picture.
std::string PartsText(const FoundFile& f, const std::filesystem::path& file);

// MediumGone: the medium stopped answering part way (taken out, or dead).
enum class ScanOutcome { Finished, Stopped, OutOfSpace, Unreadable, MediumGone };

struct ScanContext {
    explicit ScanContext(shell::Ui& u) : ui(u) {}

    // Input.
    std::string drive;                  // device node or image path
    media::DriveRecord record;          // geometry of the medium, filled by the caller
    std::filesystem::path cacheFolder;  // where found files go
    std::filesystem::path imageFolder;  // where an image's companion file is looked for (may be empty)
    ScanOptions options;
    shell::Ui& ui;
    formats::SignatureTable table;               // ordered for the scan
    ListedNames listed;                 // directory listing of the medium, may be empty
    // SmartScan: whether a cluster of the medium is allocated. Empty: everything is free.
    std::function<bool(std::uint64_t cluster)> clusterInUse;

    // Resume state, in and out: the next unit to scan (0 = none), the drive it
    // belongs to, and whether the last file was still open at the stop.
    std::uint64_t resumeUnit = 0;
    std::string resumeDrive;
    bool lastFileOpen = false;

    // Results: the found files, and the list entries of those that were finished.
    std::vector<FoundFile> found;
    std::vector<std::string> List3;
    // In and out with options.keepEachContentOnce: the contents kept so far,
    // and how many found files were dropped as copies of one of them.
    KeptContents keptContents;
    std::uint64_t duplicatesDropped = 0;
    std::vector<std::string> FoundNames() const;
    std::vector<std::uint64_t> FoundSizes() const;
    std::string LastCluster = "0";  // "33" while a scan runs
    shell::SettingsStore* settings = nullptr;  // when given, LastCluster is written there too
    std::uint64_t emptyUnits = 0;   // units equal to the one before, counted until the first find
    // The units this scan read whose first KiB was zeros (kept for media of
    // up to kMaxBlankUnits units): no piece of a file lies there.
    struct BlankUnits {
        static constexpr std::uint64_t kMaxUnits = 1ull << 28;
        std::uint64_t first = 0;
        std::vector<bool> bits;
        void reset(std::uint64_t from, std::uint64_t units) {
            first = from;
            bits.assign(units <= kMaxUnits ? units : 0, false);
        }
        void mark(std::uint64_t unit) {
            if (unit >= first && unit - first < bits.size()) bits[unit - first] = true;
        }
        bool has(std::uint64_t unit) const { return unit >= first && unit - first < bits.size() && bits[unit - first]; }
    } blank;
    std::uint64_t totalUnits = 0;
    std::uint64_t unitSize = 0;
    ScanGeometry geometry;          // how the scan numbered the medium
    std::uint64_t unitsPerBlock = 0;
    std::string finishedText;       // "Finished: ... seconds. Average: ... MB/sec"
    // The sectors of the medium that could not be read (first, count), their
    // number, the list of them beside the found files, and what is said of them.
    std::map<std::uint64_t, std::uint64_t> unreadable;
    std::uint64_t unreadableSectors = 0;
    std::filesystem::path unreadableList;
    std::string damageText;
    double seconds = 0;
    double megabytesRead = 0;
};

// What is done with the finds once the whole medium was read and every find
// written, before the scan reports: the files in pieces put together.
using FinishFinds = std::function<void(ScanContext& ctx)>;

// Runs the scan. Messages go through ctx.ui; the outcome says how it ended.
// `finish` runs only when the scan read to its end (not stopped, the medium
// still there, room left) and no file was left open.
ScanOutcome ScanDisk(ScanContext& ctx, const FinishFinds& finish = {});

// The list entry of found file `counter`: "007 Canon EOS 400D", at most 16 characters.
std::string FoundEntryText(long counter, const std::string& description);

// "R#0000.jpg": the name of found file `counter`.
std::string FoundFileName(long counter, const std::string& extension);

}  // namespace hx::scan
