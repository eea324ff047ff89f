#include "scan/ScanChecks.h"

#include <cmath>
#include <cstdio>

#include "shell/Strings.h"
#include "shell/Text.h"

namespace hx::scan {

using shell::FormatStr;
using shell::LoadStr;

namespace {

// "###,###,###": whole numbers with thousands grouped.
std::string grouped(double value) {
    const long long n = std::llround(std::max(0.0, value));
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace

CacheSpace CheckCacheSpace(double free, double recoverableMB, double mediumMB, double swapMB,
                           const std::string& cacheName) {
    CacheSpace space;
    if (free != 0) {
        if (free - 2000 >= recoverableMB) {
            space.budgetMB = free - 2000;
            return space;
        }
        space.message = FormatStr(LoadStr(1485, "There is only room for saving %0 GB."),
                                  {grouped(std::floor((free - 2048) / 1024))}) +
                        "\n" + LoadStr(1433, "Free Space:") + " " + grouped(free / 1024) + " GB.";
    } else {
        // No answer from the system: taken as room for the medium and a tenth more.
        free = 1.1 * mediumMB;
    }
    if (free < recoverableMB && free > 2000)
        space.message += (space.message.empty() ? "" : "\n") +
                         LoadStr(328, "You might be running out of disk space on the target drive") + " " +
                         shell::ToUpper(cacheName) + ".\n" +
                         LoadStr(330, "You may proceed and the program will be saving until 2 GB of free space is left.     ");
    space.budgetMB = swapMB != 0 && swapMB < 2000 ? free - swapMB : free - 2000;
    if (space.budgetMB < 0) space.ok = false;
    return space;
}

bool ConfirmCacheSpace(shell::Ui& ui, const CacheSpace& space, bool unattended) {
    if (space.message.empty() || unattended) return space.ok;
    return ui.message(space.message, LoadStr(331, "Checks") + "  " + LoadStr(31, "Harvestrix"),
                      {shell::Buttons::OKCancel, shell::Icon::Information}) == shell::Answer::OK;
}

std::vector<std::string> UnchosenListedTypes(const ListedNames& listed, const std::string& selectedTypes) {
    std::vector<std::string> out;
    const std::string chosen = shell::ToLower(selectedTypes) + ".";
    for (const auto& entry : listed) {
        const auto dot = entry.name.rfind('.');
        if (dot == std::string::npos || entry.name.size() - dot > 6) continue;
        const std::string ext = shell::ToLower(entry.name.substr(dot));
        if (ext.size() < 2 || ext.find_first_of(" /\\") != std::string::npos) continue;
        if (chosen.find(ext + ".") != std::string::npos) continue;
        bool seen = false;
        for (const auto& e : out) seen = seen || e == ext;
        if (!seen) out.push_back(ext);
    }
    return out;
}

}  // namespace hx::scan
