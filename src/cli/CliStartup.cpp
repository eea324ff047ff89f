#include "cli/CliStartup.h"

#include <cstdlib>

#include <iostream>

#include "platform/DriveCatalogue.h"
#include "shell/Strings.h"

namespace hx::cli {

bool PrepareCliSession(CliArgs& args, const std::vector<std::string>& attaches) {
    if (args.has("lang")) shell::SetCurrentLanguage(std::atoi(args.get("lang").c_str()));
    for (const auto& spec : attaches) {
        if (!platform::AttachImage(spec)) {
            std::cerr << "harvestrix-cli: cannot attach '" << spec << "': the image file does not exist.\n";
            return false;
        }
    }
    return true;
}

void FinishCliSession(CliArgs&) {}

}  // namespace hx::cli
