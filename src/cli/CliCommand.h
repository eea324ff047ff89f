#pragma once
// Subcommands of harvestrix-cli. Each lives in its own Cmd*.cpp and registers
// itself with a static CliRegistrar; the front end parses the common options.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "shell/Ui.h"

namespace hx::cli {

struct CliArgs {
    std::string command;
    std::vector<std::string> positional;        // after the subcommand
    std::map<std::string, std::string> options; // --name value or --name (value "")
    bool json = false;
    bool yes = false;
    shell::Ui* ui = nullptr;

    bool has(const std::string& name) const { return options.count(name) != 0; }
    std::string get(const std::string& name, const std::string& fallback = {}) const {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
};

using CliHandler = std::function<int(CliArgs&)>;

struct CliCommandInfo {
    std::string name;
    std::string usage;
    // Options that take a value; every other --option is a flag.
    std::vector<std::string> valueOptions;
    CliHandler handler;
};

std::map<std::string, CliCommandInfo>& CliCommands();

struct CliRegistrar {
    explicit CliRegistrar(CliCommandInfo info) { CliCommands()[info.name] = std::move(info); }
};

// Prints JSON-escaped text (without the quotes).
std::string JsonEscape(const std::string& text);

}  // namespace hx::cli
