// harvestrix-cli search: the file search of "Find File(s)..." on the chosen drives.
#include <iostream>

#include "cli/CliCommand.h"
#include "shell/Strings.h"
#include "utilities/FileSearch.h"

namespace hx::cli {
namespace {

int runSearch(CliArgs& args) {
    if (args.positional.size() != 1) {
        std::cerr << "usage: harvestrix-cli search SPEC [--drives LIST]\n";
        return 2;
    }
    const std::string spec = args.positional[0];
    const utilities::SearchResult r = utilities::Zoekfiles(spec, args.get("drives"), *args.ui);
    if (args.json) {
        std::cout << "{\"spec\":\"" << JsonEscape(spec) << "\",\"count\":" << r.lines.size()
                  << ",\"stopped\":" << (r.stopped ? "true" : "false") << ",\"files\":[";
        for (std::size_t i = 0; i < r.lines.size(); ++i)
            std::cout << (i ? "," : "") << "\"" << JsonEscape(r.lines[i]) << "\"";
        std::cout << "]}\n";
    } else {
        for (const auto& line : r.lines) std::cout << line << "\n";
        std::cout << r.lines.size() << shell::LoadStr(0, " files found matching ") << "\"" << spec << "\"\n";
    }
    return 0;
}

CliRegistrar reg({"search", "search SPEC [--drives LIST]              files matching SPEC on the drives (all: none given)",
                  {"drives"}, runSearch});

}  // namespace
}  // namespace hx::cli
