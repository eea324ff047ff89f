#include "undelete/DeletedRuns.h"
#include "media/FileDamage.h"
#include "media/SalvagingReader.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <tuple>
#include <unordered_set>

#include "platform/RawFile.h"
#include "formats/FileStructure.h"
#include "volumes/DriveFiles.h"

namespace hx::undelete {

namespace {

// Claims met on the way whose skip is tried both ways: 16 candidate layouts at most.
constexpr int kClaimChoices = 4;
// Where a claim is only partly another file's: second pieces tried after each claim met.
constexpr std::uint32_t kMaxShifts = 64;
// Files above this are not read whole for a check.
constexpr std::uint64_t kMaxCheckBytes = 256ull << 20;
// Files after one in pieces that are held in its shadow, at most.
constexpr std::size_t kMaxShadowed = 256;
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

bool consecutive(const ClusterList& list) {
    for (std::size_t i = 1; i < list.size(); ++i)
        if (list[i] != list[i - 1] + 1) return false;
    return true;
}

// How many of a file's first bytes two layouts of it hold alike: those of the clusters they share from the start.
std::size_t sharedBytes(const ClusterList& a, const ClusterList& b, std::uint64_t bytesPerCluster, std::uint64_t size) {
    std::size_t k = 0;
    while (k < a.size() && k < b.size() && a[k] == b[k]) ++k;
    return static_cast<std::size_t>(std::min<std::uint64_t>(k * bytesPerCluster, size));
}

bool plannable(const filesystems::ClusterView& v, const filesystems::UndeleteEntry& e) {
    return e.isDeleted() && !e.isFolder() && !e.ResidentData && e.Size > 0 && v.valid(e.FirstCluster) &&
           !v.inUse(e.FirstCluster);
}

// `a` was written whole before `b` was begun, by their entries' times (two
// seconds apart at least, FAT's step): `b` cannot have been written in turns
// with it, and went around it.
bool writtenBefore(const filesystems::UndeleteEntry& a, const filesystems::UndeleteEntry& b) {
    constexpr double kStep = 2.0 / 86400;  // the times are in days
    return a.Modified > 0 && b.Created > 0 && a.Modified + kStep < b.Created;
}

struct Plan {
    ClusterList clusters;
    bool rebuilt = false;
    bool confirmed = false;
    bool doubtful = false;
    bool checkable = true;  // the file has a structure a layout can be checked by
};

// One file's clusters. A doubtful layout is checked by the file's structure:
// the plain walk first, then the layouts the claims met allow, then second
// pieces that start inside a claim (its file was shorter than its claim).
// A checksum or a decode confirms a layout; a structure that only says where
// its parts lie picks the layout but confirms nothing.
// What the content checks of one listing may still spend.
struct CheckAllowance {
    std::uint64_t bytes = kCheckBudget;
    std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max();
    bool cut = false;
    bool spend(std::uint64_t size) {
        if (!cut && until != std::chrono::steady_clock::time_point::max() && std::chrono::steady_clock::now() > until)
            cut = true;
        if (cut || bytes < size) return false;
        bytes -= size;
        return true;
    }
};

Plan planOne(const filesystems::ClusterView& view, const Planner& planner, const filesystems::UndeleteEntry& e, bool doubtful,
             bool knownContiguous, const std::vector<std::uint32_t>& lenient, CheckAllowance& allowance, bool checked = true) {
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
        plan.rebuilt = !consecutive(plan.clusters);
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
    if (!knownContiguous) plan.rebuilt = !consecutive(plan.clusters);
    plan.checkable = structured;
    return plan;
}

}  // namespace

std::vector<std::uint8_t> ReadClusterList(const filesystems::ClusterView& view, const ClusterList& clusters, std::uint64_t size) {
    std::vector<std::uint8_t> out;
    platform::RawFile file;
    const std::uint64_t bpc = view.bytesPerCluster;
    if (bpc == 0 || !volumes::OpenDrive(file, view.drive, platform::RawFile::Mode::Read)) return out;
    // The clusters that follow each other on the medium are read at once; a
    // run that cannot be read whole is read cluster by cluster, to the first
    // that fails.
    const std::uint64_t wanted = std::min<std::uint64_t>(size, clusters.size() * bpc);
    out.resize(static_cast<std::size_t>((wanted + bpc - 1) / bpc * bpc));
    std::size_t got = 0;
    for (std::size_t i = 0; i < clusters.size() && got < wanted;) {
        std::size_t run = 1;
        const std::uint64_t start = view.offset(clusters[i]);
        while (i + run < clusters.size() && got + run * bpc < wanted && clusters[i + run] == clusters[i] + run &&
               view.offset(clusters[i + run]) == start + run * bpc)
            ++run;
        const std::size_t bytes = static_cast<std::size_t>(run * bpc);
        if (file.readAt(start, out.data() + got, bytes) != bytes) {
            std::size_t k = 0;
            while (k < run && file.readAt(view.offset(clusters[i + k]), out.data() + got, bpc) == bpc) {
                got += bpc;
                ++k;
            }
            break;
        }
        got += bytes;
        i += run;
    }
    out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(got, size)));
    return out;
}

bool WriteClusterList(const filesystems::ClusterView& view, const ClusterList& clusters, std::uint64_t size,
                      const std::filesystem::path& target, media::FileDamage* damage) {
    platform::RawFile file;
    const std::uint64_t bpc = view.bytesPerCluster;
    if (bpc == 0 || !volumes::OpenDrive(file, view.drive, platform::RawFile::Mode::Read)) return false;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    // A sector that cannot be read is zeros in the restored file, not the end of it.
    media::SalvagingReader reader(file, 512);
    if (!out) return false;
    std::vector<std::uint8_t> buf(bpc);
    std::uint64_t left = size;
    for (std::uint32_t c : clusters) {
        if (left == 0) break;
        if (reader.read(view.offset(c), buf.data(), static_cast<std::size_t>(bpc)) != bpc) return false;
        const std::uint64_t n = std::min<std::uint64_t>(left, bpc);
        if (damage) damage->note(reader, view.offset(c), n, size - left);
        out.write(reinterpret_cast<const char*>(buf.data()), static_cast<std::streamsize>(n));
        left -= n;
    }
    out.close();
    return out.good();
}

std::map<std::size_t, ClusterList> PlanDeletedFiles(const filesystems::ClusterView& view, std::vector<filesystems::UndeleteEntry>& entries,
                                                    const std::function<bool(const filesystems::UndeleteEntry&)>& contiguous,
                                                    double checkSeconds, bool* checksCut) {
    using filesystems::kAttrConfirmed;
    using filesystems::kAttrPartial;
    using filesystems::kAttrRebuilt;
    using filesystems::kAttrUnverified;
    std::map<std::size_t, ClusterList> plans;
    if (view.bytesPerCluster == 0) return plans;
    for (auto& e : entries) e.Attributes &= ~(kAttrRebuilt | kAttrConfirmed | kAttrPartial | kAttrUnverified);

    // One entry, one file: an entry listed twice (a folder cluster that
    // another folder took over is reached from both) is planned once and
    // never competes with itself.
    std::vector<std::size_t> planned;
    std::map<std::size_t, std::size_t> sameAs;  // a repeated entry -> the one planned
    {
        std::map<std::tuple<std::uint32_t, std::uint64_t, std::string, double>, std::size_t> seen;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const filesystems::UndeleteEntry& e = entries[i];
            if (!plannable(view, e)) continue;
            const auto [it, added] = seen.emplace(std::make_tuple(e.FirstCluster, e.Size, e.FileName, e.Modified), i);
            if (added) planned.push_back(i);
            else sameAs[i] = it->second;
        }
    }

    // Every deleted file claims the run its plain walk takes; files that start
    // at the same cluster cannot all be what lies there.
    std::map<std::uint32_t, int> starts;
    std::vector<Claim> claims;
    {
        const Planner plain(view, {});
        for (std::size_t i : planned) {
            ++starts[entries[i].FirstCluster];
            const ClusterList run = plain.walk(entries[i].FirstCluster, plain.need(entries[i].Size), 0);
            if (!run.empty()) claims.push_back({run.front(), run.back(), i});
        }
    }
    // A file whose plain run reaches past another one's start was written in
    // pieces around it; its later pieces may lie in the runs of the files
    // after it, so those are not taken on trust until its own pieces are known.
    std::multimap<std::size_t, std::size_t> shadowedBy;  // entry -> the file in pieces that may reach into it
    {
        auto sorted = claims;
        std::sort(sorted.begin(), sorted.end(), [](const Claim& a, const Claim& b) { return a.first < b.first; });
        for (std::size_t k = 0; k < sorted.size(); ++k)
            // A file in pieces reaches over a few files at most: the walk is bounded all the same.
            for (std::size_t n = k + 1; n < sorted.size() && n <= k + kMaxShadowed && sorted[n].first <= sorted[k].last; ++n)
                if (sorted[n].first != sorted[k].first && !writtenBefore(entries[sorted[n].owner], entries[sorted[k].owner]))
                    shadowedBy.emplace(sorted[n].owner, sorted[k].owner);
    }
    // The files in each one's shadow, by their first clusters.
    std::map<std::size_t, std::vector<std::uint32_t>> casts;
    for (const auto& [shadowed, caster] : shadowedBy) casts[caster].push_back(entries[shadowed].FirstCluster);
    static const std::vector<std::uint32_t> kNone;
    const auto castBy = [&](std::size_t i) -> const std::vector<std::uint32_t>& {
        const auto cast = casts.find(i);
        return cast == casts.end() ? kNone : cast->second;
    };
    const auto knownContiguous = [&](std::size_t i) { return contiguous && contiguous(entries[i]); };

    // Files out of any shadow first, those in one after; within each, the
    // files that need fewest clusters first, then by their first cluster: a
    // short file written in turns with a longer one took its clusters first.
    Planner proving(view, claims);
    const auto key = [&](std::size_t i) {
        return std::make_tuple(shadowedBy.count(i) > 0, proving.need(entries[i].Size), entries[i].FirstCluster);
    };
    std::stable_sort(planned.begin(), planned.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
    CheckAllowance allowance;
    if (checkSeconds > 0)
        allowance.until = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(checkSeconds));

    // Proofs before claims: every file in doubt whose own structure can
    // confirm a layout is planned first, against the live files alone, and
    // what it was shown to hold is no one else's.
    std::unordered_set<std::size_t> tried;
    for (std::size_t i : planned) {
        const filesystems::UndeleteEntry& e = entries[i];
        if (knownContiguous(i) || e.Size > kMaxCheckBytes || proving.owned(e.FirstCluster)) continue;
        const std::uint64_t need = proving.need(e.Size);
        const bool inDoubt = starts[e.FirstCluster] > 1 || shadowedBy.count(i) > 0 ||
                             !consecutive(proving.walk(e.FirstCluster, need, 0)) ||
                             !consecutive(proving.walkFree(e.FirstCluster, need));
        if (!inDoubt) continue;
        const auto head = ReadClusterList(view, {e.FirstCluster}, 16);
        if (!formats::HasFileStructure(head.data(), head.size())) continue;
        tried.insert(i);
        const Plan plan = planOne(view, proving, e, true, false, castBy(i), allowance);
        if (!plan.confirmed) continue;
        proving.own(plan.clusters);
        plans[i] = plan.clusters;
    }
    // A file whose first cluster a proven file holds was overwritten: its
    // claim is void, and it is listed so, not rebuilt.
    std::unordered_set<std::size_t> voided;
    for (std::size_t i : planned) {
        filesystems::UndeleteEntry& e = entries[i];
        if (plans.count(i) || !proving.owned(e.FirstCluster)) continue;
        e.Overwritten = 1;
        e.ListSize = 0;
        voided.insert(i);
    }
    std::vector<Claim> standing;
    for (const Claim& c : claims)
        if (!plans.count(c.owner) && !voided.count(c.owner)) standing.push_back(c);

    // The rest by the claims that stand.
    Planner planner(view, std::move(standing), proving.ownedClusters());
    std::unordered_set<std::size_t> confirmed;
    for (const auto& [i, list] : plans) confirmed.insert(i);
    for (std::size_t i : planned) {
        filesystems::UndeleteEntry& e = entries[i];
        Plan plan;
        if (confirmed.count(i)) {
            plan.clusters = plans[i];
            plan.confirmed = true;
            plan.rebuilt = !consecutive(plan.clusters);
        } else if (voided.count(i)) {
            continue;
        } else {
            bool lifted = true;
            for (auto [it, end] = shadowedBy.equal_range(i); it != end; ++it)
                lifted = lifted && confirmed.count(it->second);
            plan = planOne(view, planner, e, starts[e.FirstCluster] > 1 || !lifted, knownContiguous(i), castBy(i), allowance,
                           tried.count(i) == 0);
            if (plan.confirmed) {
                confirmed.insert(i);
                planner.own(plan.clusters);
            }
        }
        e.ListSize = std::min<std::uint64_t>(e.Size, plan.clusters.size() * view.bytesPerCluster);
        if (plan.rebuilt) e.Attributes |= kAttrRebuilt;
        if (plan.confirmed) e.Attributes |= kAttrConfirmed;
        else if (plan.doubtful) e.Attributes |= kAttrPartial;
        // What a file took by its claims with nothing to check them by is no later file's.
        if (!plan.confirmed && !plan.checkable) planner.own(plan.clusters);
        if (plan.rebuilt && !plan.checkable && (e.Attributes & kAttrPartial) && e.ListSize >= e.Size)
            e.Attributes |= kAttrUnverified;
        plans[i] = plan.clusters;
    }
    // Clusters that a confirmed file was shown to hold are no other file's:
    // a file planned over them is partial, and never offered as unverified.
    std::map<std::uint32_t, std::size_t> confirmedOwner;
    for (const auto& [i, list] : plans)
        if (entries[i].Attributes & kAttrConfirmed)
            for (std::uint32_t c : list) confirmedOwner.emplace(c, i);
    for (const auto& [i, list] : plans) {
        filesystems::UndeleteEntry& e = entries[i];
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
    // The entries listed again share their plan.
    for (const auto& [i, same] : sameAs) {
        filesystems::UndeleteEntry& e = entries[i];
        const filesystems::UndeleteEntry& o = entries[same];
        e.ListSize = o.ListSize;
        e.Overwritten = o.Overwritten;
        e.Attributes |= o.Attributes & (kAttrRebuilt | kAttrConfirmed | kAttrPartial | kAttrUnverified);
        if (auto plan = plans.find(same); plan != plans.end()) plans[i] = plan->second;
    }
    if (checksCut) *checksCut = allowance.cut;
    return plans;
}

}  // namespace hx::undelete
