// harvestrix-cli scan: the carving scan of a drive or image into the cache folder.
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

#include "cli/CliCache.h"
#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "output/ScanCommand.h"
#include "scan/ScanState.h"
#include "formats/TypePresets.h"
#include "shell/Settings.h"
#include "shell/Strings.h"
#include "shell/Text.h"
#include "shell/WorkingState.h"

namespace hx::cli {

namespace fs = std::filesystem;

namespace {

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

// A photo of more than one picture: "parts" (each part's kind, offset and
// length), what is said of it, and what is missing.
std::string partsJson(const scan::FoundFile& f, const fs::path& file) {
    if (f.parts.size() < 2 && f.partsMissing.empty()) return {};
    std::string json = ",\"parts\":[";
    for (std::size_t i = 0; i < f.parts.size(); ++i)
        json += std::string(i ? "," : "") + "{\"kind\":\"" + std::string(formats::PartKindName(f.parts[i].kind)) +
                "\",\"offset\":" + std::to_string(f.parts[i].offset) + ",\"length\":" +
                std::to_string(f.parts[i].length) + "}";
    json += "],\"partsNote\":\"" + JsonEscape(scan::PartsText(f, file)) + "\"";
    if (!f.partsMissing.empty()) json += ",\"partsMissing\":\"" + JsonEscape(formats::MissingPartsText(f.partsMissing)) + "\"";
    return json;
}

// The file types: every type of the type list unless chosen. Empty for an unknown preset.
std::optional<std::string> chosenSelection(const CliArgs& args) {
    if (args.has("types")) return scan::SelectionForTypes(splitList(args.get("types")));
    if (!args.has("preset")) return formats::EveryTypeSelection();
    const auto types = formats::PresetTypes(args.get("preset"));
    if (types.empty()) {
        std::cerr << "harvestrix-cli: unknown preset '" << args.get("preset") << "'\n";
        return std::nullopt;
    }
    return scan::SelectionForTypes(types);
}

output::ScanRequest scanRequest(const CliArgs& args, const std::string& source, const fs::path& cache,
                                const std::string& selection) {
    output::ScanRequest request;
    request.source = source;
    request.cacheFolder = cache;
    request.selection = selection;
    // Learned types named with --types are tried first, every variant of them.
    request.learnedFolder = shell::SharedState().picture;
    if (args.has("types"))
        for (const auto& v : learning::ListLearnedVariants(request.learnedFolder))
            for (const auto& t : splitList(args.get("types")))
                if (shell::ToLower(t) == v.type) request.learned.push_back(v);
    request.settings = shell::SharedState().store;
    request.state = &shell::SharedState();
    request.options.deepScan = args.has("deep");
    request.options.damaged = args.has("damaged");
    request.options.minMB = std::atof(args.get("min-mb", "0").c_str());
    request.options.maxMB = std::atof(args.get("max-mb", "0").c_str());
    // Options stand for the window's questions: no --smart scans everything, no --resume starts anew.
    request.smart = args.has("smart");
    request.resume = args.has("resume");
    if (args.has("new")) request.newScan = true;
    return request;
}

const char* outcomeName(scan::ScanOutcome outcome) {
    switch (outcome) {
        case scan::ScanOutcome::Finished: return "finished";
        case scan::ScanOutcome::Stopped: return "stopped";
        case scan::ScanOutcome::MediumGone: return "medium-gone";
        default: return "out-of-space";
    }
}

void printJson(const scan::ScanContext& ctx, const fs::path& cache, scan::ScanOutcome outcome) {
    std::cout << "{\"drive\":\"" << JsonEscape(ctx.drive) << "\",\"cache\":\"" << JsonEscape(cache.string())
              << "\",\"outcome\":\"" << outcomeName(outcome) << "\",\"resumeUnit\":" << ctx.resumeUnit
              << ",\"seconds\":" << fixed1(ctx.seconds) << ",\"unreadableSectors\":" << ctx.unreadableSectors
              << ",\"unreadableList\":\"" << JsonEscape(ctx.unreadableSectors ? ctx.unreadableList.string() : std::string())
              << "\",\"files\":[";
    for (std::size_t i = 0; i < ctx.found.size(); ++i) {
        const auto& f = ctx.found[i];
        std::cout << (i ? "," : "") << "\n  {\"name\":\"" << JsonEscape(f.name) << "\",\"type\":\""
                  << JsonEscape(f.extension.empty() ? f.extension : f.extension.substr(1))
                  << "\",\"description\":\"" << JsonEscape(f.description) << "\",\"size\":" << f.size
                  << ",\"startUnit\":" << f.startUnit << ",\"unreadableSectors\":" << f.unreadableSectors
                  << (f.unreadableSectors ? ",\"firstUnreadableByte\":" + std::to_string(f.firstUnreadable) : "")
                  << (f.pieces > 1 ? ",\"pieces\":" + std::to_string(f.pieces) : "")
                  << (f.indexRebuilt ? std::string(",\"indexRebuilt\":true,\"sound\":") +
                                               (f.indexRebuilt == 2 ? "true" : "false")
                                     : "")
                  << (f.lasts > 0 ? ",\"incomplete\":{\"plays\":" + fixed1(f.plays) + ",\"of\":" + fixed1(f.lasts) + "}"
                                  : std::string())
                  << partsJson(f, cache / f.name) << "}";
    }
    std::cout << "\n]}\n";
}

void printText(const scan::ScanContext& ctx, const fs::path& cache, scan::ScanOutcome outcome) {
    std::map<std::string, std::pair<int, double>> perType;
    double totalMB = 0;
    for (const auto& f : ctx.found) {
        auto& t = perType[f.extension];
        ++t.first;
        t.second += static_cast<double>(f.size) / 1048576.0;
        totalMB += static_cast<double>(f.size) / 1048576.0;
    }
    for (const auto& [ext, t] : perType)
        std::cout << ext.substr(1) << ": " << t.first << " files, " << fixed1(t.second) << " MB\n";
    for (const auto& f : ctx.found)
        if (f.unreadableSectors > 0) std::cout << f.name << ": " << scan::DamageText(f) << "\n";
    for (const auto& f : ctx.found)
        if (!scan::RebuiltText(f).empty()) std::cout << f.name << ": " << scan::RebuiltText(f) << "\n";
    for (const auto& f : ctx.found)
        if (const std::string parts = scan::PartsText(f, cache / f.name); !parts.empty())
            std::cout << f.name << ": " << parts << "\n";
    std::cout << ctx.found.size() << " files, " << fixed1(totalMB) << " MB in " << cache.string() << "\n";
    if (outcome == scan::ScanOutcome::Stopped)
        std::cout << "Stopped at unit " << ctx.resumeUnit << "; --resume continues the scan.\n";
    if (outcome == scan::ScanOutcome::MediumGone)
        std::cout << "The medium stopped answering at unit " << ctx.resumeUnit
                  << "; put it back and scan again with --resume to go on.\n";
    std::cout << ctx.finishedText << "\n";
    if (!ctx.damageText.empty()) std::cout << ctx.damageText << "\n";
}

int runScan(CliArgs& args) {
    shell::Ui& ui = *args.ui;
    if (args.positional.empty()) {
        std::cerr << "usage: harvestrix-cli scan SOURCE [--types EXT,...|--preset NAME] [--deep] [--damaged] [--smart]"
                     " [--min-mb N] [--max-mb N] [--resume|--new]\n";
        return 2;
    }
    const std::string source = args.positional[0];
    if (const int refused = CliRefusedSource(args, source)) return refused;
    if (shell::SharedState().store &&
        std::strtol(shell::GetSetting(*shell::SharedState().store, shell::kLastCluster, "0").c_str(), nullptr, 10) > 0)
        std::cerr << "The last read of " << shell::GetSetting(*shell::SharedState().store, shell::kLastDrive)
                  << " was ended before its end, perhaps by a damaged sector. `harvestrix-cli damaged` recovers "
                     "more from it in stages.\n";
    const fs::path cache = CliCacheFolder(args);
    std::error_code ec;
    fs::create_directories(cache, ec);
    if (!fs::is_directory(cache, ec)) {
        std::cerr << "harvestrix-cli: cannot make the cache folder " << cache << "\n";
        return 1;
    }
    const std::optional<std::string> selection = chosenSelection(args);
    if (!selection) return 2;

    output::ScanCommand command(ui, scanRequest(args, source, cache, *selection));
    const std::optional<scan::ScanOutcome> ran = command.run();
    std::cerr << "\n";
    if (!ran) return 1;
    if (*ran == scan::ScanOutcome::Unreadable) return 3;
    // The medium stopped answering part way: 4, after the result so far.
    const scan::ScanOutcome outcome = *ran;
    const scan::ScanContext& ctx = command.context();
    if (args.json) printJson(ctx, cache, outcome);
    else printText(ctx, cache, outcome);
    if (outcome == scan::ScanOutcome::MediumGone) return 4;
    return outcome == scan::ScanOutcome::OutOfSpace || ctx.found.empty() ? 1 : 0;
}

CliRegistrar reg({"scan",
                  "scan SOURCE [--types EXT,...|--preset NAME] [--deep] [--damaged] [--smart] [--min-mb N] "
                  "[--max-mb N] [--resume|--new]",
                  {"types", "preset", "min-mb", "max-mb"},
                  runScan});

}  // namespace
}  // namespace hx::cli
