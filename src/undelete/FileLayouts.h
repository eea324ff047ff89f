#pragma once
// One deleted file's layouts on a volume of numbered clusters (FAT, exFAT):
// the walks that lay it out around the live files and the runs that other
// deleted files claim, and the checks by its own structure that choose among
// them. The planner of a whole listing (DeletedRuns) runs them file by file.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "filesystems/ClusterWalk.h"
#include "filesystems/UndeleteEntry.h"
#include "undelete/ClusterLists.h"

namespace hx::undelete {

// Claims met on the way whose skip is tried both ways: 16 candidate layouts at most.
constexpr int kClaimChoices = 4;
// Files above this are not read whole for a check.
constexpr std::uint64_t kMaxCheckBytes = 256ull << 20;
// Bytes read for checks in one listing at most.
constexpr std::uint64_t kCheckBudget = 2ull << 30;

// The clusters from a deleted file's first one that its plain walk takes.
struct Claim {
    std::uint32_t first = 0;
    std::uint32_t last = 0;  // inclusive
    std::size_t owner = 0;   // entry index
};

class Planner {
public:
    Planner(const filesystems::ClusterView& view, std::vector<Claim> claims, std::unordered_set<std::uint32_t> owned = {})
        : v_(view), claims_(std::move(claims)), owned_(std::move(owned)) {
        std::sort(claims_.begin(), claims_.end(), [](const Claim& a, const Claim& b) { return a.first < b.first; });
        // A run cannot hold another file's start: a plain walk that reaches one
        // was of a file in pieces, and claims no further than that.
        for (std::size_t k = 0; k < claims_.size(); ++k) {
            std::size_t n = k + 1;
            while (n < claims_.size() && claims_[n].first == claims_[k].first) ++n;
            if (n < claims_.size()) claims_[k].last = std::min(claims_[k].last, claims_[n].first - 1);
        }
    }

    std::uint64_t need(std::uint64_t size) const { return (size + v_.bytesPerCluster - 1) / v_.bytesPerCluster; }

    // Clusters that a confirmed file was shown to hold.
    void own(const ClusterList& list) { owned_.insert(list.begin(), list.end()); }
    bool owned(std::uint32_t c) const { return owned_.count(c) != 0; }
    const std::unordered_set<std::uint32_t>& ownedClusters() const { return owned_; }
    bool available(std::uint32_t c) const { return !v_.inUse(c) && owned_.count(c) == 0; }

    // Every available cluster from `first` on, whoever else claims it: the
    // layout of a file written into the free space as it was, around the
    // files that live now.
    ClusterList walkFree(std::uint32_t first, std::uint64_t count) const {
        ClusterList out;
        for (std::uint32_t c = first; v_.valid(c) && out.size() < count; ++c)
            if (c == first || available(c)) out.push_back(c);
        return out;
    }

    // From `first` on, the available clusters; the run another deleted file
    // claims is skipped unless bit k of `keep` says to take the k-th claim met.
    // The claims met are appended to `met`.
    // Clusters of the claim that starts at `ignore` are taken as any others.
    // The claims that start at one of `lenient` are of files in this one's
    // shadow (its plain run reaches their start): their runs are taken but
    // for their first clusters unless bit k says otherwise.
    ClusterList walk(std::uint32_t first, std::uint64_t count, unsigned keep, std::vector<Claim>* met = nullptr,
                     std::uint32_t ignore = 0, const std::vector<std::uint32_t>& lenient = {}) const {
        ClusterList out;
        std::vector<std::uint32_t> taken;  // claims whose clusters are taken after all
        int claimsMet = 0;
        for (std::uint32_t c = first; v_.valid(c) && out.size() < count; ++c) {
            // The first cluster is the file's own even when a confirmed file
            // holds it now: then it was overwritten, and is found so later.
            if (c != first && !available(c)) continue;
            if (c != first) {
                if (const Claim* claim = claimAt(c, first, ignore);
                    claim && std::find(taken.begin(), taken.end(), claim->first) == taken.end()) {
                    const bool flip = claimsMet < kClaimChoices && (keep & (1u << claimsMet)) != 0;
                    const bool shadowed = std::find(lenient.begin(), lenient.end(), claim->first) != lenient.end();
                    ++claimsMet;
                    if (met) met->push_back(*claim);
                    if (shadowed == flip) {
                        c = claim->last;  // the loop steps past it
                        continue;
                    }
                    taken.push_back(claim->first);
                    if (shadowed && c == claim->first) continue;  // another file's start is never this one's
                }
            }
            out.push_back(c);
        }
        return out;
    }

    // Two pieces: every available cluster from `first` up to `cut`, then the
    // plain walk from `resume` on (inside the claim that starts at `cut`).
    ClusterList walkTwo(std::uint32_t first, std::uint64_t count, std::uint32_t cut, std::uint32_t resume) const {
        ClusterList out;
        for (std::uint32_t c = first; c < cut && v_.valid(c) && out.size() < count; ++c)
            if (c == first || available(c)) out.push_back(c);
        if (out.size() < count) {
            const ClusterList rest = walk(resume, count - out.size(), 0, nullptr, cut);
            out.insert(out.end(), rest.begin(), rest.end());
        }
        return out;
    }

    // Another deleted file starts at `c`.
    bool isStart(std::uint32_t c) const {
        return std::binary_search(claims_.begin(), claims_.end(), Claim{c, c, 0},
                                  [](const Claim& a, const Claim& b) { return a.first < b.first; });
    }

    // A file laid out whole before others of its group: from `first` on,
    // the available clusters that `taken` does not hold, around every claim
    // (the files of the group are claims of their first cluster alone).
    ClusterList walkAround(std::uint32_t first, std::uint64_t count, const std::unordered_set<std::uint32_t>& taken) const {
        ClusterList out;
        for (std::uint32_t c = first; v_.valid(c) && out.size() < count; ++c) {
            if (c != first && (!available(c) || taken.count(c))) continue;
            if (const Claim* claim = c != first ? claimAt(c, first, 0) : nullptr) {
                c = claim->last;
                continue;
            }
            out.push_back(c);
        }
        return out;
    }

private:
    // A run of another file (one starting elsewhere than `own` and `ignore`) that holds `c`.
    const Claim* claimAt(std::uint32_t c, std::uint32_t own, std::uint32_t ignore) const {
        auto it = std::upper_bound(claims_.begin(), claims_.end(), c,
                                   [](std::uint32_t x, const Claim& k) { return x < k.first; });
        // Overlapping claims are rare: a few steps back find any that holds c.
        for (int steps = 0; it != claims_.begin() && steps < 16; ++steps) {
            --it;
            if (it->first != own && it->first != ignore && it->first <= c && c <= it->last) return &*it;
        }
        return nullptr;
    }

    const filesystems::ClusterView& v_;
    std::vector<Claim> claims_;
    std::unordered_set<std::uint32_t> owned_;
};

bool Consecutive(const ClusterList& list);

// `a` was written whole before `b` was begun, by their entries' times (two
// seconds apart at least, FAT's step): `b` cannot have been written in turns
// with it, and went around it.
bool WrittenBefore(const filesystems::UndeleteEntry& a, const filesystems::UndeleteEntry& b);

struct Plan {
    ClusterList clusters;
    bool rebuilt = false;
    bool confirmed = false;
    bool doubtful = false;
    bool checkable = true;  // the file has a structure a layout can be checked by
};

// What the content checks of one listing may still spend.
struct CheckAllowance {
    std::uint64_t bytes = kCheckBudget;
    std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max();
    bool cut = false;
    bool spend(std::uint64_t size);
};

// One file's clusters. A doubtful layout is checked by the file's structure:
// the plain walk first, then the layouts the claims met allow, then second
// pieces that start inside a claim (its file was shorter than its claim).
// A checksum or a decode confirms a layout; a structure that only says where
// its parts lie picks the layout but confirms nothing. `lenient` are the
// first clusters of the files in this one's shadow; with `checked` false the
// checks are left out (they were made before, against fewer claims).
Plan PlanOne(const filesystems::ClusterView& view, const Planner& planner, const filesystems::UndeleteEntry& e, bool doubtful,
             bool knownContiguous, const std::vector<std::uint32_t>& lenient, CheckAllowance& allowance, bool checked = true);

}  // namespace hx::undelete
