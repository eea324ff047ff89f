#pragma once
// Where each cluster of a file in pieces lies on the medium, kept as its
// runs: a piece takes one entry however long it is, so a clip of many GiB
// read in sectors (DeepScan) takes no more room than its pieces do.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace hx::reassembly {

class ClusterMap {
public:
    using Run = std::pair<std::uint64_t, std::uint64_t>;  // its first cluster, the unit that cluster lies at

    ClusterMap() = default;
    // `clusters` clusters in one piece from `startUnit` on.
    ClusterMap(std::uint64_t startUnit, std::uint64_t clusters) : size_(clusters) {
        if (clusters > 0) runs_.emplace_back(0, startUnit);
    }

    std::uint64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // The unit cluster `c` (below size()) lies at.
    std::uint64_t operator[](std::uint64_t c) const {
        const Run& run = runOf(c);
        return run.second + (c - run.first);
    }
    // The end of the run cluster `c` (below size()) is in: the clusters
    // from `c` up to it lie one after another.
    std::uint64_t runEnd(std::uint64_t c) const {
        runOf(c);
        return hit_ + 1 < runs_.size() ? runs_[hit_ + 1].first : size_;
    }
    // The clusters from `c` on lie from `unit` on, one after another.
    void placeFrom(std::uint64_t c, std::uint64_t unit) {
        if (c >= size_) return;
        if (c == 0) {
            runs_.assign(1, Run{0, unit});
            hit_ = 0;
            return;
        }
        dropFrom(c);
        const Run& last = runs_.back();  // cluster 0 is never dropped
        if (last.second + (c - last.first) != unit) runs_.emplace_back(c, unit);
    }
    // As many clusters as `clusters`: those added run on from the last.
    void resize(std::uint64_t clusters) {
        if (runs_.empty()) return;
        size_ = clusters;
        dropFrom(std::max<std::uint64_t>(clusters, 1));
    }
    // The runs in file order; each runs on to the next one's first cluster
    // (the last to size()).
    const std::vector<Run>& runs() const { return runs_; }

private:
    const Run& runOf(std::uint64_t c) const {
        if (hit_ < runs_.size() && runs_[hit_].first <= c && (hit_ + 1 == runs_.size() || c < runs_[hit_ + 1].first))
            return runs_[hit_];
        auto it = std::upper_bound(runs_.begin(), runs_.end(), c, [](std::uint64_t v, const Run& r) { return v < r.first; });
        hit_ = static_cast<std::size_t>(it - runs_.begin()) - 1;
        return runs_[hit_];
    }
    // Runs that start at `c` or after go (never the first).
    void dropFrom(std::uint64_t c) {
        auto it = std::lower_bound(runs_.begin() + 1, runs_.end(), c, [](const Run& r, std::uint64_t v) { return r.first < v; });
        runs_.erase(it, runs_.end());
        hit_ = 0;
    }

    std::uint64_t size_ = 0;
    std::vector<Run> runs_;
    mutable std::size_t hit_ = 0;  // the run the last look found: reads go on cluster after cluster
};

}  // namespace hx::reassembly
