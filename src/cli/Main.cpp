// harvestrix-cli: the program's commands without a window.
#include <algorithm>
#include <iostream>
#include <set>

#include "cli/CliCommand.h"
#include "cli/CliStartup.h"
#include "cli/TerminalUi.h"

namespace hx::cli {

std::map<std::string, CliCommandInfo>& CliCommands() {
    static std::map<std::string, CliCommandInfo> commands;
    return commands;
}

std::string JsonEscape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

namespace {

void usage() {
    std::cout << "usage: harvestrix-cli COMMAND [ARGS] [--attach IMAGE[,removable][,label=NAME]] [--cache DIR]"
                 " [--lang ID] [--json] [--yes]\n\ncommands:\n";
    for (auto& [name, info] : CliCommands()) std::cout << "  " << info.usage << "\n";
    std::cout << "\nexit codes: 0 done, 1 nothing found or refused, 2 bad arguments, 3 the medium could not be read\n";
}

// Options every subcommand takes, with a value.
const std::set<std::string> kCommonValueOptions = {"attach", "cache", "lang"};

}  // namespace
}  // namespace hx::cli

int main(int argc, char** argvIn) {
    using namespace hx::cli;
    // Common options may come before the command ("--lang 1043 info X"):
    // move the command to the front.
    std::vector<char*> argvList(argvIn, argvIn + argc);
    for (int i = 1; i < argc; ++i) {
        std::string a = argvList[i];
        if (a.rfind("--", 0) != 0 || a == "--help" || a == "--version") {
            if (i > 1) std::rotate(argvList.begin() + 1, argvList.begin() + i, argvList.begin() + i + 1);
            break;
        }
        if (a.find('=') == std::string::npos && kCommonValueOptions.count(a.substr(2))) ++i;
    }
    char** argv = argvList.data();
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h" ||
        std::string(argv[1]) == "help") {
        usage();
        return argc < 2 ? 2 : 0;
    }
    CliArgs args;
    args.command = argv[1];
    if (args.command == "--version") args.command = "version";  // as other programs answer it
    auto it = CliCommands().find(args.command);
    if (it == CliCommands().end()) {
        std::cerr << "harvestrix-cli: unknown command '" << args.command << "'\n";
        usage();
        return 2;
    }
    const auto& info = it->second;
    std::set<std::string> valueOptions(kCommonValueOptions);
    valueOptions.insert(info.valueOptions.begin(), info.valueOptions.end());
    std::vector<std::string> attaches;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) == 0 && a.size() > 2) {
            std::string name = a.substr(2), value;
            auto eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
            } else if (valueOptions.count(name)) {
                if (i + 1 >= argc) {
                    std::cerr << "harvestrix-cli: option --" << name << " needs a value\n";
                    return 2;
                }
                value = argv[++i];
            }
            if (name == "attach") attaches.push_back(value);
            else args.options[name] = value;
        } else {
            args.positional.push_back(a);
        }
    }
    args.json = args.has("json");
    args.yes = args.has("yes");
    TerminalUi ui(args.yes);
    args.ui = &ui;
    InstallStopHandler();
    if (!PrepareCliSession(args, attaches)) return 1;
    int rc = info.handler(args);
    FinishCliSession(args);
    return rc;
}
