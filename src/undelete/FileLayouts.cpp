#include "undelete/FileLayouts.h"

#include "formats/FileStructure.h"

namespace hx::undelete {

namespace {
// Where a claim is only partly another file's: second pieces tried after each claim met.
constexpr std::uint32_t kMaxShifts = 64;

// How many of a file's first bytes two layouts of it hold alike: those of the clusters they share from the start.
std::size_t sharedBytes(const ClusterList& a, const ClusterList& b, std::uint64_t bytesPerCluster, std::uint64_t size) {
    std::size_t k = 0;
    while (k < a.size() && k < b.size() && a[k] == b[k]) ++k;
    return static_cast<std::size_t>(std::min<std::uint64_t>(k * bytesPerCluster, size));
}
}  // namespace

bool Consecutive(const ClusterList& list) {
    for (std::size_t i = 1; i < list.size(); ++i)
        if (list[i] != list[i - 1] + 1) return false;
    return true;
}

bool WrittenBefore(const filesystems::UndeleteEntry& a, const filesystems::UndeleteEntry& b) {
    constexpr double kStep = 2.0 / 86400;  // the times are in days
    return a.Modified > 0 && b.Created > 0 && a.Modified + kStep < b.Created;
}

bool CheckAllowance::spend(std::uint64_t size) {
    if (!cut && until != std::chrono::steady_clock::time_point::max() && std::chrono::steady_clock::now() > until) cut = true;
    if (cut || bytes < size) return false;
    bytes -= size;
    return true;
}

Plan PlanOne(const filesystems::ClusterView& view, const Planner& planner, const filesystems::UndeleteEntry& e, bool doubtful,
             bool knownContiguous, const std::vector<std::uint32_t>& lenient, CheckAllowance& allowance, bool checked) {
    Plan plan;
    plan.doubtful = doubtful;
    const std::uint64_t need = planner.need(e.Size);
    std::vector<Claim> met;
    ClusterList strict;  // the walk that skips every claim, when it is not the plan's
    if (knownContiguous) {
        // Known to be one run: a cluster of it that is taken was overwritten.
        for (std::uint64_t k = 0; k < need && view.valid(static_cast<std::uint32_t>(e.FirstCluster + k)); ++k) {
            const auto c = static_cast<std::uint32_t>(e.FirstCluster + k);
            if (!planner.available(c)) {
                plan.doubtful = true;
                break;
            }
            plan.clusters.push_back(c);
        }
    } else {
        // Files in its shadow were written in turns with it, or into the
        // hole it left: by their claims the first, and a check decides.
        plan.clusters = planner.walk(e.FirstCluster, need, 0, lenient.empty() ? &met : nullptr, 0, lenient);
        if (!lenient.empty()) strict = planner.walk(e.FirstCluster, need, 0, &met);
        plan.rebuilt = !Consecutive(plan.clusters);
        plan.doubtful = plan.doubtful || plan.rebuilt;
    }
    if (!plan.doubtful || e.Size > kMaxCheckBytes || !checked) return plan;

    ClusterList laidOut;
    bool structured = true;
    formats::CandidateStructures structures;
    ClusterList lastRead;  // the layout the structures read last
    auto check = [&](ClusterList candidate, bool first) {
        if (candidate.size() < need || !allowance.spend(e.Size)) return false;
        // A layout that parts from the last one read only after where that
        // one's decode failed fails there too: it is not read at all.
        if (!first && structures.failsWithin(sharedBytes(lastRead, candidate, view.bytesPerCluster, e.Size))) return false;
        auto bytes = ReadClusterList(view, candidate, e.Size);
        if (first && !formats::HasFileStructure(bytes.data(), bytes.size())) structured = false;
        if (!structured || bytes.size() != e.Size) return false;
        lastRead = candidate;
        const formats::FileStructure found = structures.read(std::move(bytes));
        // A structure that ends clusters before the file does leaves the
        // clusters after it unchecked: they could be anyone's.
        if (planner.need(found.end) != need) return false;
        if (found.proof == formats::Proof::Content) {
            plan.clusters = std::move(candidate);
            plan.confirmed = true;
        } else if (found.proof == formats::Proof::Layout && laidOut.empty()) {
            laidOut = std::move(candidate);
        }
        return plan.confirmed;
    };
    const unsigned layouts = knownContiguous ? 1u : 1u << std::min<std::size_t>(met.size(), kClaimChoices);
    check(plan.clusters, true);
    // The free space as it lies now, skipping only what lives or was proven.
    if (!knownContiguous && structured && !plan.confirmed)
        if (ClusterList free = planner.walkFree(e.FirstCluster, need); free != plan.clusters) check(std::move(free), false);
    for (unsigned keep = 0; keep < layouts && structured && !plan.confirmed; ++keep)
        if (keep > 0 || (!strict.empty() && strict != plan.clusters))
            check(keep == 0 ? strict : planner.walk(e.FirstCluster, need, keep), false);
    for (std::size_t m = 0; m < met.size() && m < kClaimChoices && structured && !plan.confirmed; ++m) {
        const std::uint32_t cut = met[m].first;
        for (std::uint32_t resume = cut + 1; resume <= met[m].last + 1 && resume - cut <= kMaxShifts; ++resume) {
            if (!view.valid(resume) || !planner.available(resume) || planner.isStart(resume)) continue;
            if (check(planner.walkTwo(e.FirstCluster, need, cut, resume), false)) break;
        }
    }
    if (!plan.confirmed && !laidOut.empty()) plan.clusters = std::move(laidOut);
    if (!knownContiguous) plan.rebuilt = !Consecutive(plan.clusters);
    plan.checkable = structured;
    return plan;
}

}  // namespace hx::undelete
