// harvestrix-cli recover: everything in one step (undelete, carving of the
// free space, optionally the live files), each content once, with a report.
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/CliCommand.h"
#include "cli/CliDrive.h"
#include "output/RecoverAll.h"
#include "scan/ScanState.h"

namespace hx::cli {
namespace {

namespace fs = std::filesystem;

int runRecover(CliArgs& args) {
    if (args.positional.size() != 1 || !args.has("to") || args.get("to").empty()) {
        std::cerr << "usage: harvestrix-cli recover SOURCE --to DIR [--types LIST] [--include-present] [--layout date|found] [--json]\n";
        return 2;
    }
    output::RecoverRequest req;
    req.source = args.positional[0];
    if (const int refused = CliRefusedSource(args, req.source)) return refused;
    req.target = fs::absolute(args.get("to"));
    req.includePresent = args.has("include-present");
    if (args.has("layout")) {
        const std::string layout = args.get("layout");
        if (layout != "date" && layout != "found") {
            std::cerr << "harvestrix-cli: --layout is date (by capture date, the default) or found (where each was found)\n";
            return 2;
        }
        req.layout = layout == "found" ? output::RecoverRequest::Layout::Found : output::RecoverRequest::Layout::Date;
    }
    if (args.has("types")) {
        std::vector<std::string> types;
        std::stringstream in(args.get("types"));
        for (std::string t; std::getline(in, t, ',');)
            if (!t.empty()) types.push_back(t);
        req.selection = scan::SelectionForTypes(types);
    }
    output::RecoverCommand command(*args.ui, req);
    const auto report = command.run();
    if (!report) return 1;
    const bool written = output::WriteRecoverReport(*report, req.target);
    if (args.json) {
        std::ifstream in(req.target / "report.json");
        std::cout << in.rdbuf();
    } else {
        int undeleted = 0, carved = 0, copied = 0;
        for (const auto& f : report->files)
            (f.origin == "undeleted" ? undeleted : f.origin == "carved" ? carved : copied)++;
        std::cout << undeleted << " undeleted, " << carved << " carved, " << copied << " copied, "
                  << report->duplicates << " duplicates dropped, " << report->notRecovered.size()
                  << " not recovered\n";
        for (const auto& note : report->notes) std::cout << note << "\n";
        std::cout << "Report: " << (req.target / "report.html").string() << "\n";
    }
    return written && !report->stopped ? 0 : 1;
}

CliRegistrar reg({"recover",
                  "recover SOURCE --to DIR [--types LIST] [--include-present] [--layout date|found]  everything in one step, with a report",
                  {"to", "types", "layout"}, runRecover});

}  // namespace
}  // namespace hx::cli
