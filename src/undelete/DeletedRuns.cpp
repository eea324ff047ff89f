#include "undelete/DeletedRuns.h"

#include <algorithm>
#include <fstream>

#include "platform/RawFile.h"
#include "viewing/FileStructure.h"

namespace hx::undelete {

namespace {

// Claims met on the way whose skip is tried both ways: 16 candidate layouts at most.
constexpr int kClaimChoices = 4;
// Files above this are not read whole for a check.
constexpr std::uint64_t kMaxCheckBytes = 256ull << 20;

// The clusters from a deleted file's first one that its plain walk takes.
struct Claim {
    std::uint32_t first = 0;
    std::uint32_t last = 0;  // inclusive
};

class Planner {
public:
    Planner(const ClusterView& view, std::vector<Claim> claims) : v_(view), claims_(std::move(claims)) {
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

    // From `first` on, the free clusters; the run another deleted file claims is
    // skipped unless bit k of `keep` says to take the k-th claim met.
    ClusterList walk(std::uint32_t first, std::uint64_t count, unsigned keep, int& claimsMet) const {
        ClusterList out;
        std::vector<std::uint32_t> taken;  // claims whose clusters are taken after all
        claimsMet = 0;
        for (std::uint32_t c = first; v_.valid(c) && out.size() < count; ++c) {
            if (v_.inUse(c)) continue;
            if (c != first) {
                if (const Claim* claim = claimAt(c, first);
                    claim && std::find(taken.begin(), taken.end(), claim->first) == taken.end()) {
                    const bool skip = claimsMet >= kClaimChoices || (keep & (1u << claimsMet)) == 0;
                    ++claimsMet;
                    if (skip) {
                        c = claim->last;  // the loop steps past it
                        continue;
                    }
                    taken.push_back(claim->first);
                }
            }
            out.push_back(c);
        }
        return out;
    }

private:
    // A run of another file (one starting elsewhere than `own`) that holds `c`.
    const Claim* claimAt(std::uint32_t c, std::uint32_t own) const {
        auto it = std::upper_bound(claims_.begin(), claims_.end(), c,
                                   [](std::uint32_t x, const Claim& k) { return x < k.first; });
        // Overlapping claims are rare: a few steps back find any that holds c.
        for (int steps = 0; it != claims_.begin() && steps < 16; ++steps) {
            --it;
            if (it->first != own && it->first <= c && c <= it->last) return &*it;
        }
        return nullptr;
    }

    const ClusterView& v_;
    std::vector<Claim> claims_;
};

bool consecutive(const ClusterList& list) {
    for (std::size_t i = 1; i < list.size(); ++i)
        if (list[i] != list[i - 1] + 1) return false;
    return true;
}

bool plannable(const ClusterView& v, const UndeleteEntry& e) {
    return e.isDeleted() && !e.isFolder() && !e.ResidentData && e.Size > 0 && v.valid(e.FirstCluster) &&
           !v.inUse(e.FirstCluster);
}

}  // namespace

std::vector<std::uint8_t> ReadClusterList(const ClusterView& view, const ClusterList& clusters, std::uint64_t size) {
    std::vector<std::uint8_t> out;
    platform::RawFile file;
    const std::uint64_t bpc = view.bytesPerCluster;
    if (bpc == 0 || !file.open(view.drive, platform::RawFile::Mode::Read)) return out;
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(size, clusters.size() * bpc)));
    for (std::uint32_t c : clusters) {
        if (out.size() >= size) break;
        const std::size_t at = out.size();
        out.resize(at + bpc);
        if (file.readAt(view.offset(c), out.data() + at, bpc) != bpc) {
            out.resize(at);
            break;
        }
    }
    if (out.size() > size) out.resize(static_cast<std::size_t>(size));
    return out;
}

bool WriteClusterList(const ClusterView& view, const ClusterList& clusters, std::uint64_t size,
                      const std::filesystem::path& target) {
    platform::RawFile file;
    const std::uint64_t bpc = view.bytesPerCluster;
    if (bpc == 0 || !file.open(view.drive, platform::RawFile::Mode::Read)) return false;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    std::vector<std::uint8_t> buf(bpc);
    std::uint64_t left = size;
    for (std::uint32_t c : clusters) {
        if (left == 0) break;
        if (file.readAt(view.offset(c), buf.data(), bpc) != bpc) return false;
        const std::uint64_t n = std::min<std::uint64_t>(left, bpc);
        out.write(reinterpret_cast<const char*>(buf.data()), static_cast<std::streamsize>(n));
        left -= n;
    }
    out.close();
    return out.good();
}

std::map<std::size_t, ClusterList> PlanDeletedFiles(const ClusterView& view, std::vector<UndeleteEntry>& entries,
                                                    const std::function<bool(const UndeleteEntry&)>& contiguous) {
    std::map<std::size_t, ClusterList> plans;
    if (view.bytesPerCluster == 0) return plans;
    for (auto& e : entries) e.Attributes &= ~(kAttrRebuilt | kAttrConfirmed | kAttrPartial);

    // Every deleted file claims the run its plain walk takes; files that start
    // at the same cluster cannot all be what lies there.
    std::vector<std::size_t> planned;
    std::map<std::uint32_t, int> starts;
    std::vector<Claim> claims;
    {
        const Planner plain(view, {});
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!plannable(view, entries[i])) continue;
            planned.push_back(i);
            ++starts[entries[i].FirstCluster];
            int met = 0;
            const ClusterList run = plain.walk(entries[i].FirstCluster, plain.need(entries[i].Size), 0, met);
            if (!run.empty()) claims.push_back({run.front(), run.back()});
        }
    }
    // A file whose plain run reaches past another one's start was written in
    // pieces around it; its later pieces may lie in the runs of the files after
    // it, so those are not taken on trust either.
    std::vector<Claim> shadows;
    {
        auto sorted = claims;
        std::sort(sorted.begin(), sorted.end(), [](const Claim& a, const Claim& b) { return a.first < b.first; });
        for (std::size_t k = 0; k + 1 < sorted.size(); ++k)
            if (sorted[k].last >= sorted[k + 1].first && sorted[k].first != sorted[k + 1].first)
                shadows.push_back({sorted[k + 1].first, sorted[k].last});
    }
    auto inShadow = [&shadows](std::uint32_t first) {
        return std::any_of(shadows.begin(), shadows.end(),
                           [first](const Claim& s) { return s.first <= first && first <= s.last; });
    };
    const Planner planner(view, std::move(claims));

    for (std::size_t i : planned) {
        UndeleteEntry& e = entries[i];
        const std::uint64_t need = planner.need(e.Size);
        ClusterList best;
        bool rebuilt = false;
        bool doubtful = starts[e.FirstCluster] > 1 || inShadow(e.FirstCluster);
        int choices = 0;
        if (contiguous && contiguous(e)) {
            // Known to be one run: a cluster of it that is taken was overwritten.
            for (std::uint64_t k = 0; k < need && view.valid(static_cast<std::uint32_t>(e.FirstCluster + k)); ++k) {
                const auto c = static_cast<std::uint32_t>(e.FirstCluster + k);
                if (view.inUse(c)) {
                    doubtful = true;
                    break;
                }
                best.push_back(c);
            }
        } else {
            best = planner.walk(e.FirstCluster, need, 0, choices);
            rebuilt = !consecutive(best);
            doubtful = doubtful || rebuilt;
        }
        bool confirmed = false;
        if (doubtful && e.Size <= kMaxCheckBytes) {
            // The most likely layout first, then the others that the claims met
            // allow. A checksum or a decode confirms a layout; a structure that
            // only says where its parts lie picks the layout but confirms nothing.
            const unsigned layouts = 1u << std::min(choices, kClaimChoices);
            ClusterList laidOut;
            for (unsigned keep = 0; keep < layouts && !confirmed; ++keep) {
                int met = 0;
                ClusterList candidate = keep == 0 ? best : planner.walk(e.FirstCluster, need, keep, met);
                if (candidate.size() < need) continue;
                const auto bytes = ReadClusterList(view, candidate, e.Size);
                if (keep == 0 && !viewing::HasFileStructure(bytes.data(), bytes.size())) break;
                if (bytes.size() != e.Size) continue;
                const viewing::FileStructure found = viewing::ReadFileStructure(bytes.data(), bytes.size());
                if (found.proof == viewing::Proof::Content) {
                    confirmed = true;
                    best = std::move(candidate);
                } else if (found.proof == viewing::Proof::Layout && laidOut.empty()) {
                    laidOut = std::move(candidate);
                }
            }
            if (!confirmed && !laidOut.empty()) best = std::move(laidOut);
            rebuilt = !consecutive(best);
        }
        e.ListSize = std::min<std::uint64_t>(e.Size, best.size() * view.bytesPerCluster);
        if (rebuilt) e.Attributes |= kAttrRebuilt;
        if (confirmed) e.Attributes |= kAttrConfirmed;
        else if (doubtful) e.Attributes |= kAttrPartial;
        plans[i] = std::move(best);
    }
    // Clusters that a confirmed file was shown to hold are no other file's:
    // a file planned over them is partial.
    std::map<std::uint32_t, std::size_t> confirmedOwner;
    for (const auto& [i, list] : plans)
        if (entries[i].Attributes & kAttrConfirmed)
            for (std::uint32_t c : list) confirmedOwner.emplace(c, i);
    for (const auto& [i, list] : plans) {
        UndeleteEntry& e = entries[i];
        if (e.Attributes & kAttrConfirmed) continue;
        for (std::uint32_t c : list) {
            auto owner = confirmedOwner.find(c);
            if (owner != confirmedOwner.end() && owner->second != i) {
                e.Attributes |= kAttrPartial;
                break;
            }
        }
    }
    return plans;
}

}  // namespace hx::undelete
