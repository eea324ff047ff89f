#pragma once
// Checks the scan command makes before a scan: is there room in the cache for
// what the scan may find, and which types listed on the medium were not chosen.
#include <string>
#include <vector>

#include "media/ListedNames.h"
#include "shell/Ui.h"

namespace hx::scan {

struct CacheSpace {
    bool ok = true;         // the answer when no question is asked
    std::string message;    // the question's text; empty when none is needed
    double budgetMB = 0;    // what the found files may take
};

// The cache's free megabytes (0: unknown) against what a scan of the drive may
// recover (the drive's free megabytes); `mediumMB` stands in for an unknown
// cache space, and a swap space below 2000 MB is what is kept free instead of
// 2000 MB. `cacheName` names the cache's drive in the text.
CacheSpace CheckCacheSpace(double cacheFreeMB, double recoverableMB, double mediumMB, double swapMB,
                           const std::string& cacheName);
// Asks the question of `space` (OK/Cancel, title "Checks") unless unattended; true to go on.
bool ConfirmCacheSpace(shell::Ui& ui, const CacheSpace& space, bool unattended);

// The types (".nef") of files listed on the medium that `selectedTypes` (".jpg.cr2") lacks, in listing order.
std::vector<std::string> UnchosenListedTypes(const ListedNames& listed, const std::string& selectedTypes);

}  // namespace hx::scan
