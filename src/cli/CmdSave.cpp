// harvestrix-cli save: the found files of the cache into a folder, as Save All
// (or Save As of the chosen rows) does in the window.
#include <algorithm>
#include <iostream>
#include <sstream>

#include "cli/CliCache.h"
#include "cli/CliCommand.h"
#include "output/SaveFiles.h"
#include "shell/QuietUi.h"
#include "scan/ScanState.h"
#include "shell/WorkingState.h"

namespace hx::cli {
namespace {

namespace fs = std::filesystem;

// The found files row for row: as the last scan listed them, else the
// cache's own files by name.
std::vector<std::string> foundNames(const fs::path& cache, std::string& scannedDrive) {
    std::vector<std::string> names;
    shell::QuietUi quiet;
    scan::ScanContext state(quiet);
    if (scan::LoadScanState(cache, state) == scan::ScanStateLoad::Loaded) {
        scannedDrive = state.resumeDrive;
        for (const auto& f : state.found)
            if (std::error_code ec; fs::is_regular_file(cache / f.name, ec)) names.push_back(f.name);
        if (!names.empty()) return names;
    }
    std::error_code ec;
    for (fs::directory_iterator it(cache, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file(ec) && !scan::IsScanBookkeeping(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// "3,7,12" as the rows are numbered (from 1).
bool parseRows(const std::string& text, std::size_t count, std::vector<std::size_t>& rows) {
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const long n = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end || n < 1 || static_cast<std::size_t>(n) > count) {
            std::cerr << "harvestrix-cli: no found file number " << item << " (1 to " << count << ")\n";
            return false;
        }
        rows.push_back(static_cast<std::size_t>(n - 1));
    }
    return !rows.empty();
}

int runSave(CliArgs& args) {
    if (!args.has("to") || args.get("to").empty()) {
        std::cerr << "usage: harvestrix-cli save --to DIR [--select N,...] [--layout date|found] [--replace] [--clips]\n";
        return 2;
    }
    const fs::path cache = CliCacheFolder(args);
    output::SaveRequest req;
    req.cacheFolder = cache;
    std::string drive;
    req.names = foundNames(cache, drive);
    std::string recorded;
    if (!drive.empty()) scan::ReadSearchedFile(cache, drive.size(), recorded, req.scanned.serial);
    req.scanned.drive = drive;
    req.presetFolder = fs::absolute(args.get("to"));
    req.saveFolder = req.presetFolder;
    req.saveAsFolder = req.presetFolder;
    req.productName = shell::SharedState().productName;
    // --yes never destroys: a file of the same name stays, and the saved one
    // gets a number; replacing it takes --replace.
    if (args.has("replace")) req.sameName = output::SaveRequest::SameName::Replace;
    else if (args.yes) req.sameName = output::SaveRequest::SameName::KeepBoth;
    // By the day each was taken unless asked for the cache's flat list.
    const std::string layout = args.has("layout") ? args.get("layout") : "date";
    if (layout != "date" && layout != "found") {
        std::cerr << "harvestrix-cli: --layout is date or found\n";
        return 2;
    }
    req.byDate = layout == "date";
    req.clipsBeside = args.has("clips");
    output::SaveCommand save(*args.ui, req);
    output::SaveOutcome out;
    if (args.has("select")) {
        std::vector<std::size_t> rows;
        if (!parseRows(args.get("select"), req.names.size(), rows)) return 2;
        out = save.SaveAs(rows);
    } else {
        out = save.SaveAll();
    }
    if (args.json) {
        std::cout << "{\"folder\":\"" << JsonEscape(save.saveFolder().string()) << "\",\"saved\":[";
        for (std::size_t k = 0; k < out.targets.size(); ++k)
            std::cout << (k ? "," : "") << "\"" << JsonEscape(out.targets[k].string()) << "\"";
        std::cout << "],\"skipped\":" << out.skipped << ",\"cancelled\":" << (out.cancelled ? "true" : "false") << "}\n";
    } else {
        for (const auto& t : out.targets) std::cout << "saved " << t.string() << "\n";
        std::cout << out.targets.size() << " files saved in " << save.saveFolder().string() << "\n";
    }
    return out.cancelled || out.stopped || out.skipped ? 1 : 0;
}

CliRegistrar reg({"save", "save --to DIR [--select N,...] [--layout date|found] [--replace] [--clips]  save found files from the cache (--clips: a motion photo's clip beside it too)",
                  {"to", "select", "layout"},
                  runSave});

}  // namespace
}  // namespace hx::cli
