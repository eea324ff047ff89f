// harvestrix-cli learn and types: QX Adaptive from the command line.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/CliCommand.h"
#include "learning/AdaptiveLearning.h"
#include "learning/AdaptiveTypes.h"
#include "formats/SignatureTable.h"
#include "shell/Strings.h"
#include "shell/Text.h"
#include "shell/WorkingState.h"

namespace hx::cli {

namespace fs = std::filesystem;

namespace {

int runLearn(CliArgs& args) {
    const fs::path learned = shell::SharedState().picture;
    std::vector<fs::path> files;
    if (args.has("folder")) {
        const fs::path folder = args.get("folder");
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) {
            std::cerr << "harvestrix-cli: " << folder.string() << " is no folder; name a folder of sample files.\n";
            return 2;
        }
        files = learning::GatherFolder(folder);
    } else {
        if (args.positional.empty()) {
            std::cerr << "usage: harvestrix-cli learn EXT... [--in DIR] | --folder DIR\n";
            return 2;
        }
        std::vector<std::string> types;
        for (auto t : args.positional) {
            t = shell::ToLower(t);
            if (!t.empty() && t[0] == '.') t.erase(0, 1);
            types.push_back(t);
        }
        // The named folders (blank or comma separated), or every drive, searched for samples of those types.
        files = learning::SearchTypes(types, args.get("in", ""), *args.ui);
    }
    if (files.empty()) {
        std::cerr << shell::LoadStr(307, "No matching files found. Try again.   ") << "\n";
        return 1;
    }
    args.ui->status(shell::LoadStr(308, "Busy") + " " + std::to_string(files.size()));
    learning::LearnOptions options;
    options.progress = [&](std::size_t done, std::size_t total, const std::string& status) {
        args.ui->progress(static_cast<double>(done) / static_cast<double>(total), status);
        return !args.ui->stopRequested();
    };
    const auto result = learning::LearnFromFiles(learned, files, options);
    args.ui->progress(-1, "");
    std::cerr << "\n";
    for (const auto& v : learning::ListLearnedVariants(learned))
        for (const auto& t : result.types)
            if (t == v.type) {
                char line[160];
                std::snprintf(line, sizeof line, "%s#%d  %d samples  reliability %.2f%%  head %zu bytes", v.type.c_str(),
                              v.slot, v.samples, v.reliability, v.head);
                std::cout << line << "\n";
            }
    std::cout << result.samples << " samples of " << files.size() << " files learned into " << learned.string()
              << "\n";
    return result.samples > 0 ? 0 : 1;
}

int runTypes(CliArgs& args) {
    const fs::path learned = shell::SharedState().picture;
    if (args.json) std::cout << "[";
    bool first = true;
    auto row = [&](const std::string& type, const std::string& description, const std::string& origin,
                   const std::string& extra) {
        if (args.json) {
            std::cout << (first ? "" : ",") << "{\"type\":\"" << JsonEscape(type) << "\",\"description\":\""
                      << JsonEscape(description) << "\",\"origin\":\"" << origin << "\"" << extra << "}";
        } else {
            std::cout << type << "\t" << description << "\t" << origin << "\n";
        }
        first = false;
    };
    // The learned variants first: a scan tries them first.
    for (const auto& v : learning::ListLearnedVariants(learned)) {
        char reliability[32];
        std::snprintf(reliability, sizeof reliability, "%.1f%%", v.reliability);
        row(shell::ToUpper(v.type) + "#" + std::to_string(v.slot), shell::Trim(v.displayName) + " " + reliability,
            "Adaptive", ",\"slot\":" + std::to_string(v.slot) + ",\"samples\":" + std::to_string(v.samples));
    }
    std::vector<std::string> seen;
    for (const auto& r : formats::EveryRow()) {
        if (std::find(seen.begin(), seen.end(), r.key()) != seen.end() || r.Extension.size() < 2) continue;
        seen.push_back(r.key());
        row(shell::ToUpper(r.Extension.substr(1)), r.Description, "Program", "");
    }
    if (args.json) std::cout << "]\n";
    return 0;
}

CliRegistrar learnReg({"learn", "learn EXT... [--in DIRS] | --folder DIR   QX Adaptive: learn types from sample files (EXT: every drive searched)",
                       {"folder", "in"}, runLearn});
CliRegistrar typesReg({"types", "types [--json]                    the file types a scan knows, learned ones first",
                       {}, runTypes});

}  // namespace
}  // namespace hx::cli
