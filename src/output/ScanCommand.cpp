#include "output/ScanCommand.h"

#include <memory>
#include <set>

#include "filesystems/AllocationBitmap.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/FileSystemTypes.h"
#include "media/ReadAside.h"
#include "media/ReadFailure.h"
#include "platform/FreeSpace.h"
#include "reassembly/Reassembly.h"
#include "scan/ScanChecks.h"
#include "scan/ScanState.h"
#include "shell/Strings.h"
#include "shell/Text.h"
#include "shell/WorkingFolders.h"
#include "shell/QuietUi.h"
#include "undelete/QuickUndelete.h"
#include "formats/Formats.h"
#include "filesystems/fat/UndeleteFat.h"
#include "undelete/UndeleteLists.h"
#include "media/SectorIo.h"

namespace hx::output {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

// How long the listing a scan reads first may spend on checking deleted files in pieces.
constexpr double kListingCheckSeconds = 3;

ScanCommand::ScanCommand(shell::Ui& ui, ScanRequest request) : ui_(ui), req_(std::move(request)), ctx_(ui) {}

bool ScanCommand::CacheHoldsFiles(const fs::path& cacheFolder) {
    std::error_code ec;
    for (fs::directory_iterator it(cacheFolder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec) && !scan::IsScanBookkeeping(it->path().filename().string()))
            return true;
    return false;
}

std::optional<scan::ScanOutcome> ScanCommand::run() {
    if (req_.learned.empty()) {
        ctx_.table = formats::BuildSignatureTable(req_.selection);
        formats::OrderForScan(ctx_.table);
    } else {
        ctx_.table = learning::TableWithLearned(req_.learnedFolder, req_.learned, req_.selection);
    }
    if (ctx_.table.empty()) {
        ui_.message(LoadStr(547, "Please first check some types on the search list to scan for."), "QX Adaptive",
                    {shell::Buttons::OK, shell::Icon::Exclamation});
        return std::nullopt;
    }
    if (req_.source.empty() || !filesystems::GetDriveInfo(req_.source, ctx_.record)) {
        const int error = req_.source.empty() ? 0 : media::OpenError(req_.source);
        ui_.message(error ? media::ReadFailureText(req_.source, error) : LoadStr(562, "Cannot read the disk."),
                    LoadStr(38, "Scan"), {shell::Buttons::OK, shell::Icon::Exclamation});
        return std::nullopt;
    }
    // Found files need a folder to go to: made when missing, refused with its reason otherwise.
    std::error_code made;
    fs::create_directories(req_.cacheFolder, made);
    if (!fs::is_directory(req_.cacheFolder, made)) {
        ui_.message(FormatStr(LoadStr(0, "The cache folder %0 cannot be made or written: %1"),
                              {req_.cacheFolder.string(), made ? made.message() : std::string("not a folder")}),
                    LoadStr(38, "Scan"), {shell::Buttons::OK, shell::Icon::Exclamation});
        return std::nullopt;
    }
    ctx_.drive = ctx_.record.Drive.empty() ? req_.source : ctx_.record.Drive;
    fsDrive_ = ctx_.drive;
    fsRecord_ = ctx_.record;
    if (ctx_.record.isPartition() && ctx_.record.ChosenForMedium) {
        // A whole-card image: read all of it (files may lie outside the
        // partition too), in units aligned with the partition's clusters.
        const filesystems::MediumUnits whole = filesystems::WholeMediumUnits(ctx_.record);
        ctx_.drive = whole.drive;
        ctx_.record.FirstDataSector = static_cast<std::uint32_t>(whole.firstDataSector);
        ctx_.record.TotalClusters = whole.totalUnits;
    }
    ctx_.cacheFolder = req_.cacheFolder;
    ctx_.imageFolder = req_.imageFolder;
    ctx_.settings = req_.settings;
    ctx_.options = req_.options;
    ctx_.keptContents = std::move(req_.keptContents);
    ctx_.options.smartScan = false;

    // Found files written onto a removable medium that is being scanned
    // would overwrite what is still to be found.
    if (cacheOnScannedDrive() && ctx_.record.DriveType == media::DriveKind::Removable) {
        ui_.message(LoadStr(273, "Cannot use the same disk for saving.") + "\n" + LoadStr(274, "Please select another drive."),
                    LoadStr(31, "Harvestrix") + "  " + LoadStr(265, "Backup"), {shell::Buttons::OK, shell::Icon::Exclamation});
        return std::nullopt;
    }
    if (!decideSmartScan()) return std::nullopt;
    // Room first: the cache may move, and what it holds is asked about where it then is.
    if (!checkCacheSpace()) return std::nullopt;
    if (!decideResume()) return std::nullopt;
    prepareListing();
    if (!offerListedTypes()) return std::nullopt;
    // Which drive the cache's files come from: saving keeps them off it.
    scan::WriteSearchedFile(req_.cacheFolder, fsDrive_, ctx_.record.SerialNumber);

    ui_.clearStop();
    if (req_.beforeScan) req_.beforeScan();
    ui_.setCaption("CmdScan", LoadStr(259, "Stop"));
    const scan::ScanOutcome outcome = ScanDisk(ctx_, [this](scan::ScanContext& ctx) {
        // The medium read again to join files in pieces: a read that hangs does not hold it.
        media::GuardCommandReads guarded(ui_, std::make_shared<std::atomic<int>>(0));
        reassembly::Reassemble(ctx);
    });
    ui_.setCaption("CmdScan", LoadStr(38, "Scan"));
    ui_.clearStop();
    SaveScanState(req_.cacheFolder, ctx_);
    return outcome;
}

void ScanCommand::adoptCache(const scan::ScanContext* previous) {
    // As the last scan listed them, then whatever else the cache holds: the
    // files of a scan that was ended before it could note them.
    std::set<std::string> known;
    if (previous) {
        ctx_.found = previous->found;
        ctx_.List3 = previous->List3;
        for (scan::FoundFile& f : ctx_.found) {
            f.earlier = true;
            known.insert(f.name);
        }
    }
    std::vector<fs::path> others;
    std::error_code ec;
    for (fs::directory_iterator it(req_.cacheFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file(ec) && !scan::IsScanBookkeeping(name) && !known.count(name))
            others.push_back(it->path());
    }
    std::sort(others.begin(), others.end());
    for (const fs::path& path : others) {
        scan::FoundFile f;
        f.name = path.filename().string();
        f.extension = shell::ToLower(path.extension().string());
        const formats::Format* format = formats::FormatOf(f.extension);
        f.description = format && !format->signatures.empty() ? std::string(format->signatures.front().name)
                                                              : shell::ToUpper(f.extension.substr(f.extension.empty() ? 0 : 1));
        const std::uintmax_t size = fs::file_size(path, ec);
        f.size = ec ? 0 : size;
        f.earlier = true;
        ctx_.List3.push_back(scan::FoundEntryText(static_cast<long>(ctx_.found.size()), f.description));
        ctx_.found.push_back(std::move(f));
    }
}

bool ScanCommand::prepareListing() {
    // The medium's own listing names the files found where listed files start:
    // the quick undelete's when it ran, else our reading of the volume's
    // folders where that takes moments.
    scan::ListedNames listing = req_.listingDrive == fsDrive_ ? std::move(req_.listing) : scan::ListedNames{};
    const filesystems::FileSystemType* type = filesystems::CataloguedType(fsRecord_);
    if (listing.empty() && type && type->listsQuickly) {
        // Listed quietly: a file in pieces is left out of it, as the undelete leaves it.
        shell::QuietUi quiet;
        undelete::QuickUndelete listed(quiet);
        // A damaged medium may hold many deleted files in doubt: the scan
        // does not wait long for their checks.
        filesystems::QuickUndeleteOptions options{fsDrive_, "all", 0, 0, {}};
        options.checkSeconds = kListingCheckSeconds;
        if (listed.run(options)) listing = listed.listedNames();
        if (listed.checksCut())
            ui_.status(FormatStr(LoadStr(0, "Checking the deleted files of %0 took too long: the scan goes on, and "
                                            "files in pieces are found by their contents."),
                                 {fsDrive_}));
        ui_.clearStop();
    }
    ctx_.listed = std::move(listing);
    return true;
}

bool ScanCommand::cacheOnScannedDrive() const {
    const std::string mount = fsRecord_.MountPoint;
    if (mount.empty()) return false;
    std::error_code ec;
    const std::string cache = fs::weakly_canonical(req_.cacheFolder, ec).string() + "/";
    const std::string root = fs::weakly_canonical(mount, ec).string();
    return cache.rfind(root == "/" ? root : root + "/", 0) == 0;
}

bool ScanCommand::offerListedTypes() {
    if (!req_.offerListedTypes || ctx_.listed.empty()) return true;
    const std::string chosen = formats::TableExtensions(ctx_.table);
    std::vector<std::string> more;
    for (const auto& ext : scan::UnchosenListedTypes(ctx_.listed, chosen))
        if (!formats::BuildSignatureTable(scan::SelectionForTypes({ext.substr(1)})).empty()) more.push_back(ext);
    if (more.empty()) return true;
    std::string chosenText, moreText;
    for (std::size_t at = 0; at < chosen.size();) {
        const std::size_t next = chosen.find('.', at + 1);
        chosenText += shell::ToUpper(chosen.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1)) + " ";
        at = next == std::string::npos ? chosen.size() : next;
    }
    for (const auto& ext : more) moreText += shell::ToUpper(ext.substr(1)) + " ";
    const auto answer = ui_.message(LoadStr(345, "File types selected for recovering:") + "\n" + chosenText + "\n\n" +
                                        FormatStr(LoadStr(1488, "Possibly also present on %0"), {fsDrive_}) + "\n" +
                                        moreText + "\n\n" + LoadStr(347, "Do you want to retrieve as well the types") + "?",
                                    LoadStr(31, "Harvestrix") + "  MediaScan",
                                    {shell::Buttons::YesNoCancel, shell::Icon::Question});
    if (answer == shell::Answer::Cancel) return false;
    if (answer != shell::Answer::Yes) return true;
    std::vector<std::string> names;
    for (const auto& ext : more) names.push_back(ext.substr(1));
    for (auto& row : formats::BuildSignatureTable(scan::SelectionForTypes(names))) ctx_.table.push_back(row);
    formats::OrderForScan(ctx_.table);
    if (req_.typesAdded) req_.typesAdded(more);
    return true;
}

bool ScanCommand::checkCacheSpace() {
    const double mediumMB = static_cast<double>(mediumBytes()) / 1048576.0;
    // What a scan may recover: the drive's free space, or all of it when that is unknown.
    const double recoverable = fsRecord_.FreeMB > 0 ? fsRecord_.FreeMB : mediumMB;
    // Declined: another place for the cache is offered, until one is taken or none is chosen.
    for (int offered = 0; offered < 100; ++offered) {
        const scan::CacheSpace space = scan::CheckCacheSpace(platform::FreeMegabytes(req_.cacheFolder.string()), recoverable,
                                                 mediumMB, platform::SwapMegabytes(), req_.cacheFolder.string());
        if (scan::ConfirmCacheSpace(ui_, space, req_.options.unattended)) return true;
        if (req_.options.unattended) return false;
        const auto chosen = ui_.chooseFolder(LoadStr(338, "Please select a drive or folder for caching."),
                                             req_.cacheFolder.string());
        if (!chosen) return false;
        if (req_.state) {
            shell::ApplyCacheSwitch(*req_.state, *chosen);
            shell::MakeDirNames(*req_.state);
            if (!shell::EnsureCacheFolders(*req_.state, ui_)) return false;
            req_.cacheFolder = req_.state->cache;
        } else {
            req_.cacheFolder = fs::path(*chosen) / "QXCache";
        }
        std::error_code ec;
        fs::create_directories(req_.cacheFolder, ec);
        ctx_.cacheFolder = req_.cacheFolder;
    }
    return false;
}

bool ScanCommand::decideSmartScan() {
    if (req_.smart && !*req_.smart && !cacheOnScannedDrive()) return true;
    if (ctx_.record.DriveType == media::DriveKind::CDRom) return true;
    auto bitmap = std::make_shared<filesystems::AllocationBitmap>();
    if (!filesystems::LoadAllocationBitmap(fsRecord_, *bitmap) || bitmap->unitCount() == 0) {
        if (cacheOnScannedDrive()) {
            // Without its allocation nothing keeps the found files off what is to be found.
            ui_.message(FormatStr(LoadStr(1621, "Cannot use disk %0 for saving."), {fsDrive_}) + "\n" +
                            LoadStr(274, "Please select another drive."),
                        LoadStr(31, "Harvestrix") + "  " + LoadStr(265, "Backup"), {shell::Buttons::OK, shell::Icon::Exclamation});
            return false;
        }
        if (req_.smart)
            ui_.status(FormatStr("No allocation table on %0; the whole medium is scanned.", {ctx_.drive}));
        return true;
    }
    // Only worth offering when some cluster is in use.
    if (bitmap->freeCount() >= bitmap->unitCount() && !cacheOnScannedDrive()) return true;
    bool smart = true;
    if (cacheOnScannedDrive()) {
        // The found files go to the drive being scanned: only its free space is read, as they land in it.
        ui_.message(FormatStr(LoadStr(1400, "Drive %0 is also the cache drive!"), {fsDrive_}) + "\n" +
                        LoadStr(1701, "recommanded:") + " Smart" + LoadStr(38, "Scan") + " " + LoadStr(1711, "is activated") +
                        "\n" + LoadStr(1702, "Scan for missing files only, skipping listed existing files?"),
                    LoadStr(31, "Harvestrix") + "  Smart" + LoadStr(38, "Scan"), {shell::Buttons::OK, shell::Icon::Information});
    } else if (!req_.smart) {
        const auto answer =
            ui_.message(LoadStr(1701, "recommanded:") + "\n" +
                            LoadStr(1702, "Scan for missing files only, skipping listed existing files?"),
                        LoadStr(31, "Harvestrix") + "  Smart" + LoadStr(38, "Scan"),
                        {shell::Buttons::YesNoCancel, shell::Icon::Question});
        if (answer == shell::Answer::Cancel) return false;
        smart = answer == shell::Answer::Yes;
    }
    if (!smart) return true;
    ctx_.options.smartScan = true;
    // The bitmap counts units from the first data cluster.
    const std::int64_t root = ctx_.record.RootCluster;
    ctx_.clusterInUse = [bitmap, root](std::uint64_t cluster) {
        return bitmap->isUsed(static_cast<std::int64_t>(cluster) - root);
    };
    return true;
}

std::uint64_t ScanCommand::mediumBytes() const {
    return media::MediumBytes(ctx_.drive);
}

bool ScanCommand::decideResume() {
    // An interrupted scan of this drive may go on; a new scan replaces the cache.
    scan::ScanContext previous(ui_);
    scan::ScanStateLoad load = LoadScanState(req_.cacheFolder, previous);
    if (load == scan::ScanStateLoad::Loaded && !scan::ScanStateFitsMedium(previous, mediumBytes())) {
        load = scan::ScanStateLoad::Damaged;
        scan::LoadScanState({}, previous);  // forget what it said
    }
    if (load == scan::ScanStateLoad::Damaged) {
        // Its names are not trusted either: the cache is handled as one whose state is unknown.
        ui_.status(FormatStr(LoadStr(0, "The scan state %0 is damaged and is not used; a new scan starts."),
                             {(req_.cacheFolder / scan::kScanStateFile).string()}));
    }
    const bool havePrevious = load == scan::ScanStateLoad::Loaded;
    if (req_.options.addToFound) {
        adoptCache(havePrevious ? &previous : nullptr);
        return true;
    }
    if (havePrevious && previous.resumeUnit > 0 && previous.resumeDrive == ctx_.drive) {
        bool resume = false;
        if (req_.resume) {
            resume = *req_.resume;
            if (!resume)
                ui_.status(FormatStr(LoadStr(0, "The last scan of disk %0 was interrupted."), {ctx_.drive}));
        } else {
            resume = ui_.message(FormatStr(LoadStr(0, "The last scan of disk %0 was interrupted."), {ctx_.drive}) +
                                     "\n" + LoadStr(0, "Do you want to resume, adding remaining files to the cache?  "),
                                 LoadStr(38, "Scan"), {shell::Buttons::YesNo, shell::Icon::Question}) ==
                     shell::Answer::Yes;
        }
        if (resume) {
            ctx_.resumeDrive = previous.resumeDrive;
            ctx_.resumeUnit = previous.resumeUnit;
            ctx_.lastFileOpen = previous.lastFileOpen;
            ctx_.found = previous.found;
            ctx_.List3 = previous.List3;
            ctx_.unreadable = previous.unreadable;
            ctx_.unreadableSectors = previous.unreadableSectors;
            ctx_.unreadableList = previous.unreadableList;
            resumed_ = true;
            return true;
        }
    }
    const bool holdsFiles = CacheHoldsFiles(req_.cacheFolder) || (havePrevious && !previous.found.empty());
    if (!holdsFiles && !havePrevious) return true;
    if (holdsFiles) {
        bool go = false;
        if (req_.newScan) {
            go = *req_.newScan;
        } else {
            go = ui_.message(LoadStr(352, "A new scan will delete all unsaved cached files of the previous scan.") +
                                 "\n" + LoadStr(353, "Do you want to continue?  "),
                             LoadStr(38, "Scan"), {shell::Buttons::YesNo, shell::Icon::Question}) ==
                 shell::Answer::Yes;
        }
        if (!go) return false;
    }
    std::error_code ec;
    if (req_.state && !req_.state->cache.empty() && fs::equivalent(req_.state->cache, req_.cacheFolder, ec)) {
        shell::EmptyCache(*req_.state);
    } else {
        // A cache of its own (--cache): only what the last scan put there goes.
        for (const auto& f : previous.found)
            if (const std::string& name = f.name; !name.empty() && name.find('/') == std::string::npos) fs::remove(req_.cacheFolder / name, ec);
    }
    fs::remove(req_.cacheFolder / scan::kScanStateFile, ec);
    fs::remove(req_.cacheFolder / scan::kUnreadableFile, ec);
    return true;
}

}  // namespace hx::output
