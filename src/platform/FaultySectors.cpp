#include "platform/FaultySectors.h"

#include <csignal>
#include <signal.h>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

namespace hx::platform {

namespace {

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;  // first and last sector
constexpr std::uint64_t kEndsProcess = 1ull << 63;  // marks a range whose read ends the process

// Parsed once from the environment; never changed afterwards.
const std::map<std::string, Ranges>& faults() {
    static const std::map<std::string, Ranges> table = [] {
        std::map<std::string, Ranges> t;
        const char* spec = std::getenv("HARVESTRIX_FAULTY_SECTORS");
        if (!spec) return t;
        std::istringstream files(spec);
        for (std::string one; std::getline(files, one, ';');) {
            const auto colon = one.rfind(':');
            if (colon == std::string::npos) continue;
            std::error_code ec;
            const std::string file = std::filesystem::absolute(one.substr(0, colon), ec).lexically_normal().string();
            std::istringstream ranges(one.substr(colon + 1));
            for (std::string r; std::getline(ranges, r, ',');) {
                const bool ends = !r.empty() && r[0] == '!';
                if (ends) r.erase(0, 1);
                const auto dash = r.find('-');
                const std::uint64_t first = std::strtoull(r.c_str(), nullptr, 10);
                const std::uint64_t last = dash == std::string::npos ? first : std::strtoull(r.c_str() + dash + 1, nullptr, 10);
                if (last >= first && last < kEndsProcess) t[file].emplace_back(first | (ends ? kEndsProcess : 0), last);
            }
        }
        return t;
    }();
    return table;
}

}  // namespace

std::size_t ReadableBefore(const std::filesystem::path& path, std::uint64_t offset, std::size_t count) {
    const auto& table = faults();
    if (table.empty() || count == 0) return count;
    std::error_code ec;
    const auto it = table.find(std::filesystem::absolute(path, ec).lexically_normal().string());
    if (it == table.end()) return count;
    const std::uint64_t end = offset + count;
    std::uint64_t allowed = end;
    for (const auto& [marked, last] : it->second) {
        const std::uint64_t first = marked & ~kEndsProcess;
        const std::uint64_t from = first * 512, to = (last + 1) * 512;
        if (from >= end || to <= offset) continue;
        // As the system ends a program that touches a dying card's sector:
        // no handlers, no flushing, nothing written after.
        if (marked & kEndsProcess) ::kill(::getpid(), SIGKILL);
        allowed = std::min(allowed, std::max(from, offset));
    }
    return static_cast<std::size_t>(allowed - offset);
}

}  // namespace hx::platform
