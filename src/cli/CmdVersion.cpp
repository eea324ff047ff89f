#include <iostream>

#include "cli/CliCommand.h"

namespace hx::cli {
namespace {
int runVersion(CliArgs& args) {
    if (args.json) std::cout << "{\"version\":\"" << HX_VERSION << "\"}\n";
    else std::cout << "Harvestrix " << HX_VERSION << "\n";
    return 0;
}
CliRegistrar reg({"version", "version                          the program's version", {}, runVersion});
}  // namespace
}  // namespace hx::cli
