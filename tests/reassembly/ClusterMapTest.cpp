// A clip's map of clusters kept as runs, against the plain list of units it
// stands for, under the moves the search for pieces makes; and the first
// unit another find claims, against a look at every unit.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "reassembly/ClipSamples.h"
#include "reassembly/ClusterMap.h"

using hx::reassembly::ClusterMap;
using hx::reassembly::pieces::Others;

TEST(ClusterMap, RunsSayWhatAListOfEveryClusterSays) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 200; ++round) {
        const std::uint64_t start = rng() % 1000;
        std::vector<std::uint64_t> list(1 + rng() % 300);
        for (std::size_t i = 0; i < list.size(); ++i) list[i] = start + i;
        ClusterMap map(start, list.size());
        for (int move = 0; move < 30; ++move) {
            const std::uint64_t c = rng() % (list.size() + 3), unit = rng() % 4000;
            switch (rng() % 4) {
            case 0:  // a piece placed, sometimes just where the one before runs on to
            case 1: {
                if (c >= list.size()) break;
                const std::uint64_t at = c > 0 && rng() % 3 == 0 ? list[c - 1] + 1 : unit;
                map.placeFrom(c, at);
                for (std::size_t i = c; i < list.size(); ++i) list[i] = at + (i - c);
                break;
            }
            case 2: {  // cut or grown, as trailing boxes and a trailer are looked for
                const std::size_t n = 1 + rng() % 400;
                while (list.size() < n) list.push_back(list.back() + 1);
                list.resize(n);
                map.resize(n);
                break;
            }
            default: {  // a search tries a piece and puts the map back
                const ClusterMap saved = map;
                if (c < list.size()) map.placeFrom(c, unit);
                map = saved;
            }
            }
            ASSERT_EQ(map.size(), list.size());
            for (std::size_t i = 0; i < list.size(); ++i) {
                ASSERT_EQ(map[i], list[i]) << "round " << round << " cluster " << i;
                // A run ends where the list next breaks: a whole piece is read at once.
                std::size_t end = i + 1;
                while (end < list.size() && list[end] == list[end - 1] + 1) ++end;
                ASSERT_EQ(map.runEnd(i), end) << "round " << round << " cluster " << i;
            }
            // Each run starts where the list breaks, and nowhere else.
            std::size_t breaks = 1;
            for (std::size_t i = 1; i < list.size(); ++i) breaks += list[i] != list[i - 1] + 1;
            ASSERT_EQ(map.runs().size(), breaks);
        }
    }
}

TEST(ClusterMap, FirstUnitAnotherFindClaimsIsTheFirstOneItHoldsOrStartsAt) {
    std::mt19937_64 rng(11);
    for (int round = 0; round < 300; ++round) {
        Others others;
        for (int k = rng() % 12; k > 0; --k) {
            const std::uint64_t s = rng() % 500;
            others.held.emplace_back(s, s + rng() % 40);  // some empty, some overlapping
            if (rng() % 2) others.starts.push_back(rng() % 500);
        }
        std::sort(others.held.begin(), others.held.end());
        std::sort(others.starts.begin(), others.starts.end());
        if (!others.held.empty() && rng() % 3 == 0) others.own = others.held[rng() % others.held.size()].first;
        const std::uint64_t lo = rng() % 500, hi = lo + rng() % 200;
        std::uint64_t first = hi;
        for (std::uint64_t u = lo; u < hi && first == hi; ++u)
            if (others.holds(u) || others.starts_at(u)) first = u;
        ASSERT_EQ(others.firstClaimed(lo, hi), first) << "round " << round;
    }
}
