#include "undelete/DeletedRuns.h"

#include <algorithm>
#include <chrono>
#include <numeric>
#include <tuple>
#include <unordered_set>

#include "formats/FileStructure.h"
#include "undelete/FileLayouts.h"

namespace hx::undelete {

using filesystems::UndeleteEntry;

namespace {

// Files after one in pieces that are held in its shadow, at most.
constexpr std::size_t kMaxShadowed = 256;
// Files of one group in doubt whose every order is tried (6! = 720 layouts).
constexpr std::size_t kMostOrdered = 6;

bool plannable(const filesystems::ClusterView& v, const UndeleteEntry& e) {
    return e.isDeleted() && !e.isFolder() && !e.ResidentData && e.Size > 0 && v.valid(e.FirstCluster) &&
           !v.inUse(e.FirstCluster);
}

// What the steps of one listing's plan share.
struct Listing {
    Listing(const filesystems::ClusterView& v, std::vector<UndeleteEntry>& e, std::function<bool(const UndeleteEntry&)> c)
        : view(v), entries(e), contiguous(std::move(c)) {}
    const filesystems::ClusterView& view;
    std::vector<UndeleteEntry>& entries;
    std::function<bool(const UndeleteEntry&)> contiguous;
    std::vector<std::size_t> planned;           // one index per file, in the order they are planned
    std::map<std::size_t, std::size_t> sameAs;  // a repeated entry -> the one planned
    std::map<std::uint32_t, int> starts;        // files per first cluster
    std::vector<Claim> claims;
    std::multimap<std::size_t, std::size_t> shadowedBy;  // entry -> a file in pieces that may reach into it
    std::map<std::size_t, std::vector<std::uint32_t>> casts;  // entry -> the first clusters of the files in its shadow
    std::map<std::size_t, ClusterList> plans;
    std::unordered_set<std::size_t> tried;      // checked against the live files alone
    std::unordered_set<std::size_t> voided;     // overwritten: a proven file holds the first cluster
    std::map<std::size_t, ClusterList> settled;  // laid out with their group, having nothing to check
    CheckAllowance allowance;

    bool knownContiguous(std::size_t i) const { return contiguous && contiguous(entries[i]); }
    const std::vector<std::uint32_t>& castBy(std::size_t i) const {
        static const std::vector<std::uint32_t> kNone;
        const auto cast = casts.find(i);
        return cast == casts.end() ? kNone : cast->second;
    }
    bool hasStructure(std::size_t i) const {
        const auto head = ReadClusterList(view, {entries[i].FirstCluster}, 16);
        return formats::HasFileStructure(head.data(), head.size());
    }
};

// One entry, one file: an entry listed twice (a folder cluster that another
// folder took over is reached from both) is planned once and never competes
// with itself.
void takeEachFileOnce(Listing& l) {
    std::map<std::tuple<std::uint32_t, std::uint64_t, std::string, double>, std::size_t> seen;
    for (std::size_t i = 0; i < l.entries.size(); ++i) {
        const UndeleteEntry& e = l.entries[i];
        if (!plannable(l.view, e)) continue;
        const auto [it, added] = seen.emplace(std::make_tuple(e.FirstCluster, e.Size, e.FileName, e.Modified), i);
        if (added) l.planned.push_back(i);
        else l.sameAs[i] = it->second;
    }
}

// Every deleted file claims the run its plain walk takes; files that start at
// the same cluster cannot all be what lies there.
void claimPlainRuns(Listing& l) {
    const Planner plain(l.view, {});
    for (std::size_t i : l.planned) {
        ++l.starts[l.entries[i].FirstCluster];
        const ClusterList run = plain.walk(l.entries[i].FirstCluster, plain.need(l.entries[i].Size), 0);
        if (!run.empty()) l.claims.push_back({run.front(), run.back(), i});
    }
}

// A file whose plain run reaches past another one's start was written in
// pieces around it; its later pieces may lie in the runs of the files after
// it, so those are not taken on trust until its own pieces are known.
void findShadows(Listing& l) {
    auto sorted = l.claims;
    std::sort(sorted.begin(), sorted.end(), [](const Claim& a, const Claim& b) { return a.first < b.first; });
    for (std::size_t k = 0; k < sorted.size(); ++k)
        // A file in pieces reaches over a few files at most: the walk is bounded all the same.
        for (std::size_t n = k + 1; n < sorted.size() && n <= k + kMaxShadowed && sorted[n].first <= sorted[k].last; ++n)
            if (sorted[n].first != sorted[k].first && !WrittenBefore(l.entries[sorted[n].owner], l.entries[sorted[k].owner]))
                l.shadowedBy.emplace(sorted[n].owner, sorted[k].owner);
    for (const auto& [shadowed, caster] : l.shadowedBy) l.casts[caster].push_back(l.entries[shadowed].FirstCluster);
}

// Files out of any shadow first, those in one after; within each, the files
// that need fewest clusters first, then by their first cluster: a short file
// written in turns with a longer one took its clusters first.
void orderForPlanning(Listing& l, const Planner& planner) {
    const auto key = [&](std::size_t i) {
        return std::make_tuple(l.shadowedBy.count(i) > 0, planner.need(l.entries[i].Size), l.entries[i].FirstCluster);
    };
    std::stable_sort(l.planned.begin(), l.planned.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
}

// Proofs before claims: every file in doubt whose own structure can confirm a
// layout is planned first, against the live files alone, and what it was
// shown to hold is no one else's (`proving` owns it).
void proveByStructure(Listing& l, Planner& proving) {
    for (std::size_t i : l.planned) {
        const UndeleteEntry& e = l.entries[i];
        if (l.knownContiguous(i) || e.Size > kMaxCheckBytes || proving.owned(e.FirstCluster)) continue;
        const std::uint64_t need = proving.need(e.Size);
        const bool inDoubt = l.starts[e.FirstCluster] > 1 || l.shadowedBy.count(i) > 0 ||
                             !Consecutive(proving.walk(e.FirstCluster, need, 0)) ||
                             !Consecutive(proving.walkFree(e.FirstCluster, need));
        if (!inDoubt || !l.hasStructure(i)) continue;
        l.tried.insert(i);
        const Plan plan = PlanOne(l.view, proving, e, true, false, l.castBy(i), l.allowance);
        if (!plan.confirmed) continue;
        proving.own(plan.clusters);
        l.plans[i] = plan.clusters;
    }
}

// A file whose first cluster a proven file holds was overwritten: its claim
// is void, and it is listed so, not rebuilt.
void voidOverwritten(Listing& l, const Planner& proving) {
    for (std::size_t i : l.planned) {
        UndeleteEntry& e = l.entries[i];
        if (l.plans.count(i) || !proving.owned(e.FirstCluster)) continue;
        e.Overwritten = 1;
        e.ListSize = 0;
        l.voided.insert(i);
    }
}

// How one order of a group lays its files out, and what speaks against it.
struct GroupLayout {
    std::vector<ClusterList> lists;  // by the group's member
    std::uint64_t reach = ~0ull;     // clusters reached over by the files' breaks, plus a penalty for any left short
    std::size_t againstTimes = 0;    // files laid out before one that was written whole before they began
};

// Files in doubt with nothing in them to check a layout by, that shadow one
// another: each order of the group lays them out whole one after the other,
// each around what those before it took and the runs that others claim. The
// layout whose files reach least far over other files' clusters is taken (two
// files written in turns each reach over the other's clusters; a file laid
// out over one that lay between its pieces reaches over that one's clusters,
// and the other then reaches over its own); the entries' times choose among
// equals, then the plain order of planning.
GroupLayout layOutGroup(const Listing& l, const Planner& planner, const std::vector<std::size_t>& members) {
    std::vector<std::size_t> order(members.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    GroupLayout best;
    do {
        GroupLayout layout;
        layout.lists.resize(members.size());
        layout.reach = 0;
        std::unordered_set<std::uint32_t> taken;
        for (std::size_t k = 0; k < order.size(); ++k) {
            const UndeleteEntry& e = l.entries[members[order[k]]];
            const std::uint64_t need = planner.need(e.Size);
            ClusterList list = planner.walkAround(e.FirstCluster, need, taken);
            if (!list.empty()) layout.reach += list.back() - list.front() + 1 - list.size();
            layout.reach += (need - list.size()) * need;  // the volume ended first
            taken.insert(list.begin(), list.end());
            for (std::size_t before = 0; before < k; ++before)
                layout.againstTimes += WrittenBefore(e, l.entries[members[order[before]]]);
            layout.lists[order[k]] = std::move(list);
        }
        if (std::tie(layout.reach, layout.againstTimes) < std::tie(best.reach, best.againstTimes)) best = std::move(layout);
    } while (members.size() <= kMostOrdered && std::next_permutation(order.begin(), order.end()));
    return best;
}

// Groups of files in doubt that shadow one another and have nothing to check
// a layout by are laid out together (layOutGroup), against the claims that
// stand and what the proofs gave.
void settleUncheckable(Listing& l, const Planner& proving, const std::vector<Claim>& standing) {
    std::unordered_set<std::size_t> open;
    for (std::size_t i : l.planned)
        if (!l.plans.count(i) && !l.voided.count(i) && !l.knownContiguous(i) && l.entries[i].Size <= kMaxCheckBytes &&
            (l.shadowedBy.count(i) || l.casts.count(i)) && !l.hasStructure(i))
            open.insert(i);
    std::map<std::size_t, std::vector<std::size_t>> linked;
    for (const auto& [shadowed, caster] : l.shadowedBy)
        if (open.count(shadowed) && open.count(caster)) {
            linked[shadowed].push_back(caster);
            linked[caster].push_back(shadowed);
        }
    std::map<std::size_t, std::size_t> position;
    for (std::size_t k = 0; k < l.planned.size(); ++k) position[l.planned[k]] = k;
    std::unordered_set<std::size_t> seen;
    for (std::size_t i : l.planned) {  // in the order of planning, which orders each group's first layout
        if (!linked.count(i) || seen.count(i)) continue;
        std::vector<std::size_t> group{i};
        seen.insert(i);
        for (std::size_t k = 0; k < group.size(); ++k)
            for (std::size_t n : linked[group[k]])
                if (seen.insert(n).second) group.push_back(n);
        std::sort(group.begin(), group.end(), [&](std::size_t a, std::size_t b) { return position[a] < position[b]; });
        // The group's files are claims of their first cluster alone.
        std::vector<Claim> around;
        for (const Claim& c : standing)
            if (!std::count(group.begin(), group.end(), c.owner)) around.push_back(c);
        for (std::size_t m : group) around.push_back({l.entries[m].FirstCluster, l.entries[m].FirstCluster, m});
        const Planner groupPlanner(l.view, std::move(around), proving.ownedClusters());
        GroupLayout layout = layOutGroup(l, groupPlanner, group);
        for (std::size_t k = 0; k < group.size(); ++k) l.settled[group[k]] = std::move(layout.lists[k]);
    }
}

// Sets an entry's size and marks by its plan.
void markPlanned(UndeleteEntry& e, const Plan& plan, std::uint64_t bytesPerCluster) {
    using namespace filesystems;
    e.ListSize = std::min<std::uint64_t>(e.Size, plan.clusters.size() * bytesPerCluster);
    if (plan.rebuilt) e.Attributes |= kAttrRebuilt;
    if (plan.confirmed) e.Attributes |= kAttrConfirmed;
    else if (plan.doubtful) e.Attributes |= kAttrPartial;
    if (plan.rebuilt && !plan.checkable && (e.Attributes & kAttrPartial) && e.ListSize >= e.Size)
        e.Attributes |= kAttrUnverified;
}

// The rest by the claims that stand, in the order of planning.
void planByClaims(Listing& l, Planner& planner) {
    std::unordered_set<std::size_t> confirmed;
    for (const auto& [i, list] : l.plans) confirmed.insert(i);
    for (std::size_t i : l.planned) {
        UndeleteEntry& e = l.entries[i];
        Plan plan;
        if (l.voided.count(i)) continue;
        if (confirmed.count(i)) {
            plan.clusters = l.plans[i];
            plan.confirmed = true;
            plan.rebuilt = !Consecutive(plan.clusters);
        } else if (const auto settled = l.settled.find(i); settled != l.settled.end()) {
            plan.clusters = settled->second;
            plan.rebuilt = !Consecutive(plan.clusters);
            plan.doubtful = plan.rebuilt;
            plan.checkable = false;
        } else {
            bool lifted = true;
            for (auto [it, end] = l.shadowedBy.equal_range(i); it != end; ++it) lifted = lifted && confirmed.count(it->second);
            plan = PlanOne(l.view, planner, e, l.starts[e.FirstCluster] > 1 || !lifted, l.knownContiguous(i), l.castBy(i),
                           l.allowance, l.tried.count(i) == 0);
            if (plan.confirmed) {
                confirmed.insert(i);
                planner.own(plan.clusters);
            }
        }
        markPlanned(e, plan, l.view.bytesPerCluster);
        // What a file took by its claims with nothing to check them by is no later file's.
        if (!plan.confirmed && !plan.checkable) planner.own(plan.clusters);
        l.plans[i] = plan.clusters;
    }
}

// Clusters that a confirmed file was shown to hold are no other file's: a
// file planned over them is partial, and never offered as unverified.
void markOverConfirmed(Listing& l) {
    using namespace filesystems;
    std::map<std::uint32_t, std::size_t> confirmedOwner;
    for (const auto& [i, list] : l.plans)
        if (l.entries[i].Attributes & kAttrConfirmed)
            for (std::uint32_t c : list) confirmedOwner.emplace(c, i);
    for (const auto& [i, list] : l.plans) {
        UndeleteEntry& e = l.entries[i];
        if (e.Attributes & kAttrConfirmed) continue;
        for (std::uint32_t c : list) {
            auto owner = confirmedOwner.find(c);
            if (owner != confirmedOwner.end() && owner->second != i) {
                e.Attributes |= kAttrPartial;
                e.Attributes &= ~kAttrUnverified;
                break;
            }
        }
    }
}

// The entries listed again share their plan.
void shareWithRepeats(Listing& l) {
    using namespace filesystems;
    for (const auto& [i, same] : l.sameAs) {
        UndeleteEntry& e = l.entries[i];
        const UndeleteEntry& o = l.entries[same];
        e.ListSize = o.ListSize;
        e.Overwritten = o.Overwritten;
        e.Attributes |= o.Attributes & (kAttrRebuilt | kAttrConfirmed | kAttrPartial | kAttrUnverified);
        if (auto plan = l.plans.find(same); plan != l.plans.end()) l.plans[i] = plan->second;
    }
}

}  // namespace

std::map<std::size_t, ClusterList> PlanDeletedFiles(const filesystems::ClusterView& view, std::vector<UndeleteEntry>& entries,
                                                    const std::function<bool(const UndeleteEntry&)>& contiguous,
                                                    double checkSeconds, bool* checksCut) {
    using namespace filesystems;
    if (view.bytesPerCluster == 0) return {};
    for (auto& e : entries) e.Attributes &= ~(kAttrRebuilt | kAttrConfirmed | kAttrPartial | kAttrUnverified);
    Listing l(view, entries, contiguous);
    if (checkSeconds > 0)
        l.allowance.until = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                                   std::chrono::duration<double>(checkSeconds));
    takeEachFileOnce(l);
    claimPlainRuns(l);
    findShadows(l);
    Planner proving(view, l.claims);
    orderForPlanning(l, proving);
    proveByStructure(l, proving);
    voidOverwritten(l, proving);
    std::vector<Claim> standing;
    for (const Claim& c : l.claims)
        if (!l.plans.count(c.owner) && !l.voided.count(c.owner)) standing.push_back(c);
    settleUncheckable(l, proving, standing);
    Planner planner(view, std::move(standing), proving.ownedClusters());
    planByClaims(l, planner);
    markOverConfirmed(l);
    shareWithRepeats(l);
    if (checksCut) *checksCut = l.allowance.cut;
    return std::move(l.plans);
}

}  // namespace hx::undelete
