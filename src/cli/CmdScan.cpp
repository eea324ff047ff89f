// harvestrix-cli scan: the carving scan of a drive or image into the cache folder.
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>

#include "cli/CliCommand.h"
#include "media/AllocationBitmap.h"
#include "media/DriveInfo.h"
#include "scan/ScanDisk.h"
#include "scan/ScanState.h"
#include "shell/Strings.h"
#include "shell/WorkingState.h"
#include "undelete/UndeleteFat.h"
#include "undelete/UndeleteLists.h"

namespace hx::cli {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

namespace {

// The cache settled at start-up (--cache DIR gives DIR/QXCache/), else the default one.
fs::path cacheFolderFor(const CliArgs& args) {
    const shell::WorkingState& state = shell::SharedState();
    if (!state.cache.empty()) return state.cache;
    if (args.has("cache")) return fs::path(args.get("cache")) / "QXCache";
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg) return fs::path(xdg) / "QXCache";
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "/tmp") / ".cache" / "QXCache";
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

std::string fixed1(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

int runScan(CliArgs& args) {
    shell::Ui& ui = *args.ui;
    if (args.positional.empty()) {
        std::cerr << "usage: harvestrix-cli scan SOURCE [--types EXT,...|--preset NAME] [--deep] [--damaged] [--smart]"
                     " [--min-mb N] [--max-mb N] [--resume|--new]\n";
        return 2;
    }
    const std::string source = args.positional[0];
    const fs::path cache = cacheFolderFor(args);
    std::error_code ec;
    fs::create_directories(cache, ec);
    if (!fs::is_directory(cache, ec)) {
        std::cerr << "harvestrix-cli: cannot make the cache folder " << cache << "\n";
        return 1;
    }

    // The file types.
    std::string selection = "all";
    if (args.has("types")) {
        selection = scan::SelectionForTypes(splitList(args.get("types")));
    } else if (args.has("preset")) {
        const auto types = scan::PresetTypes(args.get("preset"));
        if (types.empty()) {
            std::cerr << "harvestrix-cli: unknown preset '" << args.get("preset") << "'\n";
            return 2;
        }
        selection = scan::SelectionForTypes(types);
    }
    scan::ScanContext ctx(ui);
    ctx.table = scan::BuildSignatureTable(selection);
    scan::OrderForScan(ctx.table);
    if (ctx.table.empty()) {
        ui.message(LoadStr(547, "Please first check some types on the search list to scan for."), "QX Adaptive",
                   {shell::Buttons::OK, shell::Icon::Exclamation});
        return 1;
    }

    // The medium.
    if (!media::GetDriveInfo(source, ctx.record)) {
        ui.message(LoadStr(562, "Cannot read the disk."), LoadStr(38, "Scan"),
                   {shell::Buttons::OK, shell::Icon::Exclamation});
        return 1;
    }
    ctx.drive = ctx.record.Drive.empty() ? source : ctx.record.Drive;
    ctx.cacheFolder = cache;
    ctx.settings = shell::SharedState().store;
    ctx.options.deepScan = args.has("deep");
    ctx.options.damaged = args.has("damaged");
    ctx.options.smartScan = args.has("smart");
    ctx.options.minMB = std::atof(args.get("min-mb", "0").c_str());
    ctx.options.maxMB = std::atof(args.get("max-mb", "0").c_str());

    // The medium's own listing names the files found where listed files start.
    scan::ListedNames listing = undelete::ListedNamesFor(ctx.drive);
    if (listing.empty() && ctx.record.FileSystem.rfind("FAT", 0) == 0) {
        undelete::FatVolume volume;
        std::vector<undelete::UndeleteEntry> entries;
        if (undelete::LoadFatVolume(ctx.drive, ctx.record, volume) && undelete::ListFatEntries(volume, entries, ui))
            listing = undelete::ToListedNames(entries);
        ui.clearStop();
    }
    ctx.listed = std::move(listing);

    media::AllocationBitmap bitmap;
    if (ctx.options.smartScan) {
        if (media::LoadAllocationBitmap(ctx.record, bitmap)) {
            const std::int64_t root = ctx.record.RootCluster;
            ctx.clusterInUse = [&bitmap, root](std::uint64_t cluster) {
                return bitmap.isUsed(static_cast<std::int64_t>(cluster) - root);
            };
        } else {
            ctx.options.smartScan = false;
            std::cerr << "harvestrix-cli: no allocation table on " << source << "; the whole medium is scanned\n";
        }
    }

    // A stopped scan of this drive can be resumed; a new one replaces its files.
    scan::ScanContext previous(ui);
    const bool havePrevious = scan::LoadScanState(cache, previous);
    if (args.has("resume") && havePrevious && previous.resumeUnit > 0 && previous.resumeDrive == ctx.drive) {
        std::cerr << FormatStr("The last scan of disk %0 was interrupted.", {ctx.drive}) << "\n";
        ctx.resumeDrive = previous.resumeDrive;
        ctx.resumeUnit = previous.resumeUnit;
        ctx.lastFileOpen = previous.lastFileOpen;
        ctx.FoundNames = previous.FoundNames;
        ctx.FoundSizes = previous.FoundSizes;
        ctx.found = previous.found;
    } else if (havePrevious && !previous.FoundNames.empty()) {
        if (previous.resumeUnit > 0)
            std::cerr << FormatStr("The last scan of disk %0 was interrupted.", {previous.resumeDrive})
                      << " (--resume continues it)\n";
        const auto answer = ui.message(LoadStr(352, "A new scan will delete all unsaved cached files of the previous scan.") +
                                           "\n" + LoadStr(353, "Do you want to continue?  "),
                                       LoadStr(38, "Scan"), {shell::Buttons::YesNo, shell::Icon::Question});
        if (answer != shell::Answer::Yes) return 1;
        for (const auto& name : previous.FoundNames) fs::remove(cache / name, ec);
        fs::remove(cache / scan::kScanStateFile, ec);
    }

    ui.setCaption("CmdScan", LoadStr(259, "Stop"));
    const scan::ScanOutcome outcome = scan::ScanDisk(ctx);
    ui.setCaption("CmdScan", LoadStr(38, "Scan"));
    std::cerr << "\n";
    scan::SaveScanState(cache, ctx);
    if (outcome == scan::ScanOutcome::Unreadable) return 1;

    // The result.
    std::map<std::string, std::pair<int, double>> perType;
    double totalMB = 0;
    for (const auto& f : ctx.found) {
        auto& t = perType[f.extension];
        ++t.first;
        t.second += static_cast<double>(f.size) / 1048576.0;
        totalMB += static_cast<double>(f.size) / 1048576.0;
    }
    if (args.json) {
        std::cout << "{\"drive\":\"" << JsonEscape(ctx.drive) << "\",\"cache\":\"" << JsonEscape(cache.string())
                  << "\",\"outcome\":\""
                  << (outcome == scan::ScanOutcome::Finished ? "finished"
                      : outcome == scan::ScanOutcome::Stopped ? "stopped" : "out-of-space")
                  << "\",\"resumeUnit\":" << ctx.resumeUnit << ",\"seconds\":" << fixed1(ctx.seconds)
                  << ",\"files\":[";
        for (std::size_t i = 0; i < ctx.found.size(); ++i) {
            const auto& f = ctx.found[i];
            std::cout << (i ? "," : "") << "\n  {\"name\":\"" << JsonEscape(f.name) << "\",\"type\":\""
                      << JsonEscape(f.extension.empty() ? f.extension : f.extension.substr(1))
                      << "\",\"description\":\"" << JsonEscape(f.description) << "\",\"size\":" << f.size
                      << ",\"startUnit\":" << f.startUnit << "}";
        }
        std::cout << "\n]}\n";
    } else {
        for (const auto& [ext, t] : perType)
            std::cout << ext.substr(1) << ": " << t.first << " files, " << fixed1(t.second) << " MB\n";
        std::cout << ctx.found.size() << " files, " << fixed1(totalMB) << " MB in " << cache.string() << "\n";
        if (outcome == scan::ScanOutcome::Stopped)
            std::cout << "Stopped at unit " << ctx.resumeUnit << "; --resume continues the scan.\n";
        std::cout << ctx.finishedText << "\n";
    }
    return outcome == scan::ScanOutcome::OutOfSpace ? 3 : 0;
}

CliRegistrar reg({"scan",
                  "scan SOURCE [--types EXT,...|--preset NAME] [--deep] [--damaged] [--smart] [--min-mb N] "
                  "[--max-mb N] [--resume|--new]",
                  {"types", "preset", "min-mb", "max-mb"},
                  runScan});

}  // namespace
}  // namespace hx::cli
