#pragma once
// The scan command of the window and of the command line: the checks and
// questions before a carving scan, the scan itself and the state it leaves.
// Everything the user sees goes through the Ui service; answers the command
// line already has (--resume, --new, --smart) are given beforehand.
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "learning/AdaptiveTypes.h"
#include "scan/ScanDisk.h"
#include "shell/WorkingState.h"

namespace hx::output {

struct ScanRequest {
    std::string source;                    // drive id or image path
    std::filesystem::path cacheFolder;
    std::filesystem::path imageFolder;     // where an image's companion file is looked for
    std::string selection = "all";         // the type selection (".jpgName|...|"), "all" for every type
    std::filesystem::path learnedFolder;   // QXRecdt: where learned types are kept
    std::vector<learning::LearnedVariant> learned;   // the learned variants checked: tried before the built-in rows
    scan::ScanOptions options;                   // deep, damaged, size limits; smartScan is decided here
    scan::KeptContents keptContents;
    // The quick undelete's listing of `listingDrive`, when it ran; the scan of
    // another drive lists it itself.
    scan::ListedNames listing;
    std::string listingDrive;             // with options.keepEachContentOnce: contents kept before the scan
    shell::SettingsStore* settings = nullptr;
    // When its cache is the cache folder, a new scan empties the cache (thumbnails too) through it.
    shell::WorkingState* state = nullptr;

    // Answers known beforehand; unset ones are asked.
    std::optional<bool> resume;   // resume an interrupted scan of this drive
    std::optional<bool> newScan;  // delete the previous scan's files
    std::optional<bool> smart;    // scan only the clusters no listed file occupies

    // The window offers the types listed on the medium that were not chosen;
    // those the user takes are handed to `typesAdded` (".nef") to be checked.
    bool offerListedTypes = false;
    std::function<void(const std::vector<std::string>&)> typesAdded;
    // Called once every check has passed, just before the scan reads the medium
    // (the window shows its busy state and the results page there).
    std::function<void()> beforeScan;
};

class ScanCommand {
public:
    ScanCommand(shell::Ui& ui, ScanRequest request);

    // Runs the checks and the scan. Empty when the command ended before the
    // scan: a refused check, an unreadable drive or a cancelled question.
    std::optional<scan::ScanOutcome> run();

    const scan::ScanContext& context() const { return ctx_; }
    scan::ScanContext& context() { return ctx_; }
    bool resumed() const { return resumed_; }
    bool smartScan() const { return ctx_.options.smartScan; }

    // Files in the cache folder, the scan's own state file not counted.
    static bool CacheHoldsFiles(const std::filesystem::path& cacheFolder);

private:
    bool prepareListing();
    bool cacheOnScannedDrive() const;
    bool offerListedTypes();
    bool checkCacheSpace();
    bool decideSmartScan();
    bool decideResume();
    // options.addToFound: the cache's files, listed before this scan's.
    void adoptCache(const scan::ScanContext* previous);
    std::uint64_t mediumBytes() const;  // of the scanned source, 0 when unknown

    shell::Ui& ui_;
    ScanRequest req_;
    scan::ScanContext ctx_;
    // The file system's own drive and record: listing and SmartScan work on
    // them, while the scan may read the whole medium around a partition.
    std::string fsDrive_;
    media::DriveRecord fsRecord_;
    bool resumed_ = false;
};

}  // namespace hx::output
