// harvestrix-cli undelete SOURCE [--restore all|N,...] [--to DIR]
#include <cstdlib>
#include <iostream>
#include <set>

#include "cli/CliCache.h"
#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "filesystems/DriveInfo.h"
#include "shell/Strings.h"
#include "shell/WorkingState.h"
#include "undelete/QuickUndelete.h"
#include "undelete/UndeleteLists.h"

namespace hx::cli {

namespace {

namespace fs = std::filesystem;
using undelete::QuickUndelete;
using filesystems::UndeleteEntry;

// "all" or "3,7,12": entry numbers as the rows show them (from 1).
bool parseSelection(const std::string& text, const QuickUndelete& run, std::vector<std::size_t>& out) {
    const auto& entries = run.entries();
    if (text == "all") {
        out = run.SaveAllSelection();
        return true;
    }
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const auto comma = text.find(',', pos);
        const std::string part = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        char* end = nullptr;
        const long n = std::strtol(part.c_str(), &end, 10);
        if (part.empty() || *end || n < 1 || static_cast<std::size_t>(n) > entries.size()) {
            std::cerr << "harvestrix-cli: no entry number '" << part << "'\n";
            return false;
        }
        out.push_back(static_cast<std::size_t>(n - 1));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return true;
}

void printJsonEntry(std::size_t i, const UndeleteEntry& e, bool deleted) {
    std::cout << "{\"number\":" << i + 1 << ",\"fileName\":\"" << JsonEscape(e.FileName) << "\",\"listName\":\""
              << JsonEscape(e.ListName) << "\",\"folder\":\"" << JsonEscape(e.FolderPath) << "\",\"deleted\":"
              << (deleted ? "true" : "false") << ",\"size\":" << e.Size << ",\"recoverable\":" << e.ListSize
              << ",\"firstCluster\":" << e.FirstCluster << ",\"record\":" << e.RecordNumber
              << ",\"attributes\":" << (e.Attributes & 0xFF) << ",\"overwritten\":" << (e.Overwritten ? "true" : "false")
              << ",\"inDeletedFolder\":" << ((e.Attributes & filesystems::kAttrInDeletedFolder) ? "true" : "false")
              << ",\"rebuilt\":" << ((e.Attributes & filesystems::kAttrRebuilt) ? "true" : "false")
              << ",\"confirmed\":" << ((e.Attributes & filesystems::kAttrConfirmed) ? "true" : "false")
              << ",\"partial\":" << (e.isPartial() || e.ListSize < e.Size ? "true" : "false")
              << ",\"unverified\":" << ((e.Attributes & filesystems::kAttrUnverified) ? "true" : "false")
              << ",\"recovery\":\"" << JsonEscape(undelete::RecoveryNote(e)) << "\""
              << ",\"created\":\"" << filesystems::FormatDate(e.Created) << "\",\"modified\":\""
              << filesystems::FormatDate(e.Modified) << "\"}";
}

int runUndelete(CliArgs& args) {
    if (args.positional.size() != 1) {
        std::cerr << "usage: harvestrix-cli undelete SOURCE [--restore all|N,...] [--to DIR]\n";
        return 2;
    }
    const std::string source = args.positional[0];
    if (args.has("restore") && !args.has("to")) {
        std::cerr << "harvestrix-cli: --restore needs --to DIR\n";
        return 2;
    }
    if (const int refused = CliRefusedSource(args, source)) return refused;
    if (!CliDriveReady(args, source)) return 1;
    filesystems::QuickUndeleteOptions options;
    options.drive = source;
    options.workFolder = CliCacheFolder(args);
    if (!options.workFolder.empty()) {
        std::error_code ec;
        fs::create_directories(options.workFolder, ec);
        if (ec) options.workFolder.clear();
    }
    QuickUndelete run(*args.ui);
    // The run has said why it could not list the medium.
    if (!run.run(options)) return 3;

    std::vector<std::size_t> selection;
    if (args.has("restore") && !parseSelection(args.get("restore"), run, selection)) return 2;
    QuickUndelete::SaveResult saved;
    if (!selection.empty()) saved = run.SaveUndeleteEntries(selection, fs::path(args.get("to")));

    if (args.json) {
        std::set<std::size_t> inList2;
        for (const auto& row : run.lists().list2)
            if (long i = undelete::RowEntryIndex(row); i >= 0) inList2.insert(static_cast<std::size_t>(i));
        std::cout << "{\"drive\":\"" << JsonEscape(source) << "\",\"fromCache\":" << (run.fromCache() ? "true" : "false")
                  << ",\"entries\":[";
        bool first = true;
        for (std::size_t i = 0; i < run.entries().size(); ++i) {
            if (run.entries()[i].isFolder()) continue;
            std::cout << (first ? "" : ",");
            first = false;
            printJsonEntry(i, run.entries()[i], inList2.count(i) != 0);
        }
        std::cout << "],\"restored\":[";
        for (std::size_t k = 0; k < saved.paths.size(); ++k)
            std::cout << (k ? "," : "") << "\"" << JsonEscape(saved.paths[k].string()) << "\"";
        std::cout << "]}\n";
    } else {
        for (const auto& row : run.lists().list1) std::cout << row << "\n";
        std::cout << "\n";
        for (const auto& row : run.lists().list2) std::cout << row << "\n";
        for (const auto& path : saved.paths) std::cout << "restored " << path.string() << "\n";
    }
    return saved.skipped ? 1 : 0;
}

CliRegistrar reg({"undelete", "undelete SOURCE [--restore all|N,...] [--to DIR]  list and restore deleted files",
                  {"restore", "to"}, runUndelete});

}  // namespace
}  // namespace hx::cli
